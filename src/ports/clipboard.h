#pragma once

#include <optional>
#include <string>

namespace tamborix {

// The desktop's clipboard, plain text only.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // nullopt when the clipboard holds no text.
    [[nodiscard]] virtual std::optional<std::string> text() const = 0;
    // Replaces whatever the clipboard held. false when the clipboard cannot be written.
    virtual bool setText(const std::string& text) = 0;
    // Why the desktop's clipboard cannot be reached from this session; empty when it can. Where
    // it cannot, text() has nothing and setText() refuses: a copy kept inside the helper would
    // make a paste insert whatever the desktop's clipboard held.
    [[nodiscard]] virtual std::string unavailableReason() const { return {}; }
};

}  // namespace tamborix
