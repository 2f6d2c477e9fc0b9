#pragma once
// The one owning pointer for what a C library hands out: `Owned<T, release>` calls `release` on
// a non-null pointer when dropped (xcb replies, GLib and GIO objects, PipeWire objects, ...).

#include <cstdlib>
#include <memory>

namespace tamborix {

template <auto Release>
struct ReleaseWith {
    template <class T>
    void operator()(T* p) const noexcept {
        if (p) Release(p);
    }
};

template <class T, auto Release>
using Owned = std::unique_ptr<T, ReleaseWith<Release>>;

// For memory a library hands out from malloc (xcb replies, events and errors).
inline void freeMalloced(void* p) noexcept { std::free(p); }

template <class T>
using Malloced = Owned<T, freeMalloced>;

}  // namespace tamborix
