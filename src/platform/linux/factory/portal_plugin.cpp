// The entry point of tamborix-helper-portal.so.

#include "platform/linux/factory/desktop_backends.h"

namespace {

const tamborix::DesktopPlugin table{{TAMBORIX_PLUGIN_BUILD, &tamborix::plugin::joinProgram}, &tamborix::installPortalBackends};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tamborix::plugin::EntryHeader* tamborix_portal_plugin() {
    return &table.header;
}
