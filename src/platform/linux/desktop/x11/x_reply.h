#pragma once
// Owning pointers for what xcb hands back with malloc (replies, events, errors).

#include <cstdlib>
#include <memory>

namespace tamborix::x11 {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using XReply = std::unique_ptr<T, FreeDeleter>;

}  // namespace tamborix::x11
