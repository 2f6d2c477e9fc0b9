#pragma once
// What the overlay plugin (tamborix-helper-overlay.so) offers the factory: the laser dot and the
// cursor finder as Qt windows, which need Qt Gui and so live outside a console helper.

#include <functional>
#include <memory>

#include "platform/linux/support/plugin/plugin_library.h"
#include "ports/overlay_surface.h"

namespace tamborix::qt {

struct OverlayPlugin {
    plugin::EntryHeader header;
    // Whether this process runs a Qt GUI application on the X11 platform, which the windows need.
    bool (*possible)();
    // `composited`: whether a compositor blends translucent windows now.
    std::unique_ptr<OverlaySurface> (*make)(std::function<bool()> composited);
};

inline constexpr const char* overlayPluginFile = "tamborix-helper-overlay.so";
inline constexpr const char* overlayPluginEntry = "tamborix_overlay_plugin";

}  // namespace tamborix::qt
