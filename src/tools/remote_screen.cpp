#include "tools/remote_screen.h"

#include "protocol/secure_error.h"
#include "protocol/wire.h"

namespace tamborix::remote {
namespace {

// A 1280 × 720 picture at the finest quality stays far below this.
constexpr std::size_t maxFrameText = 16u << 20;

}  // namespace

std::optional<ScreenFrame> ScreenFrames::add(const nlohmann::json& m) {
    const auto integer = [&](const char* key) -> std::optional<std::int64_t> {
        const auto it = m.find(key);
        if (it == m.end() || !it->is_number_integer()) return std::nullopt;
        return it->get<std::int64_t>();
    };
    const auto id = integer("id"), index = integer("i"), count = integer("n");
    const auto data = m.find("d");
    if (!id || !index || !count || *count < 1 || data == m.end() || !data->is_string()) {
        building_.reset();
        return std::nullopt;
    }
    if (*index == 0) {
        const auto w = integer("w"), h = integer("h");
        building_ = ScreenFrame{*id, static_cast<int>(w.value_or(0)), static_cast<int>(h.value_or(0)), {}};
        count_ = *count;
        next_ = 0;
        text_.clear();
    }
    if (!building_ || building_->id != *id || *index != next_ || *count != count_) {
        building_.reset();
        return std::nullopt;
    }
    text_ += data->get_ref<const std::string&>();
    if (text_.size() > maxFrameText) {
        building_.reset();
        return std::nullopt;
    }
    if (++next_ < count_) return std::nullopt;
    auto frame = std::move(*building_);
    building_.reset();
    try {
        frame.jpeg = Wire::b64d(text_, maxFrameText);
    } catch (const SecureError&) {
        return std::nullopt;
    }
    return frame;
}

}  // namespace tamborix::remote
