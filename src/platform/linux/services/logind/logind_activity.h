#pragma once
// Keeps the session from going idle while a phone is in control: a systemd-logind "idle"
// inhibitor lock. Where logind cannot be reached the handles hold nothing (bookkeeping only).

#include <memory>
#include <string>
#include <string_view>

#include "ports/activity_assertion.h"

namespace tamborix {

class LogindActivity final : public ActivityAssertion {
public:
    LogindActivity();
    ~LogindActivity() override;

    // Never blocks: the inhibitor is asked for and, when logind answers, held by the handle until
    // the handle goes. A refusal leaves the handle empty.
    [[nodiscard]] std::unique_ptr<ActivityHandle> begin(std::string_view reason) override;

    // Whether the system bus was reachable at construction.
    [[nodiscard]] bool available() const noexcept { return available_; }
    [[nodiscard]] const std::string& lastError() const noexcept { return *lastError_; }

private:
    bool available_ = false;
    std::shared_ptr<std::string> lastError_ = std::make_shared<std::string>();
};

}  // namespace tamborix
