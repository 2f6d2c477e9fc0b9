#include "app/console_writer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tamborix {

struct ConsoleWriter::State {
    int fd = -1;
    std::size_t limit = 0;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;
    bool writing = false;
    bool stopping = false;
    bool broken = false;  // the reader is gone: nothing more is kept
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

void run(const std::shared_ptr<ConsoleWriter::State>& s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        s->wake.wait(lock, [&] { return !s->queue.empty() || s->dropped > 0 || s->stopping; });
        if (s->queue.empty() && s->dropped == 0) return;  // stopping, everything written
        std::string text;
        if (s->dropped > 0) {
            text = "(" + std::to_string(s->dropped) + " earlier lines not shown)\n";
            s->dropped = 0;
        }
        for (auto& line : s->queue) text += line;
        s->queue.clear();
        s->queuedBytes = 0;
        s->writing = true;
        lock.unlock();
        const bool ok = writeAll(s->fd, text);
        lock.lock();
        s->writing = false;
        if (!ok) {
            s->broken = true;
            s->queue.clear();
            s->queuedBytes = 0;
            s->dropped = 0;
        }
        if (s->queue.empty() && s->dropped == 0) s->idle.notify_all();
    }
}

}  // namespace

ConsoleWriter::ConsoleWriter(int fd, std::size_t limit) : state_(std::make_shared<State>()) {
    state_->fd = fd;
    state_->limit = limit;
    thread_ = std::thread([s = state_] { run(s); });
}

ConsoleWriter::~ConsoleWriter() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_one();
    const bool drained = state_->idle.wait_for(lock, std::chrono::seconds(2), [&] {
        return state_->queue.empty() && state_->dropped == 0 && !state_->writing;
    });
    lock.unlock();
    if (drained)
        thread_.join();
    else
        thread_.detach();  // stuck in write(): it ends with the process and owns its state
}

void ConsoleWriter::write(std::string_view line) {
    std::lock_guard lock(state_->mutex);
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
    state_->wake.notify_one();
}

}  // namespace tamborix
