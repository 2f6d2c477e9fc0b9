#include "app/widgets/menu_content.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "app/help_texts.h"
#include "app/helper_model.h"
#include "app/translate.h"
#include "app/widgets/style.h"
#include "app/widgets/symbols.h"
#include "core/session/helper_core.h"
#include "store/device_store.h"
#include "transport/network_server.h"

namespace tamborix::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QWidget* symbolRow(Symbol symbol, QLabel* text, int size, QColor color = {}) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel;
    icon->setPixmap(symbolPixmap(symbol, size, color));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    return row;
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

std::string scopeText(PairedDevice::Scope scope) {
    return scope == PairedDevice::Scope::presenter ? translate("MenuContent", "Presenter only")
                                                   : translate("MenuContent", "Full control");
}

// A switch whose text wraps: a check box cannot wrap its own, so the text is a label beside it
// that toggles it too, and the box carries the text for screen readers.
class SwitchLabel final : public QLabel {
public:
    explicit SwitchLabel(QCheckBox* box) : box_(box) {
        setWordWrap(true);
        setTextInteractionFlags(Qt::NoTextInteraction);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (box_->isEnabled()) box_->click();
    }

private:
    QCheckBox* box_;
};

// The statistics in words a user knows; the console keeps its compact line.
std::string plainStats(const nlohmann::json& stats) {
    const auto number = [&](const char* key) {
        const auto it = stats.find(key);
        return it != stats.end() && it->is_number() ? it->get<double>() : 0.0;
    };
    const auto whole = [](double v) { return std::to_string(static_cast<long long>(std::trunc(v))); };
    return fillIn(translate("MenuContent",
                            "CPU %1% \u00B7 memory %2 MB \u00B7 delay %3 ms \u00B7 %4 commands/s \u00B7 "
                            "Bluetooth queue %5"),
                  {std::to_string(std::lround(number("cpu"))), whole(number("mem")), whole(number("lag")),
                   whole(number("rx")), whole(number("bleBacklog"))});
}

QWidget* switchRow(QCheckBox* box, QLabel* text, std::optional<Symbol> symbol = std::nullopt) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(box, 0, Qt::AlignTop);
    if (symbol) {
        auto* icon = new QLabel;
        icon->setPixmap(symbolPixmap(*symbol, 16));
        layout->addWidget(icon, 0, Qt::AlignTop);
    }
    layout->addWidget(text, 1);
    return row;
}

void setSwitchText(QCheckBox* box, QLabel* label, const QString& text) {
    label->setText(text);
    box->setAccessibleName(text);
}

}  // namespace

MenuContent::MenuContent(HelperModel& model, Actions actions, QWidget* parent)
    : QWidget(parent), model_(model), actions_(std::move(actions)) {
    setObjectName("menuContent");
    setAccessibleName("Tamborix Helper");
    // At least the width of the phone-sized panel; wider where a text needs it.
    setMinimumWidth(340);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);

    // The header.
    {
        auto* header = new QWidget;
        auto* row = new QHBoxLayout(header);
        row->setContentsMargins(0, 0, 0, 0);
        auto* icon = new QLabel;
        icon->setPixmap(symbolPixmap(Symbol::cursorRays, 28));
        row->addWidget(icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* title = new QLabel("Tamborix Helper");
        title->setObjectName("title");
        title->setFont(headlineFont());
        texts->addWidget(title);
        identity_ = captionLabel();
        identity_->setObjectName("identity");
        identity_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(identity_);
        row->addLayout(texts, 1);
        layout->addWidget(header);

        // What keeps the helper from working fully: the identity key, failed saves.
        problems_ = new QLabel;
        problems_->setObjectName("problems");
        problems_->setWordWrap(true);
        problems_->setFont(calloutFont());
        problems_->setStyleSheet("color: rgb(200,100,0);");
        problems_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(problems_);
    }

    // The input permission box: on Linux nothing opens a settings page, so it says why and what
    // to do instead.
    {
        warning_ = new QFrame;
        warning_->setObjectName("inputWarning");
        warning_->setStyleSheet(
            "#inputWarning { background: rgba(255,149,0,26); border-radius: 8px; }");
        auto* box = new QVBoxLayout(warning_);
        box->setContentsMargins(8, 8, 8, 8);
        box->setSpacing(6);
        auto* text = new QLabel(q(translate("MenuContent", "Needs permission to move the pointer and type.")));
        text->setObjectName("inputWarningText");
        text->setWordWrap(true);
        text->setFont(calloutFont());
        text->setStyleSheet("color: rgb(200,100,0);");
        box->addWidget(symbolRow(Symbol::warning, text, 16));
        warningReason_ = new QLabel;
        warningReason_->setObjectName("inputWarningReason");
        warningReason_->setWordWrap(true);
        warningReason_->setFont(calloutFont());
        box->addWidget(warningReason_);
        warningTodo_ = captionLabel();
        warningTodo_->setObjectName("inputWarningTodo");
        box->addWidget(warningTodo_);
        inputSettings_ = new QPushButton;
        inputSettings_->setObjectName("inputSettings");
        connect(inputSettings_, &QPushButton::clicked, this, [this] { (void)model_.openInputSettingsPage(); });
        box->addWidget(inputSettings_, 0, Qt::AlignLeft);
        layout->addWidget(warning_);

        // No live view for the phones (no X display to read, the portal's screen not shared…).
        captureWarning_ = captionLabel("");
        captureWarning_->setObjectName("captureWarning");
        captureWarning_->setStyleSheet("color: rgb(200,100,0);");
        layout->addWidget(captureWarning_);

        // Decisions in effect that a restart would undo, until the store can write them.
        saveWarning_ = captionLabel("");
        saveWarning_->setObjectName("saveWarning");
        saveWarning_->setWordWrap(true);
        saveWarning_->setStyleSheet("color: rgb(200,100,0);");
        layout->addWidget(saveWarning_);
    }

    // The transports.
    {
        auto* group = new QFrame;
        group->setObjectName("transports");
        group->setFrameShape(QFrame::StyledPanel);
        auto* box = new QVBoxLayout(group);
        box->setContentsMargins(8, 8, 8, 8);
        box->setSpacing(6);
        network_ = new QCheckBox;
        network_->setObjectName("networkSwitch");
        networkText_ = new SwitchLabel(network_);
        networkText_->setObjectName("networkStatus");
        connect(network_, &QCheckBox::clicked, this, [this](bool on) { model_.setNetworkOn(on); });
        box->addWidget(switchRow(network_, networkText_, Symbol::network));
        discovery_ = captionLabel();
        discovery_->setObjectName("discovery");
        discovery_->setContentsMargins(24, 0, 0, 0);
        box->addWidget(discovery_);
        discoveryHelp_ = captionLabel();
        discoveryHelp_->setObjectName("discoveryHelp");
        discoveryHelp_->setContentsMargins(24, 0, 0, 0);
        discoveryHelp_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        box->addWidget(discoveryHelp_);
        portHelp_ = captionLabel();
        portHelp_->setObjectName("portHelp");
        portHelp_->setContentsMargins(24, 0, 0, 0);
        box->addWidget(portHelp_);
        bluetooth_ = new QCheckBox;
        bluetooth_->setObjectName("bluetoothSwitch");
        bluetoothText_ = new SwitchLabel(bluetooth_);
        bluetoothText_->setObjectName("bluetoothStatus");
        connect(bluetooth_, &QCheckBox::clicked, this, [this](bool on) { model_.setBluetoothOn(on); });
        box->addWidget(switchRow(bluetooth_, bluetoothText_, Symbol::bluetooth));
        layout->addWidget(group);
    }

    // Screen sharing, shown while a phone sees the screen.
    sharingText_ = new QLabel;
    sharingText_->setObjectName("sharing");
    sharingText_->setWordWrap(true);
    {
        QFont f = calloutFont();
        f.setWeight(QFont::DemiBold);
        sharingText_->setFont(f);
        sharingText_->setStyleSheet("color: rgb(215,40,40);");
    }
    sharing_ = symbolRow(Symbol::screenShared, sharingText_, 16);
    layout->addWidget(sharing_);

    // The connected phones.
    {
        connected_ = new QWidget;
        connected_->setObjectName("connected");
        connectedRows_ = new QVBoxLayout(connected_);
        connectedRows_->setContentsMargins(0, 0, 0, 0);
        connectedRows_->setSpacing(2);
        connectedRows_->addWidget(captionLabel(q(translate("MenuContent", "Connected"))));
        layout->addWidget(connected_);
    }

    // Pairing a new device.
    {
        auto* pair = new QPushButton(symbolIcon(Symbol::qrCode, Qt::white),
                                     q(translate("MenuContent", "Pair New Device\u2026")));
        pair->setObjectName("pairNewDevice");
        pair->setStyleSheet(
            "QPushButton { background: rgb(0,122,255); color: white; border-radius: 6px;"
            " padding: 5px 12px; } QPushButton:pressed { background: rgb(0,90,200); }");
        pair->setAccessibleName(q(translate("MenuContent", "Pair New Device")));
        connect(pair, &QPushButton::clicked, this, [this] {
            if (actions_.pairNewDevice) actions_.pairNewDevice();
        });
        layout->addWidget(pair, 0, Qt::AlignLeft);
    }

    // The paired devices.
    {
        devices_ = new QWidget;
        devices_->setObjectName("pairedDevices");
        deviceRows_ = new QVBoxLayout(devices_);
        deviceRows_->setContentsMargins(0, 0, 0, 0);
        deviceRows_->setSpacing(6);
        deviceRows_->addWidget(divider());
        deviceRows_->addWidget(captionLabel(q(translate("MenuContent", "Paired devices"))));
        layout->addWidget(devices_);
    }

    // The statistics line and the last event.
    stats_ = captionLabel();
    stats_->setObjectName("stats");
    stats_->setToolTip(q(translate("MenuContent",
                                   "Delay: how late the helper answered its own timer in the last second. "
                                   "Bluetooth queue: messages waiting for a slow Bluetooth link.")));
    {
        QFont f = stats_->font();
        f.setStyleHint(QFont::Monospace);
        f.setFamily("monospace");
        stats_->setFont(f);
    }
    layout->addWidget(stats_);
    event_ = captionLabel();
    event_->setObjectName("lastEvent");
    layout->addWidget(event_);

    // The two switches (with the login entry's error) and Quit.
    layout->addWidget(divider());
    shareFrontApp_ = new QCheckBox;
    auto* shareText = new SwitchLabel(shareFrontApp_);
    setSwitchText(shareFrontApp_, shareText,
                  q(translate("MenuContent", "Share the active app with paired phones (for shortcuts)")));
    shareFrontApp_->setObjectName("shareFrontApp");
    connect(shareFrontApp_, &QCheckBox::clicked, this,
            [this](bool on) { model_.setShareFrontApp(on); });
    layout->addWidget(switchRow(shareFrontApp_, shareText));
    startAtLogin_ = new QCheckBox;
    auto* loginText = new SwitchLabel(startAtLogin_);
    setSwitchText(startAtLogin_, loginText, q(translate("MenuContent", "Start at login")));
    startAtLogin_->setObjectName("startAtLogin");
    connect(startAtLogin_, &QCheckBox::clicked, this, [this](bool on) {
        std::string error;
        (void)model_.setStartAtLogin(on, error);
        // Only a failure says something, and it says why.
        loginError_->setText(error.empty() ? QString()
                                           : q(fillIn(translate("MenuContent", "Start at login could not be changed: %1"),
                                                      {localise(error)})));
        loginError_->setVisible(!error.empty());
        // The switch shows what is really in place, whatever was asked.
        startAtLogin_->setChecked(model_.startAtLogin());
    });
    layout->addWidget(switchRow(startAtLogin_, loginText));
    loginError_ = captionLabel();
    loginError_->setObjectName("startAtLoginError");
    loginError_->setVisible(false);
    layout->addWidget(loginError_);
    {
        auto* row = new QHBoxLayout;
        row->addStretch(1);
        auto* quit = new QPushButton(q(translate("MenuContent", "Quit")));
        quit->setObjectName("quit");
        connect(quit, &QPushButton::clicked, this, [this] { model_.quit(); });
        row->addWidget(quit);
        layout->addLayout(row);
    }
    layout->addStretch(1);

    subscription_ = model_.subscribe([this](HelperModel::Change) { scheduleRefresh(); });
    refresh();
}

void MenuContent::showEvent(QShowEvent* event) {
    if (!sampling_.active()) sampling_ = model_.keepSampling();
    QWidget::showEvent(event);
}

void MenuContent::hideEvent(QHideEvent* event) {
    sampling_.reset();
    QWidget::hideEvent(event);
}

MenuContent::~MenuContent() {
    subscription_.reset();
    delete confirm_;
}

void MenuContent::scheduleRefresh() {
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        refresh();
    });
}

void MenuContent::refresh() {
    auto& core = model_.core();
    identity_->setText(q(fillIn(translate("MenuContent", "Identity %1"), {model_.identityFingerprint()})));
    identity_->setToolTip(q(translate("MenuContent", "This computer's key. Your phone shows it too: check that they match.")));

    std::string problems;
    const auto addProblem = [&](const std::string& line) {
        if (line.empty() || problems.find(line) != std::string::npos) return;
        problems += (problems.empty() ? "" : "\n") + line;
    };
    if (const auto identity = model_.identityLine(); !identity.empty()) {
        addProblem(identity);
        addProblem(translate("MenuContent", "Pairing is off until the key is kept."));
    }
    const auto warningLine = [](const std::string& what) {
        return fillIn(translate("MenuContent", "Warning: %1"), {what});
    };
    if (const auto& error = model_.store().saveError()) addProblem(warningLine(localise(*error)));
    if (const auto warning = model_.lastWarning(); !warning.empty()) addProblem(warningLine(warning));
    problems_->setText(q(problems));
    problems_->setVisible(!problems.empty());

    warning_->setVisible(!model_.accessibilityGranted());
    warningReason_->setText(q(model_.inputReason()));
    const auto remedy = model_.inputRemedy();
    warningTodo_->setText(q(translate("MenuContent",
                                      "Phones can connect, but nothing they do reaches this desktop until then.") +
                            (remedy.empty() ? std::string() : " " + remedy) + " " +
                            translate("MenuContent", "The helper notices within 2 seconds.")));
    const auto page = model_.inputSettingsPage();
    inputSettings_->setText(page ? q(fillIn(translate("MenuContent", "Open %1"), {page->name})) : QString());
    inputSettings_->setVisible(page.has_value());
    std::string capture = model_.screenCaptureReason();
    for (const auto& line : model_.unavailableLines()) capture += (capture.empty() ? "" : "\n") + line;
    captureWarning_->setText(q(capture));
    captureWarning_->setVisible(!capture.empty());
    const auto unsaved = model_.saveWarning();
    saveWarning_->setText(q(unsaved));
    saveWarning_->setVisible(!unsaved.empty());

    network_->setChecked(model_.networkOn());
    setSwitchText(network_, networkText_, q(model_.networkStatusLine()));
    const auto discovery = model_.discoveryLine();
    discovery_->setText(q(discovery));
    discovery_->setVisible(!discovery.empty());
    const bool noDiscovery =
        model_.network().discovery().phase == DiscoveryState::Phase::unavailable && model_.networkOn();
    discoveryHelp_->setText(noDiscovery ? q(discoveryHelpText()) : QString());
    discoveryHelp_->setVisible(noDiscovery);
    const bool listening = model_.network().running();
    portHelp_->setText(listening ? q(portHelpText(model_.linkPort())) : QString());
    portHelp_->setVisible(listening);
    // Where Bluetooth cannot work, its switch shows neither on nor a choice.
    const bool bluetoothUsable = model_.bluetoothSupported();
    bluetooth_->setEnabled(bluetoothUsable);
    bluetooth_->setChecked(bluetoothUsable && model_.bluetoothOn());
    setSwitchText(bluetooth_, bluetoothText_, q(model_.bluetoothStatusLine()));

    const auto& sharing = core.sharingWith();
    std::string names;
    for (const auto& n : sharing) names += (names.empty() ? "" : ", ") + n;
    sharingText_->setText(q(fillIn(translate("MenuContent", "Screen shared with %1"), {names})));
    sharing_->setVisible(!sharing.empty());

    std::vector<std::string> connected;
    for (const auto& [key, text] : core.active()) connected.push_back(text);
    std::sort(connected.begin(), connected.end());
    if (connected != connectedShown_) rebuildConnected(connected);
    connected_->setVisible(!connected.empty());

    rebuildDevices();
    devices_->setVisible(!model_.store().devices().empty());

    const auto& stats = core.lastStats();
    const bool haveStats = stats.is_object() && !stats.empty();
    stats_->setText(haveStats ? q(plainStats(stats)) : QString());
    stats_->setVisible(haveStats);
    const auto event = model_.lastEventText();
    event_->setText(event ? q(*event) : QString());
    event_->setVisible(event.has_value());

    shareFrontApp_->setChecked(model_.shareFrontApp());
    startAtLogin_->setChecked(model_.startAtLogin());
}

void MenuContent::rebuildConnected(const std::vector<std::string>& texts) {
    connectedShown_ = texts;
    // Row 0 is the caption.
    while (connectedRows_->count() > 1) {
        auto* item = connectedRows_->takeAt(1);
        if (auto* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (const auto& text : texts) {
        auto* label = new QLabel(q(text));
        label->setObjectName("connection");
        label->setFont(calloutFont());
        connectedRows_->addWidget(symbolRow(Symbol::lock, label, 14));
    }
}

void MenuContent::rebuildDevices() {
    const auto& devices = model_.store().devices();
    std::string shown;
    for (const auto& d : devices) {
        shown += d.id + '\x1f' + d.name + '\x1f' + std::string(scopeName(d.scope)) + '\x1f' +
                 (d.screen ? (*d.screen ? "1" : "0") : "-") + '\x1e';
    }
    if (shown == devicesShown_) return;
    devicesShown_ = shown;
    // Rows 0 and 1 are the divider and the caption. A row's menu may be the one that changed the
    // store, so old rows go away only once the event loop is back at its top.
    while (deviceRows_->count() > 2) {
        auto* item = deviceRows_->takeAt(2);
        if (auto* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (const auto& d : devices) {
        auto* row = new QWidget;
        row->setObjectName(q("device:" + d.id));
        auto* h = new QHBoxLayout(row);
        h->setContentsMargins(0, 0, 0, 0);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(0);
        auto* name = new QLabel(q(d.name));
        name->setObjectName("deviceName");
        texts->addWidget(name);
        auto* scope = captionLabel(q(scopeText(d.scope)));
        scope->setObjectName("deviceScope");
        texts->addWidget(scope);
        h->addLayout(texts, 1);

        auto* more = new QToolButton;
        more->setObjectName("deviceActions");
        more->setIcon(symbolIcon(Symbol::ellipsis));
        more->setAutoRaise(true);
        more->setPopupMode(QToolButton::InstantPopup);
        more->setStyleSheet("QToolButton::menu-indicator { image: none; }");
        auto* menu = new QMenu(more);
        const std::string id = d.id;
        const bool presenter = d.scope == PairedDevice::Scope::presenter;
        menu->addAction(q(presenter ? translate("MenuContent", "Allow full control")
                                  : translate("MenuContent", "Limit to presenter (no typing)")),
                        this,
                        [this, id, presenter] {
                            // An unsaved change shows in the save warning until it is written.
                            static_cast<void>(model_.setScope(
                                id, presenter ? PairedDevice::Scope::full
                                              : PairedDevice::Scope::presenter));
                        });
        const bool granted = d.screen.value_or(false);
        menu->addAction(q(granted ? translate("MenuContent", "Stop allowing screen viewing")
                                : translate("MenuContent", "Reset screen-viewing permission")),
                        this, [this, id] { static_cast<void>(model_.resetScreen(id)); });
        menu->addSeparator();
        menu->addAction(q(translate("MenuContent", "Remove\u2026")), this, [this, id] { askRemove(id); });
        more->setMenu(menu);
        const auto actionsFor = q(fillIn(translate("MenuContent", "Actions for %1"), {d.name}));
        more->setAccessibleName(actionsFor);
        more->setToolTip(actionsFor);
        h->addWidget(more, 0, Qt::AlignVCenter);
        deviceRows_->addWidget(row);
    }
}

void MenuContent::askRemove(const std::string& id) {
    const auto device = model_.store().deviceById(id);
    if (!device) return;
    if (confirm_) {
        confirm_->deleteLater();
        confirm_ = nullptr;
    }
    confirmRemove_ = id;
    confirm_ = new QMessageBox(window());
    confirm_->setObjectName("removeConfirmation");
    confirm_->setWindowTitle("Tamborix Helper");
    confirm_->setIcon(QMessageBox::Warning);
    confirm_->setText(q(fillIn(translate("MenuContent", "Remove %1?"), {device->name})));
    confirm_->setInformativeText(q(translate("MenuContent", "It will be disconnected immediately and must pair again.")));
    auto* remove = confirm_->addButton(q(translate("MenuContent", "Remove")), QMessageBox::DestructiveRole);
    remove->setObjectName("remove");
    auto* cancel = confirm_->addButton(q(translate("MenuContent", "Cancel")), QMessageBox::RejectRole);
    cancel->setObjectName("cancel");
    confirm_->setDefaultButton(cancel);
    confirm_->setEscapeButton(cancel);
    confirm_->setWindowModality(Qt::NonModal);
    QMessageBox* box = confirm_;
    connect(box, &QMessageBox::finished, this, [this, box, remove] {
        const bool doRemove = box->clickedButton() == remove;
        const auto target = std::exchange(confirmRemove_, std::nullopt);
        if (confirm_ == box) confirm_ = nullptr;
        box->deleteLater();
        if (doRemove && target) static_cast<void>(model_.revoke(*target));
    });
    confirm_->show();
    confirm_->raise();
    confirm_->activateWindow();
}

}  // namespace tamborix::ui
