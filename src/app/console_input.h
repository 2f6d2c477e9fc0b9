#pragma once
// What reaches the console from outside: bytes of standard input cut into lines of bounded size,
// and the knocks of later starts of the helper, coalesced into a few lines.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "ports/main_loop.h"

namespace tamborix {

class ConsoleLineCutter {
public:
    // No command is near this long; a longer line is dropped as it arrives, never held whole.
    static constexpr std::size_t maxLine = 4096;
    using OnLine = std::function<void(std::string_view line)>;
    using OnTooLong = std::function<void()>;

    ConsoleLineCutter(OnLine onLine, OnTooLong onTooLong)
        : onLine_(std::move(onLine)), onTooLong_(std::move(onTooLong)) {}

    void feed(std::string_view bytes);
    // End of input: a last line without its line end still counts.
    void finish();

private:
    void endLine();

    OnLine onLine_;
    OnTooLong onTooLong_;
    std::string pending_;
    bool overflowed_ = false;  // the current line went past maxLine: dropped up to its end
};

// Every later start of the helper knocks; a loop of starts must not become a flood of lines. The
// first knock is told at once, later ones at most once per quietPeriod, with their number.
class KnockNotices {
public:
    static constexpr Duration quietPeriod = std::chrono::seconds(10);
    // `count` = 1 for the first knock of a burst, else how many came since the last notice.
    using Notify = std::function<void(std::size_t count, bool first)>;

    KnockNotices(MainLoop& loop, Notify notify) : loop_(loop), notify_(std::move(notify)) {}

    void knocked(std::size_t count);

private:
    void quietEnded();

    MainLoop& loop_;
    Notify notify_;
    std::size_t untold_ = 0;
    Timer quiet_;
};

// The text of a knock notice.
[[nodiscard]] std::string knockNoticeText(std::size_t count, bool first);

// Text from outside made safe to print on a terminal: control bytes as \xNN (or \t, \n...),
// ill-formed UTF-8 bytes as \xNN, backslashes doubled.
[[nodiscard]] std::string escapeForConsole(std::string_view text);

}  // namespace tamborix
