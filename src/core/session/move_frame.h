#pragma once
// The command a phone sends up to 120 times a second, {"t":"move","dx":…,"dy":…}, read without
// building a JSON document. Only the compact form is taken: the members "t", "dx" and "dy" in any
// order, each at most once, no spaces, no escapes, plain JSON numbers. Anything else (another
// member, a batch, a number the general parser would read differently) is left to the general
// path, so both paths give the same values.

#include <optional>

#include "protocol/bytes.h"

namespace tamborix {

struct MoveFrame {
    double dx = 0;  // absent members are 0, as for the general path
    double dy = 0;
};

[[nodiscard]] std::optional<MoveFrame> readMoveFrame(ByteView plaintext);

}  // namespace tamborix
