#include "app/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tamborix {

namespace {

nlohmann::json parseObject(const std::string& text) {
    auto j = nlohmann::json::parse(text, nullptr, false);
    return j.is_object() ? j : nlohmann::json::object();
}

}  // namespace

Settings::Settings(std::filesystem::path file) : file_(std::move(file)) { load(); }

std::filesystem::path Settings::defaultFile() {
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = std::filesystem::current_path() / ".config";
    }
    return base / "tamborix-helper" / "settings.json";
}

void Settings::load() {
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        json_ = "{}";
        return;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    json_ = parseObject(ss.str()).dump();
}

bool Settings::get(const std::string& key) const {
    const auto j = parseObject(json_);
    const auto it = j.find(key);
    const bool fallback = key != hasLaunched;
    if (it == j.end() || !it->is_boolean()) return fallback;
    return it->get<bool>();
}

bool Settings::set(const std::string& key, bool value) {
    auto j = parseObject(json_);
    j[key] = value;
    json_ = j.dump();
    return save();
}

bool Settings::save() const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec) return false;
    const auto text = parseObject(json_).dump(2) + "\n";
    auto tmp = file_;
    tmp += ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced || ::rename(tmp.c_str(), file_.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace tamborix
