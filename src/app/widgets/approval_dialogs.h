#pragma once
// The approval prompts as dialogs: one at a time, raised above other windows, without blocking
// the event loop (the phones keep being served while a prompt waits). Later requests queue; each
// is answered exactly once. A pairing prompt refuses by itself 60 seconds after it was asked.

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/approval_prompter.h"
#include "base/liveness.h"
#include "ports/main_loop.h"

class QMessageBox;

namespace tamborix::ui {

class DialogPrompter final : public ApprovalPrompter {
public:
    static constexpr double approvalTimeoutSeconds = 60.0;

    explicit DialogPrompter(MainLoop& loop);
    ~DialogPrompter() override;  // refuses everything still waiting
    DialogPrompter(const DialogPrompter&) = delete;
    DialogPrompter& operator=(const DialogPrompter&) = delete;

    void askApproval(const std::string& name, const std::string& fingerprint,
                     std::function<void(bool)> answer) override;
    void askScreenApproval(const std::string& name, std::function<void(bool)> answer) override;

    // The dialog on screen, if any.
    [[nodiscard]] QMessageBox* current() const;
    [[nodiscard]] std::size_t waiting() const noexcept { return prompts_.size(); }

private:
    struct Prompt;

    void enqueue(std::unique_ptr<Prompt> prompt);
    void showFront();
    void finish(Prompt* prompt, bool allowed);

    MainLoop& loop_;
    std::deque<std::unique_ptr<Prompt>> prompts_;
    Liveness life_;
};

}  // namespace tamborix::ui
