#pragma once

#include <string>
#include <vector>

namespace tamborix::testing {

// The environment of a screen reader on the test's desktop (its session bus, its display).
const std::vector<std::string>& atspiEnvironment();

}  // namespace tamborix::testing
