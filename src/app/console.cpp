#include "app/console.h"

#include <algorithm>
#include <cctype>

#include "app/console_input.h"
#include "app/pairing_link.h"
#include "app/pairing_progress.h"
#include "app/qr_text.h"
#include "app/translate.h"

namespace tamborix {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        const std::size_t start = i;
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> helpLines() {
    // The command words stay English in every language: they are what the user types.
    const auto entry = [](const char* command, const std::string& what) {
        std::string line = "  " + std::string(command);
        line.resize(30, ' ');
        return line + what;
    };
    return {
        translate("Console", "Commands:"),
        entry("pair", translate("Console", "open a pairing code (valid 120 s) and show its link and QR code")),
        entry("pair cancel", translate("Console", "close the open pairing code")),
        entry("devices", translate("Console", "list paired devices: id scope screen name")),
        entry("scope ID full|presenter", translate("Console", "change what a device may do")),
        entry("screen ID reset", translate("Console", "ask again before the device may see the screen")),
        entry("revoke ID", translate("Console", "forget a device and end its sessions")),
        entry("status", translate("Console", "transports, discovery, connections, statistics, last event")),
        entry("network on|off", translate("Console", "start or stop listening (remembered across restarts)")),
        entry("bluetooth on|off", translate("Console", "allow or stop Bluetooth connections (remembered)")),
        entry("share on|off", translate("Console", "tell connected phones the name of the front application")),
        entry("login on|off", translate("Console", "start the helper when you log in")),
        entry("quit", translate("Console", "stop the helper")),
    };
}

}  // namespace

std::vector<std::string> consoleHelpLines() { return helpLines(); }

std::string pairingExpiryText(Duration left) {
    const auto whole = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::seconds>(left).count());
    const auto secs = whole % 60;
    return fillIn(translate("Console", "Expires in %1 \u00B7 works once"),
                  {std::to_string(whole / 60) + ":" + (secs < 10 ? "0" : "") + std::to_string(secs)});
}

std::string thisComputerLine(const std::string& fingerprint) {
    return fillIn(translate("Console", "This computer: %1"), {fingerprint});
}

bool isYes(std::string_view answer) {
    const auto a = lower(trim(answer));
    return a == "y" || a == "yes";
}

Console::Console(MainLoop& loop, ConsoleTarget& target, WriteLine write)
    : loop_(loop), target_(target), write_(std::move(write)) {}

Console::~Console() { life_.end(); }

void Console::print(std::string_view text) {
    for (;;) {
        const auto nl = text.find('\n');
        write_(text.substr(0, nl));
        if (nl == std::string_view::npos) return;
        text.remove_prefix(nl + 1);
    }
}

void Console::inputLine(std::string_view line) {
    if (!prompts_.empty()) {
        answerFront(isYes(line));
        return;
    }
    runCommand(line);
}

void Console::inputClosed() {
    inputOpen_ = false;
    while (!prompts_.empty()) answerFront(false);
}

void Console::askApproval(const std::string& name, const std::string& fingerprint, Answer answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->lines = {
        fillIn(translate("Console", "Allow \u201C%1\u201D to control this computer?"), {name}),
        translate("Console", "It will be able to move the pointer, click and type."),
        fillIn(translate("Console", "Device key: %1"), {fingerprint}),
        translate("Console", "Only allow devices you own and are pairing right now."),
        translate("Console",
                  "Allow this device? The next line you type answers: y allows, anything else denies. [y/N]"),
    };
    prompt->answer = std::move(answer);
    prompt->timed = true;
    enqueue(std::move(prompt));
}

void Console::askScreenApproval(const std::string& name, Answer answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->lines = {
        fillIn(translate("Console", "Allow \u201C%1\u201D to see your screen?"), {name}),
        translate("Console",
                  "It will see whatever is on the monitor it's showing, while Live screen is open on it. "
                  "You can change this later in Tamborix Helper \u2192 Paired devices."),
        translate("Console",
                  "Allow screen viewing? The next line you type answers: y allows, anything else denies. "
                  "[y/N]"),
    };
    prompt->answer = std::move(answer);
    enqueue(std::move(prompt));
}

void Console::enqueue(std::unique_ptr<Prompt> prompt) {
    if (!inputOpen_) {
        // Nobody can answer: refuse, but after the caller has finished asking.
        loop_.post([alive = life_.watch(), answer = std::move(prompt->answer)] {
            if (alive) answer(Approval::denied);
        });
        return;
    }
    prompts_.push_back(std::move(prompt));
    showFront();
}

void Console::showFront() {
    if (prompts_.empty() || prompts_.front()->shown) return;
    Prompt* front = prompts_.front().get();
    front->shown = true;
    for (const auto& l : front->lines) write_(l);
    if (front->timed) {
        front->timeout = loop_.singleShot(seconds(approvalTimeoutSeconds),
                                          [this, alive = life_.watch(), front] {
                                              if (alive) expire(front);
                                          });
    }
}

void Console::answerFront(bool allowed) {
    auto prompt = std::move(prompts_.front());
    prompts_.pop_front();
    prompt->timeout.reset();
    write_(allowed ? translate("Console", "Allowed.") : translate("Console", "Denied."));
    auto answer = std::move(prompt->answer);
    prompt.reset();
    const auto alive = life_.watch();
    answer(allowed ? Approval::allowed : Approval::denied);
    if (alive) showFront();
}

void Console::expire(Prompt* prompt) {
    for (auto it = prompts_.begin(); it != prompts_.end(); ++it) {
        if (it->get() != prompt) continue;
        auto owned = std::move(*it);
        prompts_.erase(it);
        write_(translate("Console", "No answer in 60 seconds: denied."));
        auto answer = std::move(owned->answer);
        owned.reset();
        const auto alive = life_.watch();
        answer(Approval::unanswered);
        if (alive) showFront();
        return;
    }
}

void Console::runCommand(std::string_view line) {
    const auto w = words(line);
    if (w.empty()) return;
    const auto cmd = lower(w[0]);
    const auto usage = [&](std::string_view text) { write_(fillIn(translate("Console", "Usage: %1"), {text})); };
    const auto unknownDevice = [&](std::string_view id) {
        write_(fillIn(translate("Console", "No paired device with id %1 (see devices)"), {escapeForConsole(id)}));
    };
    // The change is in effect, but a restart would undo it: say so instead of "done".
    const auto notSaved = [&](const DeviceChange& change, const std::string& inEffect) {
        write_(fillIn(translate("Console", "Not saved yet: %1"), {change.problem}));
        write_(fillIn(translate("Console", "%1 until the helper stops; saving is tried again until it works."),
                      {inEffect}));
    };

    if (cmd == "help" || cmd == "?") {
        for (const auto& l : helpLines()) write_(l);
    } else if (cmd == "pair") {
        if (w.size() == 2 && lower(w[1]) == "cancel") {
            target_.closePairing();
            write_(pairingClosedText());
            return;
        }
        if (w.size() != 1) return usage("pair [cancel]");
        const auto pairing = target_.openPairing();
        if (pairing.code.empty()) return write_(pairing.refusal);
        write_(fillIn(translate("Console", "Pairing code: %1"), {prettyPairCode(pairing.code)}));
        write_(fillIn(translate("Console", "Pairing link: %1"), {pairing.link}));
        if (const auto modules = qrModules(pairing.link)) {
            for (const auto& l : qrTextLines(*modules)) write_(l);
        } else {
            write_(translate("Console", "(the link does not fit in a QR code; type the code instead)"));
        }
        if (const auto left = target_.pairingTimeLeft()) {
            write_(pairingExpiryText(*left));
        } else {
            write_(pairingClosedText());  // nothing could be opened (see status)
        }
        write_(thisComputerLine(target_.identityFingerprint()));
    } else if (cmd == "devices") {
        if (w.size() != 1) return usage("devices");
        const auto list = target_.devices();
        if (list.empty()) write_(translate("Console", "No paired devices."));
        for (const auto& d : list) write_(d.id + " " + d.scope + " " + d.screen + " " + d.name);
    } else if (cmd == "scope") {
        if (w.size() != 3) return usage("scope ID full|presenter");
        const auto name = lower(w[2]);
        if (name != "full" && name != "presenter") return usage("scope ID full|presenter");
        const auto scope = name == "full" ? PairedDevice::Scope::full : PairedDevice::Scope::presenter;
        const std::string id(w[1]);
        const auto change = target_.setScope(id, scope);
        if (change.status == DeviceChange::Status::unknownDevice) return unknownDevice(id);
        if (change.status == DeviceChange::Status::notSaved)
            return notSaved(change, fillIn(translate("Console", "The scope of %1 is %2"), {id, name}));
        write_(fillIn(translate("Console", "Scope of %1: %2"), {id, name}));
    } else if (cmd == "screen") {
        if (w.size() != 3 || lower(w[2]) != "reset") return usage("screen ID reset");
        const std::string id(w[1]);
        const auto change = target_.resetScreen(id);
        if (change.status == DeviceChange::Status::unknownDevice) return unknownDevice(id);
        if (change.status == DeviceChange::Status::notSaved)
            return notSaved(change, fillIn(translate("Console", "Screen viewing of %1 is undecided"), {id}));
        write_(fillIn(translate("Console", "Screen viewing of %1: undecided"), {id}));
    } else if (cmd == "revoke") {
        if (w.size() != 2) return usage("revoke ID");
        const std::string id(w[1]);
        const auto change = target_.revoke(id);
        if (change.status == DeviceChange::Status::unknownDevice) return unknownDevice(id);
        if (change.status == DeviceChange::Status::notSaved)
            return notSaved(change, fillIn(translate("Console", "%1 is revoked and its sessions have ended"), {id}));
        write_(fillIn(translate("Console", "Revoked %1"), {id}));
    } else if (cmd == "status") {
        for (const auto& l : target_.statusLines()) write_(l);
    } else if (cmd == "network" || cmd == "share" || cmd == "bluetooth" || cmd == "login") {
        const auto arg = w.size() == 2 ? lower(w[1]) : std::string();
        if (arg != "on" && arg != "off") return usage(cmd + " on|off");
        const bool on = arg == "on";
        if (cmd == "network") {
            target_.setNetworkOn(on);
        } else if (cmd == "share") {
            target_.setShareFrontApp(on);
            write_(on ? translate("Console", "Front-app sharing: on") : translate("Console", "Front-app sharing: off"));
        } else if (cmd == "bluetooth") {
            // The Bluetooth status line that follows says what the switch did.
            target_.setBluetoothOn(on);
        } else {
            std::string error;
            const bool now = target_.setStartAtLogin(on, error);
            if (!error.empty()) write_(fillIn(translate("Console", "Start at login could not be changed: %1"), {localise(error)}));
            write_(now ? translate("Console", "Start at login: on") : translate("Console", "Start at login: off"));
        }
    } else if (cmd == "quit" || cmd == "exit") {
        target_.quit();
    } else {
        write_(fillIn(translate("Console", "Unknown command: %1 (try help)"), {escapeForConsole(w[0])}));
    }
}

}  // namespace tamborix
