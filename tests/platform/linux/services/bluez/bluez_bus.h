#pragma once
#include <string>

#include "support/qt_spin.h"

namespace tamborix::testing {

// The private system bus of this test program ("" when dbus-daemon is missing).
extern std::string privateSystemBus;

}  // namespace tamborix::testing
