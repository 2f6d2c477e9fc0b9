// Reassembler against a literal model of the fragment rules, fed a sequence of values cut from
// the input by length bytes; then split followed by reassembly must give the message back.
#include <cstdlib>
#include <optional>

#include "protocol/ble_fragments.h"

using namespace tamborix;

namespace {

struct Model {
    Bytes buf;
    std::optional<Bytes> push(ByteView v) {
        if (v.size() >= 2 && v[0] == 0x02) {
            buf.insert(buf.end(), v.begin() + 2, v.end());
            if (buf.size() > 4160) {
                buf.clear();
                return std::nullopt;
            }
            if ((v[1] & 1) == 0) return std::nullopt;
            Bytes out = buf;
            buf.clear();
            return out;
        }
        buf.clear();
        return Bytes(v.begin(), v.end());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BLEFragments::Reassembler r;
    Model model;
    std::size_t i = 0;
    while (i < size) {
        // A length byte, scaled so single values can overflow the 4160-byte limit.
        std::size_t n = data[i++];
        if (n >= 0xF0) n = (n - 0xF0 + 1) * 512;
        n = std::min(n, size - i);
        const ByteView value(data + i, n);
        i += n;
        if (r.push(value) != model.push(value)) std::abort();
        if (r.pending() != model.buf.size() || r.pending() > BLEFragments::maxMessage) std::abort();
    }

    if (size >= 2) {
        const std::size_t maxChunk = std::size_t{data[0]} << 1 | (data[1] & 1);
        const ByteView message(data + 2, size - 2);
        const bool fragmented = message.size() > maxChunk;
        const bool ambiguous = !fragmented && message.size() >= 2 && message[0] == 0x02;
        if (!ambiguous && message.size() <= BLEFragments::maxMessage) {
            BLEFragments::Reassembler back;
            std::optional<Bytes> out;
            const auto parts = BLEFragments::split(message, maxChunk);
            for (std::size_t k = 0; k < parts.size(); ++k) {
                if (parts[k].size() > std::max<std::size_t>(maxChunk, 18)) std::abort();
                out = back.push(parts[k]);
                if (k + 1 < parts.size() && out) std::abort();
            }
            if (!out || *out != Bytes(message.begin(), message.end())) std::abort();
        }
    }
    return 0;
}
