#include "app/settings.h"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/user_text.h"
#include "store/private_file.h"

namespace tamborix {

namespace {

// Four switches; anything near this size is not a settings file.
constexpr std::size_t maxFileSize = 64 * 1024;

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
    const auto read = readWholeFile(file_, maxFileSize);
    if (read.status != FileRead::Status::ok) {
        json_ = "{}";
        if (read.status == FileRead::Status::failed)
            lastError_ = userText("Application", "Could not read the settings from %1 (%2); the defaults apply")
                             .with({file_.string(), read.error});
        return;
    }
    json_ = parseObject(read.contents).dump();
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

bool Settings::save() {
    const auto text = parseObject(json_).dump(2) + "\n";
    std::string error;
    if (!createPrivateFolder(file_.parent_path())) {
        error = "cannot create the folder " + file_.parent_path().string();
    } else if (writePrivate(text, file_, &error)) {
        lastError_.reset();
        return true;
    }
    lastError_ = userText("Application", "Could not save the settings to %1 (%2)").with({file_.string(), error});
    return false;
}

}  // namespace tamborix
