#pragma once

#include <stdexcept>
#include <string>

namespace tamborix {

// The error of the secure channel. Thrown as an exception; compared by case (and detail).
class SecureError : public std::exception {
public:
    enum class Kind { malformed, authentication, replay, serverKeyChanged, invalidKey };

    static SecureError malformed(std::string detail);
    static SecureError authentication();
    static SecureError replay();
    static SecureError serverKeyChanged();
    static SecureError invalidKey();

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }
    // The user-facing text.
    [[nodiscard]] const std::string& errorDescription() const noexcept { return text_; }
    [[nodiscard]] const char* what() const noexcept override { return text_.c_str(); }

    friend bool operator==(const SecureError& a, const SecureError& b) noexcept {
        return a.kind_ == b.kind_ && (a.kind_ != Kind::malformed || a.detail_ == b.detail_);
    }

private:
    SecureError(Kind kind, std::string detail);
    Kind kind_;
    std::string detail_;
    std::string text_;
};

}  // namespace tamborix
