#pragma once
// The helper's text interface: one command per input line, one message per output line. While a
// prompt waits, input lines answer the prompt instead.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/approval_prompter.h"
#include "base/liveness.h"
#include "ports/main_loop.h"
#include "store/paired_device.h"

namespace tamborix {

struct ConsoleDevice {
    std::string id;
    std::string scope;   // "full" or "presenter"
    std::string screen;  // "allowed", "denied" or "undecided"
    std::string name;
};

// What became of a change to a paired device.
struct DeviceChange {
    enum class Status {
        unknownDevice,  // no paired device has that id; nothing changed
        saved,          // in effect and on disk
        notSaved,       // in effect until the helper stops; the save is retried until it works
    };
    Status status = Status::unknownDevice;
    std::string problem;  // why it is not on disk yet
};

// What the console's commands act on.
class ConsoleTarget {
public:
    virtual ~ConsoleTarget() = default;
    struct Pairing {
        std::string code;  // 12 characters, no separators; empty when pairing is refused
        std::string link;
        std::string refusal;  // why, when refused
    };
    virtual Pairing openPairing() = 0;
    [[nodiscard]] virtual std::vector<ConsoleDevice> devices() const = 0;
    [[nodiscard]] virtual DeviceChange setScope(const std::string& id, PairedDevice::Scope scope) = 0;
    [[nodiscard]] virtual DeviceChange resetScreen(const std::string& id) = 0;
    // Also ends the device's sessions.
    [[nodiscard]] virtual DeviceChange revoke(const std::string& id) = 0;
    [[nodiscard]] virtual std::vector<std::string> statusLines() const = 0;
    // Closes the open pairing code, if any.
    virtual void closePairing() = 0;
    // Time left on the open pairing code; none while pairing is closed.
    [[nodiscard]] virtual std::optional<Duration> pairingTimeLeft() = 0;
    [[nodiscard]] virtual std::string identityFingerprint() const = 0;
    // The switches (each kept across restarts).
    virtual void setNetworkOn(bool on) = 0;
    virtual void setShareFrontApp(bool on) = 0;
    virtual void setBluetoothOn(bool on) = 0;
    // Returns whether the helper now starts at login; `error` says why a change failed.
    virtual bool setStartAtLogin(bool on, std::string& error) = 0;
    virtual void quit() = 0;
};

// "Expires in 1:59 · works once": the time left in whole seconds, never below zero.
[[nodiscard]] std::string pairingExpiryText(Duration left);
// "This computer: " + fingerprint.
[[nodiscard]] std::string thisComputerLine(const std::string& fingerprint);

class Console final : public ApprovalPrompter {
public:
    using WriteLine = std::function<void(std::string_view)>;
    static constexpr double approvalTimeoutSeconds = 60.0;

    Console(MainLoop& loop, ConsoleTarget& target, WriteLine write);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // One input line, without its line ending.
    void inputLine(std::string_view line);
    // Standard input closed: every waiting and every later prompt answers no.
    void inputClosed();
    [[nodiscard]] bool inputOpen() const noexcept { return inputOpen_; }

    // One output line per line of `text`.
    void print(std::string_view text);

    void askApproval(const std::string& name, const std::string& fingerprint, Answer answer) override;
    void askScreenApproval(const std::string& name, Answer answer) override;

    [[nodiscard]] std::size_t waitingPrompts() const noexcept { return prompts_.size(); }

private:
    struct Prompt {
        std::vector<std::string> lines;
        Answer answer;
        bool timed = false;  // a pairing prompt: refused after approvalTimeoutSeconds on screen
        Timer timeout;
        bool shown = false;
    };

    void runCommand(std::string_view line);
    void enqueue(std::unique_ptr<Prompt> prompt);
    void showFront();
    void answerFront(bool allowed);
    void expire(Prompt* prompt);

    MainLoop& loop_;
    ConsoleTarget& target_;
    WriteLine write_;
    bool inputOpen_ = true;
    std::deque<std::unique_ptr<Prompt>> prompts_;
    Liveness life_;
};

// What the help command prints: a heading, then one "  COMMAND   description" line per command.
[[nodiscard]] std::vector<std::string> consoleHelpLines();

// "y" or "yes" in any case, surrounded by any white space.
[[nodiscard]] bool isYes(std::string_view answer);

}  // namespace tamborix
