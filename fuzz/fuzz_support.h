#pragma once
// What the fuzz targets share besides their input: a broken promise stops the run where the
// fuzzer sees it, and private folders for what a target writes.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tamborix::fuzzing {

inline void require(bool ok) {
    if (!ok) std::abort();
}

// A new empty folder "<name>-XXXXXX" in the temporary folder, removed when the run ends; the run
// stops where none can be made.
[[nodiscard]] inline std::filesystem::path makeTempFolder(const std::string& name) {
    struct Made {
        std::vector<std::filesystem::path> folders;
        ~Made() {
            std::error_code ec;
            for (const auto& f : folders) std::filesystem::remove_all(f, ec);
        }
    };
    static Made made;
    std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    made.folders.emplace_back(pattern);
    return pattern;
}

}  // namespace tamborix::fuzzing
