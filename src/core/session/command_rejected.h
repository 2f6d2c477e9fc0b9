#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tamborix {

// A command that is not allowed or not well formed, with why in a few plain words ("n must be 1,
// 2 or 3"). The session goes on; the menu tells of the rejection, the console and a phone that
// asked for them (tamborix-remote) also of the reason.
struct CommandRejected : std::exception {
    CommandRejected() = default;
    explicit CommandRejected(std::string why) : why_(std::move(why)) {}
    const char* what() const noexcept override { return why_.c_str(); }

private:
    std::string why_ = "not well formed";
};

}  // namespace tamborix
