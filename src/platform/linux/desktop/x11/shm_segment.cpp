#include "platform/linux/desktop/x11/shm_segment.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"
#include "platform/linux/desktop/x11/x_reply.h"

namespace tamborix::x11 {

std::unique_ptr<ShmSegment> ShmSegment::create(xcb_connection_t* conn, std::size_t bytes,
                                               std::string& error) {
    UniqueFd fd(::memfd_create("tamborix-capture", MFD_CLOEXEC));
    if (!fd) {
        error = std::string("memfd_create: ") + std::strerror(errno);
        return nullptr;
    }
    if (::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) {
        error = std::string("ftruncate: ") + std::strerror(errno);
        return nullptr;
    }
    Mapping map(fd.get(), bytes, PROT_READ | PROT_WRITE, MAP_SHARED);
    if (!map.valid()) {
        error = std::string("mmap: ") + std::strerror(errno);
        return nullptr;
    }
    const xcb_shm_seg_t id = xcb_generate_id(conn);
    // xcb passes the descriptor to the server and closes our copy; the mapping keeps the memory.
    XReply<xcb_generic_error_t> failure(
        xcb_request_check(conn, xcb_shm_attach_fd_checked(conn, id, fd.release(), 0)));
    if (failure || xcb_connection_has_error(conn)) {
        error = failure ? "the X server refused the shared segment (error " +
                              std::to_string(failure->error_code) + ")"
                        : "the X connection broke while attaching the shared segment";
        return nullptr;
    }
    return std::unique_ptr<ShmSegment>(new ShmSegment(conn, id, std::move(map)));
}

ShmSegment::~ShmSegment() {
    xcb_shm_detach(conn_, id_);
    xcb_flush(conn_);
}

}  // namespace tamborix::x11
