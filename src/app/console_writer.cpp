#include "app/console_writer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace tamborix {

struct ConsoleWriter::State {
    int fd = -1;
    std::size_t limit = 0;
    std::mutex mutex;  // guards the members below
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;
    bool flushQueued = false;  // a job will write what waits
    bool broken = false;       // the reader is gone: nothing more is kept
};

namespace {

// False once the reader is gone.
bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes everything that waits at once; lines queued meanwhile wait for the next job.
void flush(ConsoleWriter::State& s) {
    std::unique_lock lock(s.mutex);
    s.flushQueued = false;
    std::string text;
    if (s.dropped > 0) {
        text = "(" + std::to_string(s.dropped) + " earlier lines not shown)\n";
        s.dropped = 0;
    }
    for (auto& line : s.queue) text += line;
    s.queue.clear();
    s.queuedBytes = 0;
    if (text.empty()) return;
    lock.unlock();
    const bool ok = writeAll(s.fd, text);
    lock.lock();
    if (!ok) {
        s.broken = true;
        s.queue.clear();
        s.queuedBytes = 0;
        s.dropped = 0;
    }
}

}  // namespace

ConsoleWriter::ConsoleWriter(int fd, std::size_t limit) : state_(std::make_shared<State>()) {
    state_->fd = fd;
    state_->limit = limit;
}

ConsoleWriter::~ConsoleWriter() {
    // A write stuck past the limit ends with the process; its job keeps the state alive.
    (void)worker_.stopWithin(std::chrono::seconds(2));
}

void ConsoleWriter::write(std::string_view line) {
    std::unique_lock lock(state_->mutex);
    if (state_->broken) return;
    std::string entry(line);
    entry += '\n';
    state_->queuedBytes += entry.size();
    state_->queue.push_back(std::move(entry));
    while (state_->queuedBytes > state_->limit && state_->queue.size() > 1) {
        state_->queuedBytes -= state_->queue.front().size();
        state_->queue.pop_front();
        ++state_->dropped;
    }
    if (std::exchange(state_->flushQueued, true)) return;
    lock.unlock();
    worker_.post([s = state_] { flush(*s); });
}

}  // namespace tamborix
