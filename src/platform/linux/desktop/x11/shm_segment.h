#pragma once
// A shared-memory segment both this process and the X server map, so that an image travels
// without being copied through the socket. Created from a memfd (MIT-SHM 1.2), which the kernel
// frees with the last mapping, so a crash leaves nothing behind in /dev/shm or the SysV tables.

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <string>

#include "base/mapping.h"

namespace tamborix::x11 {

class ShmSegment {
public:
    // Null with the reason in `error` when the server cannot attach it (see ScreenGrabber for
    // when shared memory is tried at all).
    [[nodiscard]] static std::unique_ptr<ShmSegment> create(xcb_connection_t* conn, std::size_t bytes,
                                                            std::string& error);
    ~ShmSegment();  // detaches on the server, then unmaps
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    [[nodiscard]] xcb_shm_seg_t id() const noexcept { return id_; }
    [[nodiscard]] std::uint8_t* data() const noexcept { return static_cast<std::uint8_t*>(map_.data()); }
    [[nodiscard]] std::size_t size() const noexcept { return map_.size(); }

private:
    ShmSegment(xcb_connection_t* conn, xcb_shm_seg_t id, Mapping map)
        : conn_(conn), id_(id), map_(std::move(map)) {}

    xcb_connection_t* conn_;
    xcb_shm_seg_t id_;
    Mapping map_;
};

}  // namespace tamborix::x11
