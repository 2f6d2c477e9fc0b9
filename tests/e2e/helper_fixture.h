#pragma once
// One real tamborix-helper in dry run, console mode, on an ephemeral loopback port, with its own
// HOME and XDG folders; and tamborix-remote runs against it with their own configuration folder.

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace tamborix::testing {

struct RemoteResult {
    int exitCode = -1;
    std::vector<std::string> lines;  // standard output
    std::string err;
    [[nodiscard]] std::vector<nlohmann::json> messages() const;
};

class HelperRun {
public:
    // Starts the helper and waits until it listens. `pipeStdin` false gives it /dev/null.
    // `dataHome`: its XDG_DATA_HOME (where the device store lives), else a folder of its own;
    // `binary`: another build of the helper, else this one; `systemBus`: the private bus it
    // takes for the system bus (none when empty).
    explicit HelperRun(bool pipeStdin = true, std::filesystem::path dataHome = {},
                       std::string binary = {}, std::string systemBus = {});
    // Outside dry run (when `dryRun` is false), with `extraEnvironment` ("DISPLAY=:5", …) added
    // to the helper's own (replacing a variable of the same name).
    HelperRun(bool pipeStdin, bool dryRun, std::vector<std::string> extraEnvironment);
    // The same with the device store in `dataHome`; with `console` false the helper runs as the
    // tray application (it still prints its log; a prompt then needs its dialog); `binary` as above.
    HelperRun(bool pipeStdin, bool dryRun, std::vector<std::string> extraEnvironment, bool console,
              std::filesystem::path dataHome, std::string binary = {});
    ~HelperRun();

    [[nodiscard]] ChildProcess& helper() { return *helper_; }
    [[nodiscard]] std::uint16_t port() const noexcept { return port_; }
    [[nodiscard]] std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    [[nodiscard]] const std::filesystem::path& dir() const noexcept { return dir_; }
    [[nodiscard]] std::filesystem::path dryRunLog() const { return dir_ / "dry-run.log"; }
    // Where tamborix-remote keeps its device keys for this run.
    [[nodiscard]] std::filesystem::path remoteConfig() const { return dir_ / "remote-config"; }
    [[nodiscard]] std::vector<std::string> dryRunLines() const;

    // Opens a code on the console; returns it as printed (with dashes).
    std::string openPairing();
    // Pairs tamborix-remote through the console, answering the prompt with `answer`.
    // `address`: where the remote connects (the helper's TCP port when empty).
    RemoteResult pair(const std::string& answer = "y", const std::string& name = "e2e phone",
                      const std::string& address = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Another start of the helper as this user: the same folders, environment and arguments.
    [[nodiscard]] std::unique_ptr<ChildProcess> startAgain() const;

    [[nodiscard]] std::unique_ptr<ChildProcess> startRemote(const std::vector<std::string>& args,
                                                            bool pipeStdin = false) const;
    RemoteResult runRemote(const std::vector<std::string>& args,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    // Runs a console command and returns the lines printed until `lastPrefix` appears.
    std::vector<std::string> console(const std::string& command, const std::string& expectPrefix);

    [[nodiscard]] static std::string helperBinary();
    [[nodiscard]] static std::string remoteBinary();

private:
    [[nodiscard]] std::vector<std::string> environment(bool forRemote) const;
    [[nodiscard]] std::vector<std::string> arguments() const;

    void start(bool pipeStdin, std::filesystem::path dataHome, std::string binary);

    bool dryRun_ = true;
    bool console_ = true;
    std::vector<std::string> extraEnvironment_;
    std::filesystem::path dir_;
    std::string systemBus_;
    std::string binary_;
    std::filesystem::path dataHome_;
    std::unique_ptr<ChildProcess> helper_;
    std::uint16_t port_ = 0;
};

// Raw TCP on loopback for the transport's own limits. Connects from `from` when given.
class RawClient {
public:
    RawClient(std::uint16_t port, const std::string& from = "127.0.0.1");
    ~RawClient();
    bool send(const std::string& bytes);
    // One line without LF, or nullopt when the connection ended or nothing came in time.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whether the helper closed the connection (EOF or reset) before the deadline.
    bool closedWithin(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
    std::string buffer_;
};

}  // namespace tamborix::testing
