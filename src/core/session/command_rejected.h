#pragma once

#include <exception>

namespace tamborix {

// A command that is not allowed or not well formed. Never reaches the phone: the session goes on
// and the menu tells of the rejection.
struct CommandRejected : std::exception {
    const char* what() const noexcept override { return "rejected command"; }
};

}  // namespace tamborix
