#pragma once
// The dry run's record of what the helper would have done, one line per action in the order the
// actions were asked for. Only a dry run has one; its recording backends write to it.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <utility>

namespace tamborix {

class ActionJournal {
public:
    // At `trimThreshold` lines or more before an append, the oldest `trimCount` go.
    static constexpr std::size_t trimThreshold = 1000;
    static constexpr std::size_t trimCount = 500;

    void record(std::string line) {
        const bool trim = lines_.size() >= trimThreshold;
        if (onRecord_) onRecord_(line);
        lines_.push_back(std::move(line));
        if (trim) lines_.erase(lines_.begin(), lines_.begin() + trimCount);
    }

    [[nodiscard]] const std::deque<std::string>& lines() const { return lines_; }

    // Called with every line as it is recorded (the application mirrors them to a file).
    void setOnRecord(std::function<void(const std::string&)> fn) { onRecord_ = std::move(fn); }

private:
    std::deque<std::string> lines_;
    std::function<void(const std::string&)> onRecord_;
};

}  // namespace tamborix
