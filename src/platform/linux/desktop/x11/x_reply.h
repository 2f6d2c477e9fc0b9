#pragma once
// Owning pointers for what xcb hands out: a connection, and what it allocates with malloc
// (replies, events, errors).

#include <xcb/xcb.h>

#include "base/owned.h"

namespace tamborix::x11 {

template <class T>
using XReply = Malloced<T>;

using XcbConnection = Owned<xcb_connection_t, xcb_disconnect>;

}  // namespace tamborix::x11
