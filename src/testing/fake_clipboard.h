#pragma once

#include <optional>
#include <string>

#include "ports/clipboard.h"

namespace tamborix::testing {

class FakeClipboard final : public Clipboard {
public:
    [[nodiscard]] std::optional<std::string> text() const override { return content; }
    bool setText(const std::string& text) override {
        if (readOnly) return false;
        content = text;
        ++writes;
        return true;
    }

    [[nodiscard]] std::string unavailableReason() const override { return unshared; }

    std::optional<std::string> content;
    bool readOnly = false;
    std::string unshared;  // set: the clipboard the session cannot reach, and why
    int writes = 0;
};

}  // namespace tamborix::testing
