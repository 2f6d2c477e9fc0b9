#include "platform/linux/support/plugin/plugin_library.h"

#include <system_error>

namespace tamborix::plugin {

std::string_view thisBuild() { return TAMBORIX_PLUGIN_BUILD; }

std::filesystem::path installedFolder() {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return program.parent_path().parent_path() / TAMBORIX_PLUGIN_SUBDIR;
}

std::optional<PluginLibrary> PluginLibrary::open(std::string_view what, const std::filesystem::path& folder,
                                                 std::string_view file, const char* entry, std::string& why) {
    const std::filesystem::path path = (folder.empty() ? installedFolder() : folder) / file;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        why = std::string(what) + " is not installed (no " + path.string() + ")";
        return std::nullopt;
    }
    ::dlerror();
    Handle handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle) {
        const char* error = ::dlerror();
        why = std::string(what) + " cannot be loaded (" + (error ? error : path.string()) + ")";
        return std::nullopt;
    }
    using Entry = const EntryHeader* (*)();
    const auto function = reinterpret_cast<Entry>(::dlsym(handle.get(), entry));
    const EntryHeader* header = function ? function() : nullptr;
    if (!header) {
        why = std::string(what) + " is not a plugin of this program (" + path.string() + ")";
        return std::nullopt;
    }
    if (thisBuild() != header->build) {
        why = std::string(what) + " belongs to another version (" + header->build + ", this program is " +
              std::string(thisBuild()) + "): " + path.string();
        return std::nullopt;
    }
    if (header->joinProgram) header->joinProgram(Program{&userTextMemory()});
    return PluginLibrary(std::move(handle), header);
}

}  // namespace tamborix::plugin
