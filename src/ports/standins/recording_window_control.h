#pragma once
// The dry run's windows: every placement is recorded and counts as made; no window is read or
// moved.

#include <optional>
#include <string>
#include <string_view>

#include "ports/action_journal.h"
#include "ports/window_control.h"

namespace tamborix {

class RecordingWindowControl final : public WindowControl {
public:
    explicit RecordingWindowControl(ActionJournal& journal) : journal_(journal) {}

    [[nodiscard]] std::optional<WindowHandle> frontWindow() const override { return std::nullopt; }
    [[nodiscard]] std::optional<Rect> frame(WindowHandle) const override { return std::nullopt; }
    bool setFrame(WindowHandle, const Rect&) override { return false; }
    [[nodiscard]] std::optional<bool> place(std::string_view op) override {
        journal_.record("window " + std::string(op));
        return true;
    }

private:
    ActionJournal& journal_;
};

}  // namespace tamborix
