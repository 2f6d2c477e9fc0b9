#pragma once
// The helper's own plugins: the parts that pull in heavy libraries (the windowed interface, the
// portal with PipeWire, Qt's overlay windows) are shared objects loaded only when chosen, so a
// console helper maps none of those libraries. They are installed in
// <prefix>/lib/<triplet>/tamborix-helper, found from the running program's own path, so a build
// tree (which keeps the same layout) works as an installed package does.

#include <dlfcn.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/owned.h"
#include "base/user_text.h"

namespace tamborix::plugin {

// What a plugin that holds its own copy of the project's libraries shares with the program that
// loads it: the memory of user texts, so that the program can translate the plugin's texts.
struct Program {
    UserTextMemory* userTexts;
};

// Each plugin's entry point returns a table whose first member is this header: the build it was
// made for (a plugin of another build is refused rather than called with a layout it does not
// share) and, unless the plugin uses the program's own code, how it joins the program.
struct EntryHeader {
    const char* build;
    void (*joinProgram)(const Program& program);
};

// The joinProgram of a plugin with copies of its own.
inline void joinProgram(const Program& program) { rememberUserTextsIn(*program.userTexts); }

// The build a plugin must have been made for (the version this program was built as).
[[nodiscard]] std::string_view thisBuild();

// <folder of /proc/self/exe>/../lib/<triplet>/tamborix-helper
[[nodiscard]] std::filesystem::path installedFolder();

class PluginLibrary {
public:
    // Loads `<folder>/<file>` (folder empty: installedFolder()) and finds `entry`, a function
    // taking nothing and returning a pointer to a table that starts with an EntryHeader. On
    // failure nothing and `why` says, for the user, that `what` is not installed or not usable,
    // with the path and the loader's reason.
    [[nodiscard]] static std::optional<PluginLibrary> open(std::string_view what, const std::filesystem::path& folder,
                                                           std::string_view file, const char* entry,
                                                           std::string& why);

    // The table the entry point returned.
    template <class Table>
    [[nodiscard]] const Table& table() const {
        return *static_cast<const Table*>(table_);
    }

private:
    // Loaded with RTLD_NODELETE: objects the plugin made may outlive this handle, so its code
    // stays mapped after the close.
    using Handle = Owned<void, ::dlclose>;
    PluginLibrary(Handle handle, const void* table) : handle_(std::move(handle)), table_(table) {}

    Handle handle_;
    const void* table_ = nullptr;
};

}  // namespace tamborix::plugin
