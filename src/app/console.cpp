#include "app/console.h"

#include <algorithm>
#include <cctype>

#include "app/console_input.h"
#include "app/pairing_link.h"
#include "app/qr_text.h"

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

const std::vector<std::string>& helpLines() {
    static const std::vector<std::string> lines = {
        "Commands:",
        "  pair                        open a pairing code (valid 120 s) and show its link and QR code",
        "  pair cancel                 close the open pairing code",
        "  devices                     list paired devices: id scope screen name",
        "  scope ID full|presenter     change what a device may do",
        "  screen ID reset             ask again before the device may see the screen",
        "  revoke ID                   forget a device and end its sessions",
        "  status                      transports, discovery, connections, statistics, last event",
        "  network on|off              start or stop listening (remembered across restarts)",
        "  bluetooth on|off            allow or stop Bluetooth connections (remembered)",
        "  share on|off                tell connected phones the name of the front application",
        "  login on|off                start the helper when you log in",
        "  quit                        stop the helper",
    };
    return lines;
}

}  // namespace

const std::vector<std::string>& consoleHelpLines() { return helpLines(); }

std::string pairingExpiryText(Duration left) {
    const auto whole = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::seconds>(left).count());
    const auto secs = whole % 60;
    return "Expires in " + std::to_string(whole / 60) + ":" + (secs < 10 ? "0" : "") +
           std::to_string(secs) + " \u00B7 works once";
}

std::string thisComputerLine(const std::string& fingerprint) {
    return "This computer: " + fingerprint;
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

void Console::askApproval(const std::string& name, const std::string& fingerprint,
                          std::function<void(bool)> answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->lines = {
        "Allow \u201C" + name + "\u201D to control this computer?",
        "It will be able to move the pointer, click and type.",
        "Device key: " + fingerprint,
        "Only allow devices you own and are pairing right now.",
        "Allow this device? [y/N]",
    };
    prompt->answer = std::move(answer);
    Prompt* raw = prompt.get();
    prompt->timeout = loop_.singleShot(seconds(approvalTimeoutSeconds),
                                       [this, alive = life_.watch(), raw] {
                                           if (alive) expire(raw);
                                       });
    enqueue(std::move(prompt));
}

void Console::askScreenApproval(const std::string& name, std::function<void(bool)> answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->lines = {
        "Allow \u201C" + name + "\u201D to see your screen?",
        "It will see whatever is on the monitor it's showing, while Live screen is open on it. "
        "You can change this later in Tamborix Helper \u2192 Paired devices.",
        "Allow screen viewing? [y/N]",
    };
    prompt->answer = std::move(answer);
    enqueue(std::move(prompt));
}

void Console::enqueue(std::unique_ptr<Prompt> prompt) {
    if (!inputOpen_) {
        // Nobody can answer: refuse, but after the caller has finished asking.
        loop_.post([alive = life_.watch(), answer = std::move(prompt->answer)] {
            if (alive) answer(false);
        });
        return;
    }
    prompts_.push_back(std::move(prompt));
    showFront();
}

void Console::showFront() {
    if (prompts_.empty() || prompts_.front()->shown) return;
    prompts_.front()->shown = true;
    for (const auto& l : prompts_.front()->lines) write_(l);
}

void Console::answerFront(bool allowed) {
    auto prompt = std::move(prompts_.front());
    prompts_.pop_front();
    prompt->timeout.reset();
    write_(allowed ? "Allowed." : "Denied.");
    auto answer = std::move(prompt->answer);
    prompt.reset();
    const auto alive = life_.watch();
    answer(allowed);
    if (alive) showFront();
}

void Console::expire(Prompt* prompt) {
    for (auto it = prompts_.begin(); it != prompts_.end(); ++it) {
        if (it->get() != prompt) continue;
        auto owned = std::move(*it);
        const bool wasShown = owned->shown;
        prompts_.erase(it);
        if (wasShown) write_("No answer in 60 seconds: denied.");
        auto answer = std::move(owned->answer);
        owned.reset();
        const auto alive = life_.watch();
        answer(false);
        if (alive) showFront();
        return;
    }
}

void Console::runCommand(std::string_view line) {
    const auto w = words(line);
    if (w.empty()) return;
    const auto cmd = lower(w[0]);
    const auto usage = [&](std::string_view text) { write_("Usage: " + std::string(text)); };
    const auto unknownDevice = [&](std::string_view id) {
        write_("No paired device with id " + escapeForConsole(id) + " (see devices)");
    };
    // The change is in effect, but a restart would undo it: say so instead of "done".
    const auto notSaved = [&](const DeviceChange& change, const std::string& inEffect) {
        write_("Not saved yet: " + change.problem);
        write_(inEffect + " until the helper stops; saving is tried again until it works.");
    };

    if (cmd == "help" || cmd == "?") {
        for (const auto& l : helpLines()) write_(l);
    } else if (cmd == "pair") {
        if (w.size() == 2 && lower(w[1]) == "cancel") {
            target_.closePairing();
            write_(pairingClosedText);
            return;
        }
        if (w.size() != 1) return usage("pair [cancel]");
        const auto pairing = target_.openPairing();
        if (pairing.code.empty()) return write_(pairing.refusal);
        write_("Pairing code: " + prettyPairCode(pairing.code));
        write_("Pairing link: " + pairing.link);
        if (const auto modules = qrModules(pairing.link)) {
            for (const auto& l : qrTextLines(*modules)) write_(l);
        } else {
            write_("(the link does not fit in a QR code; type the code instead)");
        }
        if (const auto left = target_.pairingTimeLeft()) {
            write_(pairingExpiryText(*left));
        } else {
            write_(pairingClosedText);  // nothing could be opened (see status)
        }
        write_(thisComputerLine(target_.identityFingerprint()));
    } else if (cmd == "devices") {
        if (w.size() != 1) return usage("devices");
        const auto list = target_.devices();
        if (list.empty()) write_("No paired devices.");
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
            return notSaved(change, "The scope of " + id + " is " + name);
        write_("Scope of " + id + ": " + name);
    } else if (cmd == "screen") {
        if (w.size() != 3 || lower(w[2]) != "reset") return usage("screen ID reset");
        const std::string id(w[1]);
        const auto change = target_.resetScreen(id);
        if (change.status == DeviceChange::Status::unknownDevice) return unknownDevice(id);
        if (change.status == DeviceChange::Status::notSaved)
            return notSaved(change, "Screen viewing of " + id + " is undecided");
        write_("Screen viewing of " + id + ": undecided");
    } else if (cmd == "revoke") {
        if (w.size() != 2) return usage("revoke ID");
        const std::string id(w[1]);
        const auto change = target_.revoke(id);
        if (change.status == DeviceChange::Status::unknownDevice) return unknownDevice(id);
        if (change.status == DeviceChange::Status::notSaved)
            return notSaved(change, id + " is revoked and its sessions have ended");
        write_("Revoked " + id);
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
            write_(on ? "Front-app sharing: on" : "Front-app sharing: off");
        } else if (cmd == "bluetooth") {
            target_.setBluetoothOn(on);
            write_(on ? "Bluetooth: on" : "Bluetooth: off");
        } else {
            std::string error;
            const bool now = target_.setStartAtLogin(on, error);
            if (!error.empty()) write_("Start at login could not be changed: " + error);
            write_(now ? "Start at login: on" : "Start at login: off");
        }
    } else if (cmd == "quit" || cmd == "exit") {
        target_.quit();
    } else {
        write_("Unknown command: " + escapeForConsole(w[0]) + " (try help)");
    }
}

}  // namespace tamborix
