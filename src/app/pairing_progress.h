#pragma once
// What became of the pairing code that was opened last: still open, waiting for the user's
// answer, paired, refused, or closed by itself. The pairing window shows this, so that a window
// says "Paired" only when its own code paired a phone, whatever else happened meanwhile.

#include <cstdint>
#include <optional>
#include <string>

#include "app/approval_prompter.h"
#include "ports/main_loop.h"

namespace tamborix {

class DeviceStore;

class PairingProgress {
public:
    enum class Stage {
        none,        // no code was opened in this run
        open,        // the code is valid and unused
        awaiting,    // a phone proved the code; the user has not answered yet
        paired,
        denied,      // the user refused
        unanswered,  // the prompt stayed unanswered for its whole time
        notStored,   // allowed, but the device could not be saved
        wrongCodes,  // closed after too many wrong proofs
        expired,     // nobody used the code in time
        closed,      // closed by the user or replaced
    };
    struct State {
        Stage stage = Stage::none;
        std::uint64_t generation = 0;  // which opening this is about
        std::string name;              // the phone, from `awaiting` on
        std::string detail;            // why it was not stored
    };

    PairingProgress(MainLoop& loop, DeviceStore& store) : loop_(loop), store_(store) {}

    // After the store opened a code; returns its generation.
    std::uint64_t opened();
    void approvalAsked(const std::string& name);
    void answered(Approval answer, bool stored, const std::string& detail);
    // The user closed the code before anything happened to it.
    void closed();

    // Decides an open code that the store has closed meanwhile.
    [[nodiscard]] State state() const;

private:
    MainLoop& loop_;
    DeviceStore& store_;
    State state_;
    std::optional<MonoTime> expires_;
};

// One plain sentence for the user about the state (the pairing window's closed state, the
// console's pairing lines). "Pairing is closed." when nothing more specific is known.
[[nodiscard]] std::string pairingOutcomeText(const PairingProgress::State& state);
// "Pairing is closed." in the user's language.
[[nodiscard]] std::string pairingClosedText();

}  // namespace tamborix
