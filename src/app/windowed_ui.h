#pragma once
// The windowed interface as the program sees it. Its tray, windows and dialogs (Qt Widgets) live
// in the plugin tamborix-helper-ui.so, loaded only when the helper runs windowed, so that a
// console helper maps neither Qt Widgets nor Qt Gui.

#include <memory>

#include "platform/linux/support/plugin/plugin_library.h"

class QCoreApplication;

namespace tamborix {

class ApprovalPrompter;
class HelperModel;

class WindowedUi {
public:
    virtual ~WindowedUi() = default;
    [[nodiscard]] virtual ApprovalPrompter& prompter() = 0;
    // Shows the tray icon, and the status window when the user should see it.
    virtual void start() = 0;
    virtual void showStatusWindow() = 0;
};

struct WindowedUiPlugin {
    plugin::EntryHeader header;
    // The windowed helper's Qt application (Qt Widgets on the X11 platform); before anything else
    // of Qt is made.
    std::unique_ptr<QCoreApplication> (*makeApplication)(int& argc, char** argv);
    std::unique_ptr<WindowedUi> (*makeUi)(HelperModel& model);
};

inline constexpr const char* windowedUiFile = "tamborix-helper-ui.so";
inline constexpr const char* windowedUiEntry = "tamborix_windowed_ui";

}  // namespace tamborix
