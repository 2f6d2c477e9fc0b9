#include "app/options.h"

#include <charconv>
#include <cstring>

#include "app/console.h"

namespace tamborix {

ParsedOptions parseHelperOptions(const std::vector<std::string>& args, const BackendNames& backends) {
    HelperOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& a = args[i];
        if (a == "--console") {
            o.console = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--backend" || a.rfind("--backend=", 0) == 0) {
            std::string value;
            if (a == "--backend") {
                if (i + 1 >= args.size()) return {std::nullopt, "--backend needs " + backends.listed};
                value = args[++i];
            } else {
                value = a.substr(10);
            }
            if (!backends.accepts(value))
                return {std::nullopt, "--backend needs " + backends.listed + ", not \"" + value + "\""};
            o.backend = value;
        } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
            std::string value;
            if (a == "--port") {
                if (i + 1 >= args.size()) return {std::nullopt, "--port needs a number"};
                value = args[++i];
            } else {
                value = a.substr(7);
            }
            unsigned n = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || ptr != value.data() + value.size() || value.empty() || n > 65535) {
                return {std::nullopt, "--port needs a number from 0 to 65535, not \"" + value + "\""};
            }
            o.port = static_cast<std::uint16_t>(n);
        } else {
            return {std::nullopt, "unknown option \"" + a + "\""};
        }
    }
    return {o, {}};
}

bool dryRunFromValue(const char* value) { return value != nullptr && std::strcmp(value, "1") == 0; }

std::string helperUsage() {
    // Sections are "Name:" lines followed by "  TERM   description" entries; the manual page's
    // OPTIONS, CONSOLE COMMANDS and ENVIRONMENT are generated from this text.
    std::string text =
        "Usage: tamborix-helper [--console] [--port N] [--backend B] [--help] [--version]\n"
        "Lets a paired phone control this computer over the local network.\n"
        "\n"
        "Options:\n"
        "  --console     text interface on standard input and output instead of the tray and\n"
        "                windows (always used when no X11 display can be opened)\n"
        "  --port N      TCP port to listen on (default 50505; 0 picks a free one)\n"
        "  --backend B   desktop backend: x11, wlroots (sway and other wlroots\n"
        "                compositors), portal (Wayland's remote-desktop portal), uinput\n"
        "                (virtual devices), or none to control nothing (default in a\n"
        "                Wayland session: wlroots, else the portal, else uinput; otherwise\n"
        "                X11 when DISPLAY opens, else uinput)\n"
        "  --help        show this text\n"
        "  --version     show the version\n"
        "\n"
        "Console commands (one per line on standard input):\n";
    for (const auto& line : consoleHelpLines()) {
        if (line.rfind("  ", 0) == 0) text += line + "\n";
    }
    text +=
        "\n"
        "Environment:\n"
        "  VELMORAND_DRY_RUN=1          post no input, capture no screen; log what would be done\n"
        "  VELMORAND_DRY_RUN_LOG=PATH   also append every dry-run log line to PATH\n"
        "  TAMBORIX_BACKEND=B           as --backend, when that is not given\n";
    return text;
}

}  // namespace tamborix
