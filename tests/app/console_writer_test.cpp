#include "app/console_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace tamborix::testing {
namespace {

// A reader that stops reading: the writer never waits for it, keeps the newest lines, and says
// exactly how many older ones it let go.
TEST(ConsoleWriterTest, Write_ReaderStopsReading_NeverWaitsAndAccountsForEveryLine) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    constexpr int total = 20000;  // far more than the pipe and the queue together hold
    std::vector<std::string> sent;
    for (int i = 0; i < total; ++i) sent.push_back("Event: line " + std::to_string(i));
    {
        std::optional<ConsoleWriter> writer;
        writer.emplace(fds[1], 4096);
        auto writing = std::async(std::launch::async, [&] {
            for (const auto& line : sent) writer->write(line);
        });
        const bool returned = writing.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        EXPECT_TRUE(returned) << "write() waited for the reader";
        // The reader comes back: everything kept arrives, the destructor waits for it.
        std::string got;
        auto reading = std::async(std::launch::async, [&] {
            char buf[65536];
            for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
        });
        writing.wait();
        writer.reset();
        ::close(fds[1]);
        reading.wait();

        std::vector<std::string> lines;
        for (std::size_t pos = 0, nl; (nl = got.find('\n', pos)) != std::string::npos; pos = nl + 1)
            lines.push_back(got.substr(pos, nl - pos));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), sent.back());
        std::size_t shown = 0;
        std::size_t notShown = 0;
        std::size_t next = 0;  // lines arrive in order, gaps only where a note says so
        for (const auto& line : lines) {
            if (line.starts_with("(")) {
                const auto n = std::stoul(line.substr(1));
                EXPECT_EQ(line, "(" + std::to_string(n) + " earlier lines not shown)");
                notShown += n;
                next += n;
                continue;
            }
            ASSERT_LT(next, sent.size());
            EXPECT_EQ(line, sent[next]);
            ++next;
            ++shown;
        }
        EXPECT_GT(notShown, 0u);
        EXPECT_EQ(shown + notShown, sent.size());
    }
    ::close(fds[0]);
}

}  // namespace
}  // namespace tamborix::testing
