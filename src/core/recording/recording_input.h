#pragma once
// The dry run's input: every action is written to the journal in the words of the log ("move 5.0
// -2.0", "click right 2", "key k [\"cmd\", \"shift\"]", "text 8", "tap 480,540") and nothing is
// posted. Buttons held and clicks numbered as the real input numbers them.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ports/action_journal.h"
#include "ports/input_actions.h"
#include "ports/main_loop.h"

namespace tamborix {

class RecordingInput final : public InputActions {
public:
    RecordingInput(MainLoop& loop, ActionJournal& journal) : loop_(loop), journal_(journal) {}

    void move(double dx, double dy) override;
    void click(std::string_view button, int count) override;
    void down(std::string_view button) override;
    void up(std::string_view button) override;
    void releaseAll() override;
    void scroll(double dx, double dy) override;
    void key(std::string_view name, const std::vector<std::string>& mods) override;
    void text(std::string_view s) override;
    void tapAt(Point p) override;

private:
    MainLoop& loop_;
    ActionJournal& journal_;
    std::set<std::string, std::less<>> held_;
    ClickSeries clicks_;
};

}  // namespace tamborix
