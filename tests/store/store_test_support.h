#pragma once
// Temporary folders and small file helpers for the store's tests.

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/random_source.h"

namespace tamborix::testing {

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tamborix-store-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
        path_ = buffer.data();
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

inline nlohmann::json readJson(const std::filesystem::path& path) {
    return nlohmann::json::parse(readText(path));
}

inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A 32-byte public key whose bytes all equal `seed` (any 32 bytes are a well-formed key here).
inline Bytes keyOf(std::uint8_t seed) { return Bytes(32, seed); }

// Answers bounded draws with a fixed cycle of values and records the bounds asked for.
class ScriptedRandom final : public RandomSource {
public:
    explicit ScriptedRandom(std::vector<std::uint32_t> values) : values_(std::move(values)) {}
    void fill(std::uint8_t* out, std::size_t n) override {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    std::uint32_t uniform(std::uint32_t upperBound) override {
        bounds.push_back(upperBound);
        const auto v = values_[next_++ % values_.size()];
        return v % upperBound;
    }
    std::vector<std::uint32_t> bounds;

private:
    std::vector<std::uint32_t> values_;
    std::size_t next_ = 0;
};

}  // namespace tamborix::testing
