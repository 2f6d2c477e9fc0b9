#pragma once
// Where the helper asks its user to approve a phone or screen sharing. The console answers from
// standard input; the windowed interface shows dialogs.

#include <functional>
#include <string>

namespace tamborix {

// How a prompt ended: only `allowed` lets the phone in; `unanswered` is a pairing prompt that
// stayed on screen for its whole time limit.
enum class Approval { allowed, denied, unanswered };

class ApprovalPrompter {
public:
    using Answer = std::function<void(Approval)>;
    virtual ~ApprovalPrompter() = default;
    // `answer` is called exactly once, on the main loop. A pairing prompt refuses by itself after
    // it was visible for 60 seconds; its time does not run while it waits behind another prompt.
    virtual void askApproval(const std::string& name, const std::string& fingerprint,
                             Answer answer) = 0;
    virtual void askScreenApproval(const std::string& name, Answer answer) = 0;
};

}  // namespace tamborix
