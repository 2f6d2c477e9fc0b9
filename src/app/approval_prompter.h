#pragma once
// Where the helper asks its user to approve a phone or screen sharing. The console answers from
// standard input; a windowed interface would show dialogs.

#include <functional>
#include <string>

namespace tamborix {

class ApprovalPrompter {
public:
    virtual ~ApprovalPrompter() = default;
    // `answer` is called exactly once, on the main loop: true only when the user allowed. A
    // pairing prompt refuses by itself after 60 seconds.
    virtual void askApproval(const std::string& name, const std::string& fingerprint,
                             std::function<void(bool)> answer) = 0;
    virtual void askScreenApproval(const std::string& name, std::function<void(bool)> answer) = 0;
};

}  // namespace tamborix
