#include "store/file_writer.h"

#include <utility>

#include "store/private_file.h"

namespace tamborix {

FileWriter::FileWriter(std::filesystem::path path) : path_(std::move(path)) {}

FileWriter::~FileWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

bool FileWriter::writeIfNewest(std::string_view data, std::uint64_t sequence,
                               std::string* error) {
    std::lock_guard file(fileMutex_);
    if (sequence < writtenSequence_) return true;  // a newer state is on disk already
    if (!writePrivate(data, path_, error)) return false;
    writtenSequence_ = sequence;
    return true;
}

bool FileWriter::writeNow(std::string_view data, std::string* error) {
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(mutex_);
        sequence = ++nextSequence_;
        queued_.reset();
    }
    return writeIfNewest(data, sequence, error);
}

void FileWriter::writeLater(std::string data) {
    {
        std::lock_guard lock(mutex_);
        queued_ = std::move(data);
        queuedSequence_ = ++nextSequence_;
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

void FileWriter::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !queued_ && !busy_; });
}

bool FileWriter::lastLaterFailed() {
    std::lock_guard lock(mutex_);
    return laterFailed_;
}

void FileWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return queued_ || stopping_; });
        if (!queued_) return;  // stopping with nothing left to write
        std::string data = std::move(*queued_);
        queued_.reset();
        const auto sequence = queuedSequence_;
        busy_ = true;
        lock.unlock();
        std::string error;
        const bool ok = writeIfNewest(data, sequence, &error);
        if (!ok && laterFailure_) laterFailure_(std::move(error));
        lock.lock();
        busy_ = false;
        laterFailed_ = !ok;
        if (!queued_) idle_.notify_all();
    }
}

}  // namespace tamborix
