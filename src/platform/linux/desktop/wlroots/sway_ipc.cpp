#include "platform/linux/desktop/wlroots/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "base/user_text.h"

namespace tamborix::wlroots {

namespace {

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t headerSize = sizeof magic + 8;
// Sway answers at once; a socket that does not must not hold the main loop.
constexpr int replyMs = 1000;
// Larger replies than this are not read (a tree of thousands of windows is far smaller).
constexpr std::uint32_t maxReply = 16 * 1024 * 1024;

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, char* data, std::size_t size, std::chrono::steady_clock::time_point deadline) {
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The focused window of the tree: a container with an application in it.
const nlohmann::json* focusedWindow(const nlohmann::json& node) {
    if (node.value("focused", false)) {
        const std::string type = node.value("type", std::string());
        return type == "con" || type == "floating_con" ? &node : nullptr;
    }
    for (const char* kids : {"nodes", "floating_nodes"}) {
        if (!node.contains(kids) || !node[kids].is_array()) continue;
        for (const auto& child : node[kids]) {
            if (const auto* found = focusedWindow(child)) return found;
        }
    }
    return nullptr;
}

const nlohmann::json* byId(const nlohmann::json& node, std::uint64_t id) {
    if (node.value("id", std::uint64_t(0)) == id) return &node;
    for (const char* kids : {"nodes", "floating_nodes"}) {
        if (!node.contains(kids) || !node[kids].is_array()) continue;
        for (const auto& child : node[kids]) {
            if (const auto* found = byId(child, id)) return found;
        }
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<SwayIpc> SwayIpc::connect(std::string path, std::string& why) {
    if (path.empty()) {
        const char* sock = std::getenv("SWAYSOCK");
        if (!sock || !*sock) {
            why = userText("Wlroots", "no sway IPC socket (SWAYSOCK is not set)").str();
            return nullptr;
        }
        path = sock;
    }
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        why = userText("Wlroots", "the sway IPC socket's path is too long").str();
        return nullptr;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        why = userText("Wlroots", "sway does not answer on %1 (%2)").with({path, std::strerror(errno)});
        return nullptr;
    }
    return std::unique_ptr<SwayIpc>(new SwayIpc(std::move(fd)));
}

std::optional<std::string> SwayIpc::request(std::uint32_t type, const std::string& payload) {
    char header[headerSize];
    std::memcpy(header, magic, sizeof magic);
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::memcpy(header + sizeof magic, &length, 4);
    std::memcpy(header + sizeof magic + 4, &type, 4);
    if (!sendAll(fd_.get(), header, sizeof header) || !sendAll(fd_.get(), payload.data(), payload.size())) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyMs);
    char reply[headerSize];
    if (!readAll(fd_.get(), reply, sizeof reply, deadline) || std::memcmp(reply, magic, sizeof magic) != 0) {
        return std::nullopt;
    }
    std::uint32_t size = 0;
    std::memcpy(&size, reply + sizeof magic, 4);
    if (size > maxReply) return std::nullopt;
    std::string body(size, '\0');
    if (!readAll(fd_.get(), body.data(), size, deadline)) return std::nullopt;
    return body;
}

std::optional<WindowHandle> SwayWindowControl::frontWindow() const {
    const auto tree = ipc_->request(SwayIpc::getTree, {});
    if (!tree) return std::nullopt;
    const auto json = nlohmann::json::parse(*tree, nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    const auto* window = focusedWindow(json);
    if (!window) return std::nullopt;
    return window->value("id", WindowHandle(0));
}

std::optional<Rect> SwayWindowControl::frame(WindowHandle window) const {
    const auto tree = ipc_->request(SwayIpc::getTree, {});
    if (!tree) return std::nullopt;
    const auto json = nlohmann::json::parse(*tree, nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    const auto* node = byId(json, window);
    if (!node || !node->contains("rect")) return std::nullopt;
    const auto& r = (*node)["rect"];
    return Rect{r.value("x", 0.0), r.value("y", 0.0), r.value("width", 0.0), r.value("height", 0.0)};
}

bool SwayWindowControl::setFrame(WindowHandle window, const Rect& frame) {
    const std::string target = "[con_id=" + std::to_string(window) + "] ";
    auto px = [](double v) { return std::to_string(std::lround(v)); };
    const std::string command = target + "floating enable; " + target + "resize set width " + px(frame.width) +
                                " px height " + px(frame.height) + " px; " + target + "move absolute position " +
                                px(frame.x) + " px " + px(frame.y) + " px";
    const auto reply = ipc_->request(SwayIpc::runCommand, command);
    if (!reply) return false;
    const auto json = nlohmann::json::parse(*reply, nullptr, false);
    if (!json.is_array()) return false;
    for (const auto& result : json) {
        if (!result.value("success", false)) return false;
    }
    return true;
}

}  // namespace tamborix::wlroots
