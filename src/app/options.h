#pragma once
// Command-line options of tamborix-helper.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamborix {

struct HelperOptions {
    bool console = false;
    std::uint16_t port = 50505;  // 0 = any free port
    bool help = false;
    bool version = false;
    std::string backend;  // "x11" or "none" forces the desktop backend; empty probes
};

struct ParsedOptions {
    std::optional<HelperOptions> options;
    std::string error;  // set when options is absent
};

[[nodiscard]] ParsedOptions parseHelperOptions(const std::vector<std::string>& args);
[[nodiscard]] std::string helperUsage();

}  // namespace tamborix
