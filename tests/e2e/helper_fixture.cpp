#include "e2e/helper_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tamborix::testing {

namespace {
using namespace std::chrono_literals;
}

std::vector<nlohmann::json> RemoteResult::messages() const {
    std::vector<nlohmann::json> out;
    for (const auto& l : lines) {
        auto j = nlohmann::json::parse(l, nullptr, false);
        if (j.is_object()) out.push_back(std::move(j));
    }
    return out;
}

std::string HelperRun::helperBinary() { return TAMBORIX_HELPER_BIN; }
std::string HelperRun::remoteBinary() { return TAMBORIX_REMOTE_BIN; }

HelperRun::HelperRun(bool pipeStdin, std::filesystem::path dataHome, std::string binary,
                     std::string systemBus)
    : systemBus_(std::move(systemBus)) {
    start(pipeStdin, std::move(dataHome), std::move(binary));
}

HelperRun::HelperRun(bool pipeStdin, bool dryRun, std::vector<std::string> extraEnvironment)
    : dryRun_(dryRun), extraEnvironment_(std::move(extraEnvironment)) {
    start(pipeStdin, {}, {});
}

HelperRun::HelperRun(bool pipeStdin, bool dryRun, std::vector<std::string> extraEnvironment, bool console,
                     std::filesystem::path dataHome, std::string binary)
    : dryRun_(dryRun), console_(console), extraEnvironment_(std::move(extraEnvironment)) {
    start(pipeStdin, std::move(dataHome), std::move(binary));
}

void HelperRun::start(bool pipeStdin, std::filesystem::path dataHome, std::string binary) {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("tamborix-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    for (const char* sub : {"home", "config", "data", "remote-config", "runtime"}) {
        std::filesystem::create_directories(dir_ / sub);
    }
    dataHome_ = dataHome.empty() ? dir_ / "data" : std::move(dataHome);
    std::filesystem::create_directories(dataHome_);
    binary_ = binary.empty() ? helperBinary() : binary;
    helper_ = std::make_unique<ChildProcess>(binary_, arguments(), environment(false), pipeStdin);
    const auto line = helper_->waitForPrefix("Network \u2014 On (port ", 15s);
    if (!line) throw std::runtime_error("the helper did not start listening:\n" + helper_->transcript());
    port_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->find("port ") + 5)));
}

std::vector<std::string> HelperRun::arguments() const {
    return console_ ? std::vector<std::string>{"--console", "--port", "0"} : std::vector<std::string>{"--port", "0"};
}

std::unique_ptr<ChildProcess> HelperRun::startAgain() const {
    return std::make_unique<ChildProcess>(binary_, arguments(), environment(false), false);
}

HelperRun::~HelperRun() {
    helper_->signal(SIGTERM);
    helper_->wait(5s);
    helper_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::string> HelperRun::environment(bool forRemote) const {
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin",
        "HOME=" + (dir_ / "home").string(),
        "XDG_CONFIG_HOME=" + (dir_ / (forRemote ? "remote-config" : "config")).string(),
        "XDG_DATA_HOME=" + dataHome_.string(),
        "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
        // No bus of the machine is ever reached: the system bus is the test's private one or none.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-session-bus").string(),
        "DBUS_SYSTEM_BUS_ADDRESS=" +
            (systemBus_.empty() || forRemote ? "unix:path=" + (dir_ / "no-system-bus").string() : systemBus_),
    };
    if (dryRun_) {
        env.push_back("VELMORAND_DRY_RUN=1");
        env.push_back("VELMORAND_DRY_RUN_LOG=" + dryRunLog().string());
    }
    if (!forRemote) {
        // An extra variable replaces the fixture's own of that name (a shared XDG_CONFIG_HOME).
        for (const auto& extra : extraEnvironment_) {
            const auto name = extra.substr(0, extra.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
            env.push_back(extra);
        }
    }
    for (const char* pass : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* v = std::getenv(pass)) env.push_back(std::string(pass) + "=" + v);
    }
    return env;
}

std::vector<std::string> HelperRun::dryRunLines() const {
    std::vector<std::string> out;
    std::ifstream in(dryRunLog());
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string HelperRun::openPairing() {
    helper_->write("pair\n");
    const auto line = helper_->waitForPrefix("Pairing code: ");
    if (!line) throw std::runtime_error("no pairing code:\n" + helper_->transcript());
    return line->substr(std::string("Pairing code: ").size());
}

RemoteResult HelperRun::pair(const std::string& answer, const std::string& name, const std::string& to,
                             std::chrono::milliseconds timeout) {
    const auto code = openPairing();
    auto remote = startRemote({"pair", to.empty() ? address() : to, code, "--name", name});
    if (!helper_->waitForLine([](const std::string& l) { return l.ends_with("[y/N]"); }, timeout)) {
        throw std::runtime_error("no prompt:\n" + helper_->transcript() + remote->transcript());
    }
    helper_->write(answer + "\n");
    RemoteResult r;
    r.exitCode = remote->wait(timeout).value_or(-1);
    r.lines = remote->lines();
    r.err = remote->errText();
    return r;
}

std::unique_ptr<ChildProcess> HelperRun::startRemote(const std::vector<std::string>& args, bool pipeStdin) const {
    return std::make_unique<ChildProcess>(remoteBinary(), args, environment(true), pipeStdin);
}

RemoteResult HelperRun::runRemote(const std::vector<std::string>& args, std::chrono::milliseconds timeout) const {
    auto remote = startRemote(args);
    RemoteResult r;
    r.exitCode = remote->wait(timeout).value_or(-1);
    r.lines = remote->lines();
    r.err = remote->errText();
    return r;
}

std::vector<std::string> HelperRun::console(const std::string& command, const std::string& expectPrefix) {
    const auto before = helper_->lines().size();
    helper_->write(command + "\n");
    helper_->waitForPrefix(expectPrefix);
    const auto& all = helper_->lines();
    return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
}

RawClient::RawClient(std::uint16_t port, const std::string& from) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        throw std::runtime_error("cannot bind to " + from);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        throw std::runtime_error("cannot connect");
    }
}

RawClient::~RawClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawClient::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> RawClient::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
            auto line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char buf[16384];
        const auto n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return std::nullopt;
        buffer_.append(buf, static_cast<std::size_t>(n));
    }
}

bool RawClient::closedWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[16384];
        const auto n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return true;
        buffer_.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace tamborix::testing
