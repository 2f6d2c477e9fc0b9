#pragma once
// Command-line options of tamborix-helper.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// The names --backend accepts, from the factory's table of backends: whether a name is one, and
// all of them as a message lists them ("x11, wlroots, portal, uinput or none").
struct BackendNames {
    std::function<bool(std::string_view)> accepts;
    std::string listed;
};

[[nodiscard]] ParsedOptions parseHelperOptions(const std::vector<std::string>& args,
                                               const BackendNames& backends);
[[nodiscard]] std::string helperUsage();

// Whether VELMORAND_DRY_RUN's `value` asks for a dry run: exactly the one character "1".
[[nodiscard]] bool dryRunFromValue(const char* value);

}  // namespace tamborix
