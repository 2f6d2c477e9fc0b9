#pragma once
// The helper's panel: who it is, whether it may post input, both transports with their switches,
// who is connected and who sees the screen, the paired devices with their permissions, the
// statistics, the application switches. The same widget fills the tray popup and the status
// window; each instance reads the model and redraws when the model announces a change.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/change_signal.h"

class QCheckBox;
class QLabel;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace tamborix {
class HelperModel;
}

namespace tamborix::ui {

class MenuContent final : public QWidget {
public:
    struct Actions {
        std::function<void()> pairNewDevice;
    };

    MenuContent(HelperModel& model, Actions actions, QWidget* parent = nullptr);
    ~MenuContent() override;

    // Reads the whole model again. Changes announced by the model arrive here on the next turn of
    // the event loop, several at once.
    void refresh();

    // The open removal confirmation, if any (its title is "Remove NAME?").
    [[nodiscard]] QMessageBox* removeConfirmation() const { return confirm_; }
    // The device the open confirmation is about.
    [[nodiscard]] const std::optional<std::string>& confirmRemove() const { return confirmRemove_; }
    void askRemove(const std::string& id);

private:
    void scheduleRefresh();
    void rebuildConnected(const std::vector<std::string>& texts);
    void rebuildDevices();

    HelperModel& model_;
    Actions actions_;
    Subscription subscription_;
    bool refreshQueued_ = false;

    QLabel* identity_ = nullptr;
    QLabel* problems_ = nullptr;
    QWidget* warning_ = nullptr;
    QLabel* warningReason_ = nullptr;
    QLabel* warningTodo_ = nullptr;
    QPushButton* inputSettings_ = nullptr;  // opens the desktop's page that helps, where one exists
    QLabel* captureWarning_ = nullptr;
    QLabel* saveWarning_ = nullptr;
    QCheckBox* network_ = nullptr;
    QLabel* networkText_ = nullptr;
    QLabel* discovery_ = nullptr;
    QLabel* discoveryHelp_ = nullptr;
    QLabel* portHelp_ = nullptr;
    QCheckBox* bluetooth_ = nullptr;
    QLabel* bluetoothText_ = nullptr;
    QWidget* sharing_ = nullptr;
    QLabel* sharingText_ = nullptr;
    QWidget* connected_ = nullptr;
    QVBoxLayout* connectedRows_ = nullptr;
    std::vector<std::string> connectedShown_;
    QWidget* devices_ = nullptr;
    QVBoxLayout* deviceRows_ = nullptr;
    std::string devicesShown_;  // what the rows were built from
    QLabel* stats_ = nullptr;
    QLabel* event_ = nullptr;
    QCheckBox* shareFrontApp_ = nullptr;
    QCheckBox* startAtLogin_ = nullptr;
    QLabel* loginError_ = nullptr;

    std::optional<std::string> confirmRemove_;
    QMessageBox* confirm_ = nullptr;
};

}  // namespace tamborix::ui
