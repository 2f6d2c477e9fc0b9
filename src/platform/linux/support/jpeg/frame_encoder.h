#pragma once
// Turns captured pixels into the JPEG file a phone shows: scaled with a box filter, 4:2:0 chroma.
// One encoder per thread; it keeps its buffers between frames so that a steady stream allocates
// nothing but the bytes it returns.

#include <cstdint>
#include <memory>
#include <optional>

#include "base/owned.h"
#include "protocol/bytes.h"

namespace tamborix::jpeg {

// 32-bit pixels as 0xAARRGGBB words in host order (bytes B, G, R, A on little-endian machines,
// what libyuv calls ARGB). The alpha byte is ignored.
struct PixelsView {
    const std::uint8_t* data = nullptr;
    int stride = 0;  // bytes from one row to the next
    int width = 0;
    int height = 0;
};

// The capture's quality of 0…1 on the IJG scale of 1…100 that libjpeg's quality tables use: the
// same fraction of the scale, rounded (0.55 → 55, 0.35 → 35). IJG 100 is the finest quantisation,
// as 1.0 is the least lossy for the platform encoder the phone was built against; below 1 the
// scale cannot start at 0, which IJG treats as 1.
[[nodiscard]] int ijgQuality(double quality);

// libjpeg-turbo's own release functions, kept out of this header.
void releaseCompressor(void* handle) noexcept;
void releaseJpegBuffer(std::uint8_t* buffer) noexcept;

class FrameEncoder {
public:
    FrameEncoder();
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    // The source scaled to width × height and encoded; nullopt for an empty or invalid size or
    // when the encoder fails. Sizes larger than the source are allowed (the picture is enlarged).
    [[nodiscard]] std::optional<Bytes> encode(const PixelsView& source, int width, int height,
                                              double quality);

private:
    struct Planes;
    std::unique_ptr<Planes> full_;    // the source in full-range YUV 4:2:0
    std::unique_ptr<Planes> scaled_;  // the same at the output size
    Owned<void, releaseCompressor> compressor_;  // tjhandle
    Owned<std::uint8_t, releaseJpegBuffer> out_;
    unsigned long outCapacity_ = 0;
};

}  // namespace tamborix::jpeg
