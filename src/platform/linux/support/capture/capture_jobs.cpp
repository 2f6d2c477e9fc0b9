#include "platform/linux/support/capture/capture_jobs.h"

#include <exception>
#include <utility>

#include "platform/linux/support/capture/encoder_thread.h"

namespace tamborix::jpeg {

CaptureJobs::CaptureJobs(MainLoop& loop, const char* threadName, Make make)
    : loop_(loop), make_(std::move(make)) {
    worker_.post([threadName] { becomeEncoderThread(threadName); });
}

CaptureJobs::~CaptureJobs() {
    worker_.stop();
    for (auto& job : queue_) finish(std::move(job.waiting), Made{});
}

void CaptureJobs::add(const CaptureRequest& request, ScreenCapture::Done done) {
    addWaiter(request, {{}, [done = std::move(done)](std::optional<FinishedPicture> picture) {
                  if (!picture) return done(std::nullopt);
                  done(std::move(picture->jpeg));
              }});
}

void CaptureJobs::add(const CaptureRequest& request, ScreenCapture::Finish finish,
                      ScreenCapture::FinishedDone done) {
    addWaiter(request, {std::move(finish), std::move(done)});
}

void CaptureJobs::addWaiter(const CaptureRequest& request, Waiter waiter) {
    {
        std::lock_guard lock(mutex_);
        Job* same = current_ && current_->request == request ? current_.get() : nullptr;
        for (auto it = queue_.begin(); !same && it != queue_.end(); ++it) {
            if (it->request == request) same = &*it;
        }
        if (same) {
            same->waiting.push_back(std::move(waiter));
            ++counters_.joined;
            return;
        }
        queue_.push_back(Job{request, {}});
        queue_.back().waiting.push_back(std::move(waiter));
    }
    worker_.post([this] { makeNext(); });
}

CaptureJobs::Counters CaptureJobs::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void CaptureJobs::finish(std::vector<Waiter> waiting, Made made) {
    std::vector<std::optional<FinishedPicture>> answers(waiting.size());
    for (std::size_t i = 0; made.jpeg && !made.jpeg->empty() && i < waiting.size(); ++i) {
        auto& answer = answers[i];
        answer = FinishedPicture{i + 1 == waiting.size() ? std::move(*made.jpeg) : *made.jpeg, {}, made.pointer};
        if (!waiting[i].finish) continue;
        try {
            answer->lines = waiting[i].finish(answer->jpeg);
        } catch (const std::exception&) {
            answer.reset();  // answered with nothing, like a failed capture
        }
    }
    loop_.post([waiting = std::move(waiting), answers = std::move(answers)]() mutable {
        for (std::size_t i = 0; i < waiting.size(); ++i) waiting[i].done(std::move(answers[i]));
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
    std::vector<Waiter> waiting;
    {
        std::lock_guard lock(mutex_);
        waiting = std::move(current_->waiting);
        current_.reset();
        ++(made.jpeg ? (made.reused ? counters_.reused : counters_.encoded) : counters_.failed);
    }
    finish(std::move(waiting), std::move(made));
}

}  // namespace tamborix::jpeg
