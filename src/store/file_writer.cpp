#include "store/file_writer.h"

#include <utility>

#include "store/private_file.h"

namespace tamborix {

FileWriter::FileWriter(std::filesystem::path path) : path_(std::move(path)) {}

FileWriter::~FileWriter() { worker_.stop(); }

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
        if (std::exchange(jobPosted_, true)) return;
    }
    worker_.post([this] { writeQueued(); });
}

void FileWriter::waitIdle() { worker_.waitIdle(); }

bool FileWriter::lastLaterFailed() {
    std::lock_guard lock(mutex_);
    return laterFailed_;
}

void FileWriter::writeQueued() {
    std::string data;
    std::uint64_t sequence = 0;
    {
        std::lock_guard lock(mutex_);
        jobPosted_ = false;
        if (!queued_) return;  // written at once in the meantime
        data = std::move(*queued_);
        queued_.reset();
        sequence = queuedSequence_;
    }
    std::string error;
    const bool ok = writeIfNewest(data, sequence, &error);
    if (!ok && laterFailure_) laterFailure_(std::move(error));
    std::lock_guard lock(mutex_);
    laterFailed_ = !ok;
}

}  // namespace tamborix
