#include "app/pairing_progress.h"

#include "app/translate.h"
#include "store/device_store.h"

namespace tamborix {

std::uint64_t PairingProgress::opened() {
    state_ = State{Stage::open, state_.generation + 1, {}, {}};
    expires_ = store_.pairExpires();
    return state_.generation;
}

void PairingProgress::approvalAsked(const std::string& name) {
    // A proof is only ever checked against the open code, so the question is about this opening.
    state_.stage = Stage::awaiting;
    state_.name = name;
}

void PairingProgress::answered(Approval answer, bool stored, const std::string& detail) {
    if (state_.stage != Stage::awaiting) return;
    switch (answer) {
        case Approval::allowed:
            state_.stage = stored ? Stage::paired : Stage::notStored;
            state_.detail = stored ? std::string() : detail;
            break;
        case Approval::denied: state_.stage = Stage::denied; break;
        case Approval::unanswered: state_.stage = Stage::unanswered; break;
    }
}

void PairingProgress::closed() {
    if (state_.stage == Stage::open) state_.stage = Stage::closed;
}

PairingProgress::State PairingProgress::state() const {
    State s = state_;
    if (s.stage != Stage::open) return s;
    // The store closes a code by itself: by time (noticed when next asked), or after the wrong
    // proofs.
    const bool late = expires_ && loop_.now() > *expires_;
    if (store_.pairCode() && !late) return s;
    if (late) {
        s.stage = Stage::expired;
    } else if (store_.pairAttempts() >= DeviceStore::maxPairAttempts) {
        s.stage = Stage::wrongCodes;
    } else {
        s.stage = Stage::closed;
    }
    return s;
}

std::string pairingClosedText() { return translate("PairingProgress", "Pairing is closed."); }

std::string pairingOutcomeText(const PairingProgress::State& state) {
    const auto& name = state.name;
    const auto say = [&](const std::string& text) { return fillIn(text, {name}); };
    switch (state.stage) {
        case PairingProgress::Stage::awaiting:
            return say(translate("PairingProgress", "\u201C%1\u201D entered the code. Allow or deny it in the approval prompt."));
        case PairingProgress::Stage::paired: return say(translate("PairingProgress", "Paired %1"));
        case PairingProgress::Stage::denied: return say(translate("PairingProgress", "You denied \u201C%1\u201D. It was not paired."));
        case PairingProgress::Stage::unanswered:
            return say(translate("PairingProgress", "No answer within 60 seconds, so \u201C%1\u201D was not paired."));
        case PairingProgress::Stage::notStored:
            return fillIn(translate("PairingProgress", "Could not pair %1: %2"),
                          {name, state.detail.empty() ? translate("PairingProgress", "the device could not be saved")
                                                      : localise(state.detail)});
        case PairingProgress::Stage::wrongCodes:
            return translate("PairingProgress", "Three wrong codes were entered, so pairing was closed.");
        case PairingProgress::Stage::expired:
            return translate("PairingProgress", "The code expired before a phone used it.");
        case PairingProgress::Stage::none:
        case PairingProgress::Stage::open:
        case PairingProgress::Stage::closed: break;
    }
    return pairingClosedText();
}

}  // namespace tamborix
