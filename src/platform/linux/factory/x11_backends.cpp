#include "platform/linux/factory/x11_backends.h"

#include "core/input/no_input_sink.h"
#include "platform/linux/x11/x11_display_source.h"
#ifdef TAMBORIX_HAVE_X11_DESKTOP
#include "platform/linux/x11/x11_desktop.h"
#endif

namespace tamborix {

void installX11Backends(PlatformBackends& b, const std::shared_ptr<x11::XConnection>& conn,
                        MainLoop& loop, const BackendRequest& request) {
    (void)loop;
    (void)request;
    b.session = conn;
    x11::XConnection& c = *conn;

    const std::string noInput = "the X11 input backend is not part of this build yet";
    b.input = std::make_unique<NoInputSink>(noInput);
    b.report.push_back("Input: none, " + noInput);

    auto displays = std::make_unique<x11::X11DisplaySource>(c);
    b.report.push_back("Displays: " + displays->describe());
    b.displays = std::move(displays);

#ifdef TAMBORIX_HAVE_X11_DESKTOP
    auto desktop = x11::makeX11Desktop(conn);
    b.workspace = std::move(desktop.workspace);
    b.windows = std::move(desktop.windows);
    b.clipboard = std::move(desktop.clipboard);
    b.report.push_back("Applications: the window manager's clients, desktop entries through GIO");
    b.report.push_back("Windows: EWMH; clipboard: the X11 CLIPBOARD selection");
#else
    b.report.push_back("Applications, windows: none (no GIO in this build); clipboard: in the helper");
#endif
}

}  // namespace tamborix
