#pragma once
// Whole-file private writes of one file, either at once or on a worker thread. A write of either
// kind carries the newest state: a later snapshot always wins over an earlier one, whichever
// finishes first, so a slow background write can never bring back older contents.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/worker.h"

namespace tamborix {

class FileWriter {
public:
    explicit FileWriter(std::filesystem::path path);
    // Waits for a write in progress; a snapshot still queued is written first.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Writes now (waiting for a background write in progress) and drops any queued snapshot,
    // which is older than `data`. False when the file could not be written; `error` (when given)
    // then says why.
    [[nodiscard]] bool writeNow(std::string_view data, std::string* error = nullptr);
    // Queues `data` for the worker, replacing a snapshot that is still queued; returns at once.
    void writeLater(std::string data);
    // Until nothing is queued or being written (tests, orderly exits).
    void waitIdle();
    // Whether the last background write failed (cleared by the next successful write).
    [[nodiscard]] bool lastLaterFailed();
    // Runs on the worker thread with the reason whenever a background write fails. Set before the
    // first writeLater.
    void onLaterFailure(std::function<void(std::string)> handler) { laterFailure_ = std::move(handler); }

private:
    void writeQueued();
    bool writeIfNewest(std::string_view data, std::uint64_t sequence, std::string* error);

    std::filesystem::path path_;
    std::mutex mutex_;  // guards the members below
    std::optional<std::string> queued_;
    std::uint64_t queuedSequence_ = 0;
    std::uint64_t nextSequence_ = 0;
    bool jobPosted_ = false;  // the worker will write what is queued
    bool laterFailed_ = false;
    std::mutex fileMutex_;  // one write of the file at a time; guards writtenSequence_
    std::uint64_t writtenSequence_ = 0;
    std::function<void(std::string)> laterFailure_;
    Worker worker_{Worker::AtStop::runQueued};  // started with the first background write
};

}  // namespace tamborix
