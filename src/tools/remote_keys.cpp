#include "tools/remote_keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/unique_fd.h"
#include "protocol/wire.h"

namespace tamborix::remote {

namespace {

constexpr const char* deviceFile = "device.key";
constexpr const char* helpersFile = "helpers.json";

std::optional<std::string> readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

nlohmann::json readHelpers(const std::filesystem::path& folder) {
    const auto text = readFile(folder / helpersFile);
    if (!text) return nlohmann::json::object();
    auto j = nlohmann::json::parse(*text, nullptr, false);
    if (!j.is_object()) throw KeyStoreError("cannot read " + (folder / helpersFile).string());
    return j;
}

}  // namespace

void writePrivateFile(const std::filesystem::path& file, const std::string& bytes) {
    auto tmp = file;
    tmp += ".tmp";
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) throw KeyStoreError("cannot write " + file.string() + ": " + std::strerror(errno));
    ::fchmod(fd.get(), 0600);
    const bool ok = ::write(fd.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                    ::fsync(fd.get()) == 0;
    fd.reset();
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw KeyStoreError("cannot write " + file.string());
    }
}

std::filesystem::path RemoteKeys::defaultFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
        return std::filesystem::path(xdg) / "tamborix-remote";
    }
    const char* home = std::getenv("HOME");
    if (!home || !*home) throw KeyStoreError("neither XDG_CONFIG_HOME nor HOME is set");
    return std::filesystem::path(home) / ".config" / "tamborix-remote";
}

RemoteKeys::RemoteKeys(std::filesystem::path folder) : folder_(std::move(folder)) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) throw KeyStoreError("cannot create " + folder_.string() + ": " + ec.message());
    ::chmod(folder_.c_str(), 0700);

    const auto keyFile = folder_ / deviceFile;
    if (const auto raw = readFile(keyFile)) {
        const Bytes bytes(raw->begin(), raw->end());
        device_ = KeyPair::fromRaw(bytes);
        if (!device_) {
            throw KeyStoreError(keyFile.string() + " is damaged (not 32 bytes); move it away to "
                                "start over with a new device key");
        }
    } else {
        device_ = KeyPair::generate();
        const auto& priv = device_->rawPrivate();
        writePrivateFile(keyFile, std::string(priv.begin(), priv.end()));
    }
}

std::optional<Bytes> RemoteKeys::helperKey(const std::string& address) const {
    const auto helpers = readHelpers(folder_);
    const auto it = helpers.find(address);
    if (it == helpers.end() || !it->is_string()) return std::nullopt;
    try {
        auto key = Wire::b64d(it->get<std::string>(), 200);
        if (key.size() != Wire::keyLength) return std::nullopt;
        return key;
    } catch (...) {
        return std::nullopt;
    }
}

void RemoteKeys::rememberHelper(const std::string& address, const Bytes& identityKey) {
    auto helpers = readHelpers(folder_);
    helpers[address] = Wire::b64std(identityKey);
    writePrivateFile(folder_ / helpersFile, helpers.dump(2) + "\n");
}

}  // namespace tamborix::remote
