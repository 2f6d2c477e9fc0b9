#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tamborix::testing {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env, bool pipeStdin) {
    int inPipe[2] = {-1, -1};
    int outPipe[2];
    int errPipe[2];
    if ((pipeStdin && ::pipe2(inPipe, O_CLOEXEC) != 0) || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
        ::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argvStore{program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = env;
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (pipeStdin) {
            ::dup2(inPipe[0], STDIN_FILENO);
        } else {
            const int devNull = ::open("/dev/null", O_RDONLY);
            ::dup2(devNull, STDIN_FILENO);
        }
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (pipeStdin) {
        ::close(inPipe[0]);
        in_ = inPipe[1];
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    errFd_ = errPipe[0];
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
    ::fcntl(errFd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (!status_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
    }
    for (int fd : {in_, out_, errFd_}) {
        if (fd >= 0) ::close(fd);
    }
}

void ChildProcess::write(const std::string& text) {
    std::size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
        const auto n = ::write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeStdin() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

void ChildProcess::pump(int ms) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const int nfds = errFd_ >= 0 ? 2 : 1;
    if (out_ < 0 && errFd_ < 0) return;
    if (out_ < 0) fds[0].fd = -1;
    if (::poll(fds, static_cast<nfds_t>(nfds), ms) <= 0) return;
    char buf[65536];
    for (;;) {
        bool any = false;
        if (out_ >= 0) {
            const auto n = ::read(out_, buf, sizeof buf);
            if (n > 0) {
                any = true;
                outPartial_.append(buf, static_cast<std::size_t>(n));
                for (auto nl = outPartial_.find('\n'); nl != std::string::npos; nl = outPartial_.find('\n')) {
                    lines_.push_back(outPartial_.substr(0, nl));
                    outPartial_.erase(0, nl + 1);
                }
            } else if (n == 0) {
                ::close(out_);
                out_ = -1;
            }
        }
        if (errFd_ >= 0) {
            const auto n = ::read(errFd_, buf, sizeof buf);
            if (n > 0) {
                any = true;
                err_.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0) {
                ::close(errFd_);
                errFd_ = -1;
            }
        }
        if (!any) return;
    }
}

std::optional<std::string> ChildProcess::waitForLine(const std::function<bool(const std::string&)>& match,
                                                     Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        for (; scanned_ < lines_.size(); ++scanned_) {
            if (match(lines_[scanned_])) return lines_[scanned_++];
        }
        if (out_ < 0 || remainingMs(deadline) == 0) return std::nullopt;
        pump(std::min(remainingMs(deadline), 100));
    }
}

std::optional<std::string> ChildProcess::waitForPrefix(const std::string& prefix, Ms timeout) {
    return waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeout);
}

std::optional<int> ChildProcess::wait(Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!status_) {
        int st = 0;
        const pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
        if (remainingMs(deadline) == 0) return std::nullopt;
        pump(std::min(remainingMs(deadline), 20));
    }
    // Collect whatever is still in the pipes.
    while (out_ >= 0 || errFd_ >= 0) {
        const auto before = lines_.size() + err_.size();
        pump(50);
        if (lines_.size() + err_.size() == before) break;
    }
    return status_;
}

void ChildProcess::signal(int sig) {
    if (!status_) ::kill(pid_, sig);
}

std::string ChildProcess::transcript() {
    pump(0);
    std::string t = "--- stdout\n";
    for (const auto& l : lines_) t += l + "\n";
    t += outPartial_ + "\n--- stderr\n" + err_;
    return t;
}

}  // namespace tamborix::testing
