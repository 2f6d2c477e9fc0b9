#include "app/console_input.h"

#include <cstdio>
#include <utility>

#include "base/utf8.h"

namespace tamborix {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`; 0 if there is none.
std::size_t utf8Length(std::string_view s) {
    char32_t c = 0;
    const std::size_t n = decodeUtf8(s, c);
    // C1 controls are as dangerous on a terminal as their 7-bit forms.
    if (c >= 0x80 && c <= 0x9F) return 0;
    return n;
}

void appendHex(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
}

}  // namespace

void ConsoleLineCutter::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto nl = bytes.find('\n');
        const auto part = bytes.substr(0, nl);
        if (!overflowed_) {
            if (pending_.size() + part.size() > maxLine) {
                overflowed_ = true;
                pending_.clear();
                pending_.shrink_to_fit();
            } else {
                pending_.append(part);
            }
        }
        if (nl == std::string_view::npos) return;
        bytes.remove_prefix(nl + 1);
        endLine();
    }
}

void ConsoleLineCutter::finish() {
    if (overflowed_ || !pending_.empty()) endLine();
}

void ConsoleLineCutter::endLine() {
    if (overflowed_) {
        overflowed_ = false;
        if (onTooLong_) onTooLong_();
        return;
    }
    std::string line = std::move(pending_);
    pending_.clear();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    onLine_(line);
}

void KnockNotices::knocked(std::size_t count) {
    if (count == 0) return;
    if (!quiet_) {
        notify_(1, true);
        untold_ += count - 1;
        quiet_ = loop_.singleShot(quietPeriod, [this] { quietEnded(); });
        return;
    }
    untold_ += count;
}

void KnockNotices::quietEnded() {
    quiet_.reset();
    if (untold_ == 0) return;
    const auto count = std::exchange(untold_, 0);
    notify_(count, false);
    // Still knocking: stay in the quiet period.
    quiet_ = loop_.singleShot(quietPeriod, [this] { quietEnded(); });
}

std::string knockNoticeText(std::size_t count, bool first) {
    if (first) return "Started again: this helper keeps running.";
    return "Started again " + std::to_string(count) + (count == 1 ? " more time" : " more times") +
           ": this helper keeps running.";
}

std::string escapeForConsole(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        const auto n = utf8Length(text);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (n == 0 || c < 0x20 || c == 0x7F) {
            appendHex(out, c);
        } else {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
            continue;
        }
        text.remove_prefix(1);
    }
    return out;
}

}  // namespace tamborix
