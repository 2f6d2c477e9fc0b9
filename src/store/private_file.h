#pragma once
// Whole-file reads and owner-only, crash-safe whole-file writes for the store's folder.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/bytes.h"

namespace tamborix {

// Writes `data` to `path` through "<path>.tmp" (mode 0600), synced to disk before it replaces the
// target, and syncs the folder afterwards, so a crash leaves the old or the new file, never a torn
// one. On failure the target is untouched, the temporary file removed, and `error` (when given)
// says what went wrong ("cannot write: No space left on device").
bool writePrivate(ByteView data, const std::filesystem::path& path, std::string* error = nullptr);
// The same for a file that is not secret (`mode` for example 0644).
bool writeWithMode(ByteView data, const std::filesystem::path& path, unsigned mode,
                   std::string* error = nullptr);
inline bool writePrivate(std::string_view data, const std::filesystem::path& path,
                         std::string* error = nullptr) {
    return writePrivate(
        ByteView(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), path, error);
}

struct FileRead {
    enum class Status { ok, missing, failed };
    Status status = Status::failed;
    std::string contents;
    std::string error;  // why it failed
};
// Reads a regular file whole; larger than `limit` bytes counts as a failed read. A symbolic link,
// a FIFO or a device in its place is refused without being followed, opened for long or read.
[[nodiscard]] FileRead readWholeFile(const std::filesystem::path& path, std::size_t limit);

// Creates `folder` and any missing parents with mode 0700, and makes an existing `folder` of ours
// owner-only (its existing parents are left as they are).
bool createPrivateFolder(const std::filesystem::path& folder);

// Creates `folder` and any missing parents with `mode` (never wider, whatever the umask);
// existing folders are left as they are.
bool createFolder(const std::filesystem::path& folder, unsigned mode);

// Renames `path` to `target`; a regular file is made owner-only first. A link is moved as the
// link, never followed. False when it could not be moved.
bool keepAside(const std::filesystem::path& path, const std::filesystem::path& target);

// Creates an empty owner-only file if nothing exists at `path` (a link, even a dangling one,
// counts as something and is never followed); true if something exists afterwards.
bool touchFile(const std::filesystem::path& path);

}  // namespace tamborix
