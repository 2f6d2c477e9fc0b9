#include "core/recording/recording_input.h"

#include <algorithm>
#include <cmath>

#include "core/input/number_format.h"
#include "core/input/text_units.h"

namespace tamborix {

namespace {

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

void RecordingInput::move(double dx, double dy) {
    journal_.record("move " + formatDouble(dx) + " " + formatDouble(dy));
}

void RecordingInput::click(std::string_view button, int count) {
    for (int i = 0; i < count; ++i)
        journal_.record("click " + std::string(button) + " " + std::to_string(clicks_.next(button, loop_.now())));
}

void RecordingInput::down(std::string_view button) {
    held_.emplace(button);
    journal_.record("down " + std::string(button));
}

void RecordingInput::up(std::string_view button) {
    if (auto it = held_.find(button); it != held_.end()) held_.erase(it);
    journal_.record("up " + std::string(button));
}

void RecordingInput::releaseAll() {
    while (!held_.empty()) {
        const std::string name = *held_.begin();
        held_.erase(held_.begin());
        journal_.record("up " + name);
    }
}

void RecordingInput::scroll(double dx, double dy) {
    journal_.record("scroll " + formatDouble(dx) + " " + formatDouble(dy));
}

void RecordingInput::key(std::string_view name, const std::vector<std::string>& mods) {
    std::vector<std::string> sorted = mods;
    std::sort(sorted.begin(), sorted.end());
    std::string line = "key " + std::string(name) + " [";
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0) line += ", ";
        line += quoted(sorted[i]);
    }
    journal_.record(line + "]");
}

void RecordingInput::text(std::string_view s) {
    journal_.record("text " + std::to_string(textunits::characterCount(textunits::toUtf16(s))));
}

void RecordingInput::tapAt(Point p) {
    journal_.record("tap " + std::to_string(static_cast<long long>(std::trunc(p.x))) + "," +
                    std::to_string(static_cast<long long>(std::trunc(p.y))));
}

}  // namespace tamborix
