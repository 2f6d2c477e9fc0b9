// devices.json is ours, but users edit it and disks corrupt it: whatever it holds, loading must
// neither crash nor keep a record that fails the integrity check, and what loads must save and
// load again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/wire.h"
#include "store/device_file.h"

using namespace tamborix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto devices = deviceFile::decode(text);
    if (!devices) return 0;
    for (const auto& d : *devices) {
        if (!deviceFile::intact(d)) std::abort();
    }
    for (const bool pretty : {true, false}) {
        const auto again = deviceFile::decode(deviceFile::encode(*devices, pretty));
        if (!again || again->size() != devices->size()) std::abort();
        for (std::size_t i = 0; i < devices->size(); ++i) {
            const auto& a = (*devices)[i];
            const auto& b = (*again)[i];
            if (a.id != b.id || a.name != b.name || a.pub != b.pub || a.scope != b.scope ||
                a.screen != b.screen)
                std::abort();
            const auto drift = (a.added - b.added) + (a.lastSeen - b.lastSeen);
            if (drift > std::chrono::microseconds(1) || drift < -std::chrono::microseconds(1))
                std::abort();
        }
    }
    return 0;
}
