#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ports/main_loop.h"
#include "protocol/bytes.h"

namespace tamborix {

struct PairedDevice {
    enum class Scope { full, presenter };

    std::string id;    // Wire::deviceID(pub)
    std::string name;  // at most 64 characters
    Bytes pub;         // 32 bytes
    Scope scope = Scope::full;
    WallTime added;
    WallTime lastSeen;
    std::optional<bool> screen;  // absent = not decided

    friend bool operator==(const PairedDevice&, const PairedDevice&) = default;
};

std::string_view scopeName(PairedDevice::Scope scope);
std::optional<PairedDevice::Scope> scopeFromName(std::string_view name);

}  // namespace tamborix
