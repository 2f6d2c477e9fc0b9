#pragma once
// Lines for standard output, written by a thread of their own, so that a reader that stops
// reading (a full pipe, a terminal paused with Ctrl-S, a slow log collector) never stops the
// helper's main loop. Past `limit` bytes waiting, the oldest waiting lines give way to newer ones
// and a note says how many were not shown.

#include <cstddef>
#include <memory>
#include <string_view>

#include "base/worker.h"

namespace tamborix {

class ConsoleWriter {
public:
    explicit ConsoleWriter(int fd, std::size_t limit = 256 * 1024);
    // Writes what waits, giving a stuck reader at most two seconds.
    ~ConsoleWriter();
    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    // Queues `line` and a line feed; never waits for the reader.
    void write(std::string_view line);

    struct State;

private:
    std::shared_ptr<State> state_;  // shared with the jobs, which may outlive a stuck exit
    Worker worker_{Worker::AtStop::runQueued};
};

}  // namespace tamborix
