#include "protocol/ble_fragments.h"

#include <algorithm>

namespace tamborix::BLEFragments {

std::vector<Bytes> split(ByteView message, std::size_t maxChunk) {
    if (message.size() <= maxChunk) return {Bytes(message.begin(), message.end())};

    const std::size_t payloadLimit = maxChunk > minPayload + 2 ? maxChunk - 2 : minPayload;
    std::vector<Bytes> fragments;
    fragments.reserve((message.size() + payloadLimit - 1) / payloadLimit);
    for (std::size_t offset = 0; offset < message.size(); offset += payloadLimit) {
        const std::size_t take = std::min(payloadLimit, message.size() - offset);
        const bool last = offset + take == message.size();
        Bytes fragment;
        fragment.reserve(take + 2);
        fragment.push_back(marker);
        fragment.push_back(last ? lastFlag : 0x00);
        fragment.insert(fragment.end(), message.begin() + static_cast<std::ptrdiff_t>(offset),
                        message.begin() + static_cast<std::ptrdiff_t>(offset + take));
        fragments.push_back(std::move(fragment));
    }
    return fragments;
}

std::optional<Bytes> Reassembler::push(ByteView value) {
    if (value.size() >= 2 && value[0] == marker) {
        // Never hold more than one oversized fragment's worth beyond the limit.
        if (buf_.size() + (value.size() - 2) > maxMessage) {
            buf_.clear();
            return std::nullopt;
        }
        buf_.insert(buf_.end(), value.begin() + 2, value.end());
        if ((value[1] & lastFlag) == 0) return std::nullopt;
        Bytes message;
        message.swap(buf_);
        return message;
    }
    buf_.clear();
    return Bytes(value.begin(), value.end());
}

}  // namespace tamborix::BLEFragments
