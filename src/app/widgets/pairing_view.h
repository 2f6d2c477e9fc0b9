#pragma once
// The content of the "Pair a Device" window: a fresh pairing code as a QR code of the pairing
// link and as text, its countdown, and the computer's own fingerprint. The code lives exactly as
// long as the view: it is opened when the view is first shown and cleared when the view goes.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "base/liveness.h"
#include "ports/main_loop.h"
#include "base/change_signal.h"

class QLabel;
class QPushButton;

namespace tamborix {
class HelperModel;
}

namespace tamborix::ui {

class PairingView final : public QWidget {
public:
    // `close` closes the window (Cancel and Done).
    PairingView(HelperModel& model, std::function<void()> close, QWidget* parent = nullptr);
    ~PairingView() override;

    // Opens a new code (replacing any earlier one) and shows it.
    void open();
    // Re-reads the store, the core and the clock.
    void refresh();

    [[nodiscard]] bool showsOpenState() const { return openState_; }
    [[nodiscard]] const std::optional<std::string>& code() const { return code_; }
    [[nodiscard]] const std::string& uri() const { return uri_; }

    // "m:ss" of the time left until `expires`, whole seconds cut off, never below 0:00.
    [[nodiscard]] static std::string countdownText(std::optional<MonoTime> expires, MonoTime now);

protected:
    void showEvent(QShowEvent* event) override;

private:
    HelperModel& model_;
    std::function<void()> close_;
    std::optional<std::string> code_;
    std::string uri_;
    bool opened_ = false;
    bool openState_ = false;
    Timer tick_;
    Subscription subscription_;
    Liveness life_;

    QWidget* openBox_ = nullptr;
    QLabel* qr_ = nullptr;
    QLabel* codeText_ = nullptr;
    QLabel* countdown_ = nullptr;
    QWidget* closedBox_ = nullptr;
    QLabel* closedText_ = nullptr;
    QPushButton* done_ = nullptr;
};

}  // namespace tamborix::ui
