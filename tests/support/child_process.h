#pragma once
// A program started by a test with pipes on its standard streams, read with deadlines.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamborix::testing {

class ChildProcess {
public:
    using Ms = std::chrono::milliseconds;

    // `env` replaces the environment entirely ("NAME=value" entries).
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env, bool pipeStdin = true);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write(const std::string& text);
    void closeStdin();

    // Waits until a line of standard output satisfies `match`, looking at lines not yet matched
    // by an earlier wait; returns it, or nullopt at the deadline or when output ended.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& match,
                                           Ms timeout = Ms(10000));
    std::optional<std::string> waitForPrefix(const std::string& prefix, Ms timeout = Ms(10000));

    // The exit status, or nullopt if it still runs at the deadline.
    std::optional<int> wait(Ms timeout = Ms(10000));
    void signal(int sig);

    [[nodiscard]] const std::vector<std::string>& lines() { pump(0); return lines_; }
    [[nodiscard]] const std::string& errText() { pump(0); return err_; }
    [[nodiscard]] pid_t pid() const noexcept { return pid_; }
    // Everything printed so far, for failure messages.
    [[nodiscard]] std::string transcript();

private:
    // Reads what is available, waiting at most `ms` for the first bytes.
    void pump(int ms);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int errFd_ = -1;
    std::string outPartial_;
    std::vector<std::string> lines_;
    std::size_t scanned_ = 0;
    std::string err_;
    std::optional<int> status_;
};

}  // namespace tamborix::testing
