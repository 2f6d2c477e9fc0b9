#include "app/autostart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/user_text.h"
#include "store/private_file.h"

namespace tamborix {

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

std::filesystem::path Autostart::defaultFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "autostart";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config" / "autostart";
    return {};
}

std::filesystem::path Autostart::runningProgram() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return path;
}

Autostart::Autostart(std::filesystem::path folder, std::filesystem::path program)
    : folder_(std::move(folder)), program_(std::move(program)) {}

std::string desktopExecArgument(const std::string& argument) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (argument.find_first_of(reserved) == std::string::npos && !argument.empty()) {
        quoted = argument;
    } else {
        quoted = "\"";
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    // The value is a string first: its backslashes are escaped once more, and "%" starts a field
    // code unless doubled.
    std::string out;
    for (const char c : quoted) {
        if (c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out;
}

std::string Autostart::entryText() const {
    std::string text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Tamborix Helper\n";
    text += "Comment=Lets a paired phone or watch control this computer\n";
    text += "Exec=" + desktopExecArgument(program_.string()) + "\n";
    text += "Terminal=false\n";
    text += "NoDisplay=true\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

bool Autostart::enabled() const {
    std::ifstream in(entryPath());
    if (!in) return false;
    bool inEntry = false;
    for (std::string line; std::getline(in, line);) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const auto key = trim(line.substr(0, eq));
        const auto value = trim(line.substr(eq + 1));
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

bool Autostart::set(bool on, std::string& error) {
    error.clear();
    if (folder_.empty()) {
        error = userText("Application", "no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)");
        return false;
    }
    const auto path = entryPath();
    if (!on) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    if (program_.empty()) {
        error = userText("Application", "the helper's own program file cannot be found");
        return false;
    }
    // An explicit mode: under a umask of 000 the folder must not become writable by everyone.
    if (!createFolder(folder_, 0755)) {
        error = userText("Application", "cannot create the folder %1: %2").with({folder_.string(), std::strerror(errno)});
        return false;
    }
    const auto text = entryText();
    return writeWithMode(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                         path, 0644, &error);
}

}  // namespace tamborix
