#include "store/paired_device.h"

namespace tamborix {

std::string_view scopeName(PairedDevice::Scope scope) {
    switch (scope) {
        case PairedDevice::Scope::full: return "full";
        case PairedDevice::Scope::presenter: return "presenter";
    }
    return "full";
}

std::optional<PairedDevice::Scope> scopeFromName(std::string_view name) {
    if (name == "full") return PairedDevice::Scope::full;
    if (name == "presenter") return PairedDevice::Scope::presenter;
    return std::nullopt;
}

}  // namespace tamborix
