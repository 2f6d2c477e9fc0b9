#include "platform/linux/support/capture/capture_jobs.h"

#include <utility>

#include "platform/linux/support/capture/encoder_thread.h"

namespace tamborix::jpeg {

CaptureJobs::CaptureJobs(MainLoop& loop, const char* threadName, Make make)
    : loop_(loop), make_(std::move(make)) {
    worker_.post([threadName] { becomeEncoderThread(threadName); });
}

CaptureJobs::~CaptureJobs() {
    worker_.stop();
    for (auto& job : queue_) finish(std::move(job.waiting), std::nullopt);
}

void CaptureJobs::add(const CaptureRequest& request, ScreenCapture::Done done) {
    {
        std::lock_guard lock(mutex_);
        Job* same = current_ && current_->request == request ? current_.get() : nullptr;
        for (auto it = queue_.begin(); !same && it != queue_.end(); ++it) {
            if (it->request == request) same = &*it;
        }
        if (same) {
            same->waiting.push_back(std::move(done));
            ++counters_.joined;
            return;
        }
        queue_.push_back(Job{request, {}});
        queue_.back().waiting.push_back(std::move(done));
    }
    worker_.post([this] { makeNext(); });
}

CaptureJobs::Counters CaptureJobs::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void CaptureJobs::finish(std::vector<ScreenCapture::Done> waiting, std::optional<Bytes> jpeg) {
    loop_.post([waiting = std::move(waiting), jpeg = std::move(jpeg)]() mutable {
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            waiting[i](i + 1 == waiting.size() ? std::move(jpeg) : jpeg);
        }
    });
}

void CaptureJobs::makeNext() {
    CaptureRequest request;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return;
        current_ = std::make_unique<Job>(std::move(queue_.front()));
        queue_.pop_front();
        request = current_->request;
    }
    Made made = make_(request);
    std::vector<ScreenCapture::Done> waiting;
    {
        std::lock_guard lock(mutex_);
        waiting = std::move(current_->waiting);
        current_.reset();
        ++(made.jpeg ? (made.reused ? counters_.reused : counters_.encoded) : counters_.failed);
    }
    finish(std::move(waiting), std::move(made.jpeg));
}

}  // namespace tamborix::jpeg
