#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tamborix {

// A command that is not allowed or not well formed, or that this session cannot serve (then with
// the reason). Never reaches the phone: the session goes on and the menu tells of the rejection.
struct CommandRejected : std::exception {
    CommandRejected() = default;
    explicit CommandRejected(std::string reason) : reason_(std::move(reason)) {}
    const char* what() const noexcept override {
        return reason_.empty() ? "rejected command" : reason_.c_str();
    }
    // Empty for a command that was not well formed.
    [[nodiscard]] const std::string& reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

}  // namespace tamborix
