#pragma once
// A probe window on the test's sway, and reading what reached it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/sway_server.h"

namespace tamborix::testing {

class Probe {
public:
    Probe(const SwayServer& sway, const std::string& appId)
        : window_(TAMBORIX_PROBE_WINDOW, {appId}, sway.clientEnv(), false) {
        ready_ = window_.waitForPrefix("ready ");
    }
    [[nodiscard]] const std::optional<std::string>& ready() const { return ready_; }
    ChildProcess& window() { return window_; }

    // The next line starting with `prefix`.
    std::optional<std::string> next(const std::string& prefix) { return window_.waitForPrefix(prefix); }
    // Whether the window has the keyboard focus (it may have come before the window was ready).
    bool focused() {
        for (const auto& l : window_.lines()) {
            if (l == "focus in") return true;
        }
        return saw("focus in");
    }
    // Whether `line` arrives (lines before it are passed over).
    bool saw(const std::string& line) {
        return window_.waitForLine([&](const std::string& l) { return l == line; }).has_value();
    }

    // The text typed into the window, once `length` bytes of UTF-8 arrived (or the deadline).
    std::string typed(std::size_t length) {
        while (text_.size() < length) {
            auto line = window_.waitForLine(
                [](const std::string& l) { return l.rfind("key ", 0) == 0 && l.find(" down ") != std::string::npos; },
                std::chrono::milliseconds(5000));
            if (!line) break;
            // "key CODE down KEYSYM TEXT": the text follows the fourth space.
            std::size_t at = 0;
            for (int i = 0; i < 4 && at != std::string::npos; ++i) at = line->find(' ', at + (i ? 1 : 0));
            if (at != std::string::npos) text_ += line->substr(at + 1);
        }
        return text_;
    }

private:
    ChildProcess window_;
    std::optional<std::string> ready_;
    std::string text_;
};

}  // namespace tamborix::testing
