#pragma once
// The live view as a phone receives it: "scr" chunks put back together into JPEG files.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "protocol/bytes.h"

namespace tamborix::remote {

struct ScreenFrame {
    std::int64_t id = 0;
    int width = 0;  // as chunk 0 announced
    int height = 0;
    Bytes jpeg;
};

class ScreenFrames {
public:
    // Takes one "scr" message; returns the frame its last chunk completes. A chunk out of order,
    // of another frame than the one being built, or malformed drops the frame being built.
    [[nodiscard]] std::optional<ScreenFrame> add(const nlohmann::json& message);

private:
    std::optional<ScreenFrame> building_;
    std::int64_t count_ = 0;
    std::int64_t next_ = 0;
    std::string text_;
};

}  // namespace tamborix::remote
