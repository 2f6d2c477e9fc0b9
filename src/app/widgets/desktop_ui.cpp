#include "app/widgets/desktop_ui.h"

#include <QApplication>
#include <QEvent>
#include <QResizeEvent>
#include <QTimer>
#include <functional>
#include <QScrollBar>
#include <algorithm>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "app/helper_model.h"
#include "app/translate.h"
#include "app/widgets/approval_dialogs.h"
#include "app/widgets/menu_content.h"
#include "app/widgets/pairing_view.h"
#include "app/widgets/symbols.h"
#include "core/session/helper_core.h"

namespace tamborix::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// A window with a title bar and a close button holding `content` in a vertical scroll view. It
// opens at the size of its content, as far as the screen allows, and the user may resize it.
QWidget* scrollWindow(const QString& title, QWidget* content) {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(title);
    window->setWindowIcon(symbolIcon(Symbol::cursorRays));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName("scroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidget(content);
    // The content follows the window's width; its height follows its layout as lines come and go.
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    return window;
}

// The screen the user is looking at: where the pointer is.
QRect workArea() {
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// Sizes the window to its content within the work area and centres it there, title bar included.
QSize fitAndCentre(QWidget* window) {
    auto* scroll = window->findChild<QScrollArea*>("scroll");
    QWidget* content = scroll->widget();
    const QRect area = workArea();
    // The window manager's frame is not known before the first showing: leave room for a title
    // bar and borders.
    const int frameW = 16;
    const int frameH = 48;
    const int maxW = std::max(200, area.width() - frameW);
    const int maxH = std::max(150, area.height() - frameH);
    // Wide enough that the usual status lines stay on one line; wrapping texts would take 80
    // characters a line if they could, and a panel reads better narrower.
    const int preferred = std::clamp(content->sizeHint().width(), 400, 440);
    const int least = std::max(content->minimumSizeHint().width(), content->minimumWidth());
    int width = std::min(std::max(least, preferred), maxW);
    int height = content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
    height = std::min(height, maxH);
    // Room for a vertical scroll bar from the start: lines that appear later (a warning, a
    // connected phone) must not push the content sideways out of the window.
    width = std::min(width + scroll->verticalScrollBar()->sizeHint().width(), maxW);
    window->resize(width, height);
    const int x = area.left() + std::max(0, (area.width() - width - frameW) / 2);
    const int y = area.top() + std::max(0, (area.height() - height - frameH) / 2);
    window->move(x, y);
    return window->size();
}

// Lets the window grow with its content (a warning or a phone's line appears) up to the work
// area, as long as the user has not resized it.
class GrowWatch final : public QObject {
public:
    explicit GrowWatch(QWidget* window) : QObject(window), window_(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest && watched != window_ && !userSized_) {
            QTimer::singleShot(0, this, [this] { grow(); });
        } else if (event->type() == QEvent::Resize && watched == window_ && window_->isVisible() &&
                   static_cast<QResizeEvent*>(event)->size() != expected_) {
            // A size we did not ask for: the user's choice stays.
            userSized_ = true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void grow() {
        auto* scroll = window_->findChild<QScrollArea*>("scroll");
        QWidget* content = scroll->widget();
        const int wanted = content->hasHeightForWidth() ? content->heightForWidth(scroll->viewport()->width())
                                                        : content->sizeHint().height();
        const int most = std::max(150, workArea().height() - 48);
        const int height = std::min(wanted, most);
        if (height <= window_->height()) return;
        expected_ = QSize(window_->width(), height);
        window_->resize(expected_);
    }

    QWidget* window_;
    QSize expected_;
    bool userSized_ = false;

    friend void fitAndWatch(QWidget* window);
};

void fitAndWatch(QWidget* window) {
    auto* watch = new GrowWatch(window);
    watch->expected_ = fitAndCentre(window);
    window->installEventFilter(watch);
    window->findChild<QScrollArea*>("scroll")->widget()->installEventFilter(watch);
}

void bringToFront(QWidget* window) {
    // show() alone leaves a minimised window minimised.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

// Calls `closing` when the watched window is asked to close.
class CloseWatch final : public QObject {
public:
    explicit CloseWatch(std::function<void()> closing) : closing_(std::move(closing)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) closing_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> closing_;
};

}  // namespace

DesktopUi::DesktopUi(HelperModel& model)
    : model_(model), prompter_(std::make_unique<DialogPrompter>(model.loop())) {
    closeWatch_ = std::make_unique<CloseWatch>([this] {
        if (!trayAvailable()) model_.quit();
    });
    subscription_ = model_.subscribe([this](HelperModel::Change change) {
        if (change == HelperModel::Change::core || change == HelperModel::Change::network ||
            change == HelperModel::Change::bluetooth || change == HelperModel::Change::switches) {
            updateTrayIcon();
        }
    });
}

DesktopUi::~DesktopUi() {
    subscription_.reset();
    if (tray_) tray_->hide();
    tray_.reset();
    trayMenu_.reset();
    popup_.reset();
    delete pairingWindow_.data();
    statusWindow_.reset();
    prompter_.reset();
}

ApprovalPrompter& DesktopUi::prompter() { return *prompter_; }

bool DesktopUi::trayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void DesktopUi::start() {
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setToolTip(trayToolTip());
    trayMenu_ = std::make_unique<QMenu>();
    // Panels that only show menus still reach everything through these.
    trayMenu_->addAction(q(translate("DesktopUi", "Open Tamborix Helper")), [this] { showStatusWindow(); });
    trayMenu_->addAction(q(translate("DesktopUi", "Pair New Device\u2026")), [this] { showPairingWindow(); });
    trayMenu_->addSeparator();
    trayMenu_->addAction(q(translate("DesktopUi", "Quit")), [this] { model_.quit(); });
    tray_->setContextMenu(trayMenu_.get());
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick) {
                             toggleTrayPopup();
                         }
                     });
    trayActive_ = !model_.core().active().empty();
    tray_->setIcon(ui::trayIcon(trayActive_ ? Symbol::cursorMotionLines : Symbol::cursorRays));
    tray_->show();
    const bool wantsStatus = model_.launched();
    if (wantsStatus || !trayAvailable()) showStatusWindow();
}

QString DesktopUi::trayToolTip() const {
    const auto phones = model_.core().active().size();
    std::string tip = "Tamborix Helper\n" + model_.networkStatusLine() + "\n" +
                      (phones == 0   ? translate("DesktopUi", "No phone connected")
                       : phones == 1 ? translate("DesktopUi", "1 phone connected")
                                     : fillIn(translate("DesktopUi", "%1 phones connected"), {std::to_string(phones)}));
    return QString::fromStdString(tip);
}

void DesktopUi::updateTrayIcon() {
    if (!tray_) return;
    const QString tip = trayToolTip();
    if (tray_->toolTip() != tip) tray_->setToolTip(tip);
    const bool active = !model_.core().active().empty();
    if (active == trayActive_) return;
    trayActive_ = active;
    tray_->setIcon(ui::trayIcon(active ? Symbol::cursorMotionLines : Symbol::cursorRays));
}

void DesktopUi::showStatusWindow() {
    if (!statusWindow_) {
        auto* content = new MenuContent(model_, {[this] { showPairingWindow(); }});
        statusWindow_.reset(scrollWindow("Tamborix Helper", content));
        statusWindow_->setObjectName("statusWindow");
        statusWindow_->setAccessibleName(q(translate("DesktopUi", "Tamborix Helper status")));
        // Without a tray, a closed status window would leave the helper running with no way
        // back while phones can still control the computer: closing it quits.
        statusWindow_->installEventFilter(closeWatch_.get());
        fitAndWatch(statusWindow_.get());
    }
    bringToFront(statusWindow_.get());
}

void DesktopUi::showPairingWindow() {
    if (pairingWindow_) {
        pairingWindow_->close();
        delete pairingWindow_.data();
    }
    auto* view = new PairingView(model_, [this] { closePairingWindow(); });
    auto* window = scrollWindow(q(translate("DesktopUi", "Pair a Device")), view);
    window->setObjectName("pairingWindow");
    window->setAccessibleName(q(translate("DesktopUi", "Pair a Device")));
    // Closing by any means deletes the window and with it the view, which clears the code.
    window->setAttribute(Qt::WA_DeleteOnClose);
    pairingWindow_ = window;
    pairingView_ = view;
    // The code first, so that the window is sized for the QR code rather than the closed state.
    view->open();
    fitAndWatch(window);
    bringToFront(window);
}

void DesktopUi::closePairingWindow() {
    model_.closePairing();
    if (pairingWindow_) pairingWindow_->close();
}

void DesktopUi::toggleTrayPopup() {
    if (popup_ && popup_->isVisible()) {
        popup_->hide();
        return;
    }
    if (!popup_) {
        popup_ = std::make_unique<QWidget>(nullptr, Qt::Popup);
        popup_->setObjectName("trayPopup");
        auto* layout = new QVBoxLayout(popup_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidgetResizable(true);
        auto* content = new MenuContent(model_, {[this] {
                                            popup_->hide();
                                            showPairingWindow();
                                        }});
        scroll->setWidget(content);
        layout->addWidget(scroll);
    }
    auto* scroll = popup_->findChild<QScrollArea*>();
    QWidget* content = scroll->widget();
    content->adjustSize();
    const QRect iconArea = tray_ ? tray_->geometry() : QRect();
    const QPoint anchor = iconArea.isValid() ? iconArea.center() : QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int width = std::min(content->width() + scroll->verticalScrollBar()->sizeHint().width(), area.width());
    const int wanted = content->hasHeightForWidth() ? content->heightForWidth(content->width())
                                                    : content->sizeHint().height();
    const int height = std::min(wanted, area.height());
    popup_->resize(width, height);
    // Below a panel at the top, above one at the bottom; always inside the screen.
    int x = anchor.x() - width / 2;
    int y = anchor.y() < area.center().y() ? (iconArea.isValid() ? iconArea.bottom() + 4 : anchor.y())
                                           : (iconArea.isValid() ? iconArea.top() - 4 : anchor.y()) - height;
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() - width));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - height));
    popup_->move(x, y);
    popup_->show();
    popup_->raise();
}

}  // namespace tamborix::ui
