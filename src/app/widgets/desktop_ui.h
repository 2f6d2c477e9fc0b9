#pragma once
// The windowed face of the helper: the tray icon and its popup, the status window, the pairing
// window and the approval dialogs, all views of the one HelperModel.

#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/widgets/pairing_view.h"
#include "app/windowed_ui.h"

#include "base/change_signal.h"

class QMenu;
class QSystemTrayIcon;

namespace tamborix {
class ApprovalPrompter;
class HelperModel;
}  // namespace tamborix

namespace tamborix::ui {

class DialogPrompter;
class MenuContent;

class DesktopUi final : public WindowedUi {
public:
    explicit DesktopUi(HelperModel& model);
    ~DesktopUi() override;
    DesktopUi(const DesktopUi&) = delete;
    DesktopUi& operator=(const DesktopUi&) = delete;

    // Shows the tray icon and records the launch; the status window opens when the user should
    // see it (first launch, input not possible) and whenever no tray can show the icon, so the
    // helper is never invisible.
    void start() override;

    void showStatusWindow() override;
    // Replaces any pairing window with a new one, which opens a new code.
    void showPairingWindow();
    // Clears the code, then closes the window.
    void closePairingWindow();
    // Opens or closes the menu content next to the tray icon.
    void toggleTrayPopup();

    [[nodiscard]] ApprovalPrompter& prompter() override;
    [[nodiscard]] DialogPrompter& dialogs() { return *prompter_; }
    [[nodiscard]] QWidget* statusWindow() const { return statusWindow_.get(); }
    [[nodiscard]] QWidget* pairingWindow() const { return pairingWindow_.data(); }
    [[nodiscard]] PairingView* pairingView() const { return pairingView_.data(); }
    [[nodiscard]] QWidget* trayPopup() const { return popup_.get(); }
    [[nodiscard]] QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    [[nodiscard]] bool trayAvailable() const;

    // What the tray icon's tooltip says: the name, the network and who is connected.
    [[nodiscard]] QString trayToolTip() const;

private:
    void updateTrayIcon();

    HelperModel& model_;
    std::unique_ptr<DialogPrompter> prompter_;
    std::unique_ptr<QWidget> statusWindow_;
    QPointer<QWidget> pairingWindow_;
    QPointer<PairingView> pairingView_;
    std::unique_ptr<QWidget> popup_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    bool trayActive_ = false;
    std::unique_ptr<QObject> closeWatch_;
    Subscription subscription_;
};

}  // namespace tamborix::ui
