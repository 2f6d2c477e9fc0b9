#include "app/widgets/desktop_ui.h"

#include <QApplication>
#include <QScrollBar>
#include <algorithm>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "app/helper_model.h"
#include "app/widgets/approval_dialogs.h"
#include "app/widgets/menu_content.h"
#include "app/widgets/pairing_view.h"
#include "app/widgets/symbols.h"
#include "core/session/helper_core.h"

namespace tamborix::ui {

namespace {

// A fixed-size window with a title bar and a close button, holding `content` in a vertical
// scroll view.
QWidget* scrollWindow(const QString& title, QWidget* content, int width, int height) {
    auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                            Qt::CustomizeWindowHint);
    window->setWindowTitle(title);
    window->setFixedSize(width, height);
    window->setWindowIcon(symbolIcon(Symbol::cursorRays));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll->setWidget(content);
    // The content keeps its own width; its height follows its layout as lines come and go.
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    return window;
}

void centre(QWidget* window) {
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

void bringToFront(QWidget* window) {
    // show() alone leaves a minimised window minimised.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

DesktopUi::DesktopUi(HelperModel& model)
    : model_(model), prompter_(std::make_unique<DialogPrompter>(model.loop())) {
    subscription_ = model_.subscribe([this](HelperModel::Change change) {
        if (change == HelperModel::Change::core) updateTrayIcon();
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
    tray_->setToolTip("Tamborix Helper");
    trayMenu_ = std::make_unique<QMenu>();
    // Panels that only show menus still reach everything through these.
    trayMenu_->addAction("Open Tamborix Helper", [this] { showStatusWindow(); });
    trayMenu_->addAction("Pair New Device\u2026", [this] { showPairingWindow(); });
    trayMenu_->addSeparator();
    trayMenu_->addAction("Quit", [this] { model_.quit(); });
    tray_->setContextMenu(trayMenu_.get());
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger ||
                             reason == QSystemTrayIcon::DoubleClick) {
                             toggleTrayPopup();
                         }
                     });
    trayActive_ = !model_.core().active().empty();
    tray_->setIcon(symbolIcon(trayActive_ ? Symbol::cursorMotionLines : Symbol::cursorRays));
    tray_->show();
    const bool wantsStatus = model_.launched();
    if (wantsStatus || !trayAvailable()) showStatusWindow();
}

void DesktopUi::updateTrayIcon() {
    if (!tray_) return;
    const bool active = !model_.core().active().empty();
    if (active == trayActive_) return;
    trayActive_ = active;
    tray_->setIcon(symbolIcon(active ? Symbol::cursorMotionLines : Symbol::cursorRays));
}

void DesktopUi::showStatusWindow() {
    if (!statusWindow_) {
        auto* content = new MenuContent(model_, {[this] { showPairingWindow(); }});
        statusWindow_.reset(scrollWindow("Tamborix Helper", content, 370, 600));
        statusWindow_->setObjectName("statusWindow");
        centre(statusWindow_.get());
    }
    bringToFront(statusWindow_.get());
}

void DesktopUi::showPairingWindow() {
    if (pairingWindow_) {
        pairingWindow_->close();
        delete pairingWindow_.data();
    }
    auto* view = new PairingView(model_, [this] { closePairingWindow(); });
    auto* window = scrollWindow("Pair a Device", view, 370, 560);
    window->setObjectName("pairingWindow");
    // Closing by any means deletes the window and with it the view, which clears the code.
    window->setAttribute(Qt::WA_DeleteOnClose);
    pairingWindow_ = window;
    pairingView_ = view;
    centre(window);
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
    const int width = content->width() + scroll->verticalScrollBar()->sizeHint().width();
    const int height = std::min(content->sizeHint().height(), std::min(600, area.height()));
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
