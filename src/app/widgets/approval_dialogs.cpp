#include "app/widgets/approval_dialogs.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/translate.h"
#include "app/widgets/symbols.h"

namespace tamborix::ui {

struct DialogPrompter::Prompt {
    QString text;
    QString informative;
    QString refuse;  // the default button
    Answer answer;
    bool timed = false;  // a pairing prompt: refused after approvalTimeoutSeconds on screen
    Timer timeout;
    QMessageBox* dialog = nullptr;
    QPushButton* allow = nullptr;
};

DialogPrompter::DialogPrompter(MainLoop& loop)
    : loop_(loop) {}

DialogPrompter::~DialogPrompter() {
    life_.end();
    auto prompts = std::move(prompts_);
    for (auto& p : prompts) {
        p->timeout.reset();
        if (p->dialog) {
            p->dialog->disconnect();
            delete p->dialog;
        }
        if (p->answer) p->answer(Approval::denied);
    }
}

QMessageBox* DialogPrompter::current() const {
    return prompts_.empty() ? nullptr : prompts_.front()->dialog;
}

void DialogPrompter::askApproval(const std::string& name, const std::string& fingerprint,
                                 Answer answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->text = QString::fromStdString(
        fillIn(translate("DialogPrompter", "Allow \u201C%1\u201D to control this computer?"), {name}));
    prompt->informative = QString::fromStdString(
        fillIn(translate("DialogPrompter", "It will be able to move the pointer, click and type.\nDevice key: %1"
                                           "\n\nOnly allow devices you own and are pairing right now."),
               {fingerprint}));
    prompt->refuse = QString::fromStdString(translate("DialogPrompter", "Deny"));
    prompt->answer = std::move(answer);
    prompt->timed = true;
    enqueue(std::move(prompt));
}

void DialogPrompter::askScreenApproval(const std::string& name, Answer answer) {
    auto prompt = std::make_unique<Prompt>();
    prompt->text = QString::fromStdString(
        fillIn(translate("DialogPrompter", "Allow \u201C%1\u201D to see your screen?"), {name}));
    prompt->informative = QString::fromStdString(translate(
        "DialogPrompter",
        "It will see whatever is on the monitor it's showing, while Live screen is open on it. "
        "You can change this later in Tamborix Helper \u2192 Paired devices."));
    prompt->refuse = QString::fromStdString(translate("DialogPrompter", "Don't Allow"));
    prompt->answer = std::move(answer);
    enqueue(std::move(prompt));
}

void DialogPrompter::enqueue(std::unique_ptr<Prompt> prompt) {
    prompts_.push_back(std::move(prompt));
    showFront();
}

void DialogPrompter::showFront() {
    if (prompts_.empty() || prompts_.front()->dialog) return;
    Prompt* p = prompts_.front().get();
    auto* box = new QMessageBox;
    box->setObjectName("approvalPrompt");
    box->setWindowTitle("Tamborix Helper");
    // Drawn at the screen's pixel ratio: the style's stock icon is scaled up and blurry at 2x.
    box->setIconPixmap(symbolPixmap(Symbol::warning, 48));
    box->setText(p->text);
    box->setInformativeText(p->informative);
    // A screen reader reads the question and what it means when the dialog appears.
    box->setAccessibleName(p->text);
    box->setAccessibleDescription(p->informative);
    auto* refuse = box->addButton(p->refuse, QMessageBox::RejectRole);
    refuse->setObjectName("refuse");
    p->allow = box->addButton(QString::fromStdString(translate("DialogPrompter", "Allow")), QMessageBox::AcceptRole);
    p->allow->setObjectName("allow");
    box->setDefaultButton(refuse);
    box->setEscapeButton(refuse);
    box->setWindowModality(Qt::NonModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    p->dialog = box;
    QObject::connect(box, &QMessageBox::finished, box, [this, alive = life_.watch(), p, box] {
        if (alive) finish(p, box->clickedButton() == p->allow ? Approval::allowed : Approval::denied);
    });
    box->show();
    box->raise();
    box->activateWindow();
    if (p->timed) {
        p->timeout = loop_.singleShot(seconds(approvalTimeoutSeconds), [this, alive = life_.watch(), p] {
            if (alive) finish(p, Approval::unanswered);
        });
    }
}

void DialogPrompter::finish(Prompt* prompt, Approval result) {
    for (auto it = prompts_.begin(); it != prompts_.end(); ++it) {
        if (it->get() != prompt) continue;
        auto owned = std::move(*it);
        prompts_.erase(it);
        owned->timeout.reset();
        if (owned->dialog) {
            // Answered or timed out: the dialog goes, without a second answer.
            owned->dialog->disconnect();
            owned->dialog->hide();
            owned->dialog->deleteLater();
        }
        auto answer = std::move(owned->answer);
        owned.reset();
        const auto alive = life_.watch();
        if (answer) answer(result);
        if (alive) showFront();
        return;
    }
}

}  // namespace tamborix::ui
