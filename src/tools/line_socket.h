#pragma once
// A blocking TCP connection that reads and writes LF-terminated lines, for the command-line phone.

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/unique_fd.h"
#include "tools/remote_address.h"

namespace tamborix::remote {

struct ConnectError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class LineSocket {
public:
    // Connects to the address (every resolved address in turn). `from`, when set, is the local
    // address to send from (e.g. another 127.x address, which the helper sees as another peer).
    LineSocket(const Address& to, const std::string& from = {},
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~LineSocket();
    LineSocket(const LineSocket&) = delete;
    LineSocket& operator=(const LineSocket&) = delete;

    // Writes everything or throws.
    void write(std::string_view bytes);
    void writeLine(std::string_view line);

    enum class ReadStatus { line, timeout, closed };
    // One line without its LF. `closed` once the helper ended the connection.
    ReadStatus readLine(std::string& out, std::chrono::milliseconds timeout);
    // Whether a complete line is already buffered (so a poll on the socket is not needed).
    [[nodiscard]] bool lineBuffered() const;

    [[nodiscard]] int fd() const noexcept { return fd_.get(); }
    void shutdownWrite();

private:
    UniqueFd fd_;
    std::string buffer_;
    bool eof_ = false;
};

}  // namespace tamborix::remote
