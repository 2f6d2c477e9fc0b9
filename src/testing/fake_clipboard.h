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

    std::optional<std::string> content;
    bool readOnly = false;
    int writes = 0;
};

}  // namespace tamborix::testing
