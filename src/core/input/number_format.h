#pragma once

#include <string>

namespace tamborix {

// The shortest decimal text that reads back to the same double, always with a fractional part or
// an exponent: 3 → "3.0", -0.5 → "-0.5", 0.00001 → "1e-05". Dry-run lines print numbers this way.
[[nodiscard]] std::string formatDouble(double v);

}  // namespace tamborix
