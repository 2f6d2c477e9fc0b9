#pragma once
// The stand-in panel of the StatusNotifierItem tray test (fake_status_notifier_watcher.py).

#include "support/child_process.h"

namespace tamborix::testing {

ChildProcess& panel();

}  // namespace tamborix::testing
