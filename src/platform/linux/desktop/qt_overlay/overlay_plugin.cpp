#include "platform/linux/desktop/qt_overlay/overlay_plugin.h"

#include "platform/linux/desktop/qt_overlay/qt_overlay_surface.h"

namespace {

std::unique_ptr<tamborix::OverlaySurface> make(std::function<bool()> composited) {
    return std::make_unique<tamborix::qt::QtOverlaySurface>(std::move(composited));
}

const tamborix::qt::OverlayPlugin table{{TAMBORIX_PLUGIN_BUILD, &tamborix::plugin::joinProgram}, &tamborix::qt::overlayWindowsPossible, &make};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tamborix::plugin::EntryHeader* tamborix_overlay_plugin() {
    return &table.header;
}
