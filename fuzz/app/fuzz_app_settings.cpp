// Any bytes as settings.json: loading never fails, every switch reads as a boolean, and a switch
// that is set is read back after the next start.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings.h"
#include "fuzz_support.h"

using namespace tamborix;
using tamborix::fuzzing::require;

namespace {

const std::filesystem::path& folder() {
    static const auto path = tamborix::fuzzing::makeTempFolder("fuzz-settings");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = folder() / "settings.json";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const bool flip = size > 0 && (data[0] & 1);
    {
        Settings settings(file);
        for (const char* key : {Settings::networkOn, Settings::bluetoothOn, Settings::shareFrontApp,
                                Settings::hasLaunched})
            static_cast<void>(settings.get(key));
        require(settings.set(Settings::bluetoothOn, flip));
    }
    require(Settings(file).get(Settings::bluetoothOn) == flip);
    return 0;
}
