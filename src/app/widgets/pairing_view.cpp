#include "app/widgets/pairing_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "app/helper_model.h"
#include "app/pairing_link.h"
#include "app/translate.h"
#include "app/widgets/qr_image.h"
#include "app/widgets/style.h"
#include "app/widgets/symbols.h"
#include "core/session/helper_core.h"
#include "store/device_store.h"

namespace tamborix::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

std::string PairingView::countdownText(std::optional<MonoTime> expires, MonoTime now) {
    long long left = 0;
    if (expires && *expires > now) {
        left = std::chrono::duration_cast<std::chrono::seconds>(*expires - now).count();
    }
    const long long s = left % 60;
    return std::to_string(left / 60) + ":" + (s < 10 ? "0" : "") + std::to_string(s);
}

PairingView::PairingView(HelperModel& model, std::function<void()> close, QWidget* parent)
    : QWidget(parent), model_(model), close_(std::move(close)) {
    setObjectName("pairingView");
    setMinimumWidth(360);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);

    auto* title = new QLabel(q(translate("PairingView", "Pair a phone or watch")));
    title->setObjectName("pairingTitle");
    {
        QFont f = headlineFont();
        f.setPointSizeF(f.pointSizeF() * 1.3);
        f.setWeight(QFont::Bold);
        title->setFont(f);
    }
    layout->addWidget(title, 0, Qt::AlignHCenter);

    // Open state.
    openBox_ = new QWidget;
    openBox_->setObjectName("openState");
    {
        auto* box = new QVBoxLayout(openBox_);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(14);
        qr_ = new QLabel;
        qr_->setObjectName("qr");
        qr_->setAccessibleName(q(translate("PairingView", "QR code of the pairing link, to scan with the phone")));
        qr_->setFixedSize(256, 256);
        qr_->setAlignment(Qt::AlignCenter);
        // White all round: the pixels around the code are its quiet zone.
        qr_->setStyleSheet("background: white; border-radius: 10px;");
        box->addWidget(qr_, 0, Qt::AlignHCenter);
        // Broken where a reader pauses, not where the width runs out.
        auto* hint = new QLabel(q(translate("PairingView", "In Tamborix on your iPhone,\ntap \u201CScan pairing QR code\u201D.")));
        hint->setObjectName("scanHint");
        hint->setWordWrap(true);
        hint->setAlignment(Qt::AlignHCenter);
        box->addWidget(hint);
        auto* typeBox = new QVBoxLayout;
        typeBox->setSpacing(2);
        auto* orType = captionLabel(q(translate("PairingView", "Or type this code")));
        orType->setAlignment(Qt::AlignHCenter);
        typeBox->addWidget(orType);
        codeText_ = new QLabel;
        codeText_->setObjectName("code");
        codeText_->setAlignment(Qt::AlignHCenter);
        codeText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont mono("monospace");
        mono.setStyleHint(QFont::Monospace);
        mono.setPixelSize(22);
        mono.setWeight(QFont::DemiBold);
        codeText_->setFont(mono);
        typeBox->addWidget(codeText_);
        box->addLayout(typeBox);
        countdown_ = captionLabel();
        countdown_->setObjectName("countdown");
        countdown_->setAlignment(Qt::AlignHCenter);
        box->addWidget(countdown_);
        auto* cancel = new QPushButton(q(translate("PairingView", "Cancel")));
        cancel->setObjectName("cancel");
        connect(cancel, &QPushButton::clicked, this, [this] {
            if (close_) close_();
        });
        box->addWidget(cancel, 0, Qt::AlignHCenter);
    }
    layout->addWidget(openBox_);

    // Closed state.
    closedBox_ = new QWidget;
    closedBox_->setObjectName("closedState");
    {
        auto* box = new QVBoxLayout(closedBox_);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(14);
        closedSymbol_ = new QLabel;
        closedSymbol_->setObjectName("closedSymbol");
        box->addWidget(closedSymbol_, 0, Qt::AlignHCenter);
        closedText_ = new QLabel;
        closedText_->setObjectName("closedText");
        closedText_->setWordWrap(true);
        closedText_->setAlignment(Qt::AlignHCenter);
        box->addWidget(closedText_);
        auto* row = new QHBoxLayout;
        row->addStretch(1);
        auto* another = new QPushButton(q(translate("PairingView", "Pair Another")));
        another->setObjectName("pairAnother");
        connect(another, &QPushButton::clicked, this, [this] { open(); });
        row->addWidget(another);
        done_ = new QPushButton(q(translate("PairingView", "Done")));
        done_->setObjectName("done");
        done_->setDefault(true);
        connect(done_, &QPushButton::clicked, this, [this] {
            if (close_) close_();
        });
        row->addWidget(done_);
        row->addStretch(1);
        box->addLayout(row);
    }
    layout->addWidget(closedBox_);
    layout->addStretch(1);

    auto* footer = new QLabel(q(thisComputerLine(model_.identityFingerprint())));
    footer->setObjectName("footer");
    {
        footer->setFont(captionFont());
        QPalette p = footer->palette();
        QColor c = p.color(QPalette::WindowText);
        c.setAlphaF(0.45);
        p.setColor(QPalette::WindowText, c);
        footer->setPalette(p);
        footer->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    layout->addWidget(footer, 0, Qt::AlignHCenter);
    auto* compare = captionLabel(q(translate("PairingView", "Your phone shows this computer's key too: check that they match.")));
    compare->setObjectName("compareHint");
    compare->setAlignment(Qt::AlignHCenter);
    layout->addWidget(compare);

    // The store and the core may change inside a handler that is still using them (a pairing
    // completing); read them again on the next turn.
    subscription_ = model_.subscribe([this, alive = life_.watch()](HelperModel::Change change) {
        if (change != HelperModel::Change::store && change != HelperModel::Change::event &&
            change != HelperModel::Change::core) {
            return;
        }
        QTimer::singleShot(0, this, [this, alive] {
            if (alive) refresh();
        });
    });
    tick_ = model_.loop().repeating(seconds(1.0), [this, alive = life_.watch()] {
        if (alive) refresh();
    });
    refresh();
}

PairingView::~PairingView() {
    life_.end();
    tick_.reset();
    subscription_.reset();
    // No code stays valid without a visible window.
    if (opened_) model_.closePairing();
}

void PairingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!opened_) open();
}

void PairingView::open() {
    opened_ = true;
    const auto pairing = model_.openPairing();
    refusal_ = pairing.refusal;
    if (pairing.code.empty()) {
        code_.reset();
        uri_.clear();
        refresh();
        return;
    }
    code_ = pairing.code;
    generation_ = model_.pairingProgress().generation;
    uri_ = pairing.link;
    const QImage image = qrImage(uri_, 8);
    if (image.isNull()) {
        qr_->clear();
        qr_->setVisible(false);
    } else {
        // Scaled without smoothing, so module edges stay sharp.
        qr_->setPixmap(QPixmap::fromImage(image.scaled(240, 240, Qt::KeepAspectRatio,
                                                       Qt::FastTransformation)));
        qr_->setVisible(true);
    }
    codeText_->setText(q(prettyPairCode(*code_)));
    codeText_->setAccessibleName(q(fillIn(translate("PairingView", "Pairing code %1"), {prettyPairCode(*code_)})));
    refresh();
}

void PairingView::refresh() {
    auto& store = model_.store();
    const auto progress = model_.pairingProgress();
    const bool mine = code_.has_value() && progress.generation == generation_;
    const bool open = mine && store.pairingOpen();
    openState_ = open;
    openBox_->setVisible(open);
    closedBox_->setVisible(!open);
    countdown_->setText(q(fillIn(translate("PairingView", "Expires in %1 \u00B7 works once"),
                                 {countdownText(store.pairExpires(), model_.loop().now())})));

    // Success only for this window's own code; whatever else happened meanwhile is not its news.
    Symbol symbol = Symbol::info;
    QString symbolName = q(translate("PairingView", "Information"));
    std::string text = pairingClosedText();
    if (!refusal_.empty()) {
        symbol = Symbol::warning;
        symbolName = q(translate("PairingView", "Warning"));
        text = refusal_;
    } else if (mine) {
        text = pairingOutcomeText(progress);
        switch (progress.stage) {
            case PairingProgress::Stage::paired:
                symbol = Symbol::shieldCheck;
                symbolName = q(translate("PairingView", "Paired"));
                break;
            case PairingProgress::Stage::denied:
            case PairingProgress::Stage::unanswered:
            case PairingProgress::Stage::notStored:
            case PairingProgress::Stage::wrongCodes:
                symbol = Symbol::warning;
                symbolName = q(translate("PairingView", "Warning"));
                break;
            default: break;
        }
    }
    if (closedSymbol_->accessibleName() != symbolName) {
        closedSymbol_->setPixmap(symbolPixmap(symbol, 48));
        closedSymbol_->setAccessibleName(symbolName);
    }
    closedText_->setText(q(text));
    closedText_->setAccessibleName(q(text));
    if (!open && isVisible()) done_->setFocus();
}

}  // namespace tamborix::ui
