#include "platform/linux/support/jpeg/frame_encoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale.h>

namespace tamborix::jpeg {
namespace {

constexpr int maxSide = 1 << 14;  // far beyond any display; keeps every size product in int

}  // namespace

void releaseCompressor(void* handle) noexcept { tjDestroy(handle); }
void releaseJpegBuffer(std::uint8_t* buffer) noexcept { tjFree(buffer); }

int ijgQuality(double quality) {
    if (!(quality >= 0)) return 1;  // NaN too
    return std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);
}

// The three planes of a 4:2:0 picture. libjpeg-turbo reads whole 2 x 2 blocks, so an odd width or
// height is padded by one column or row that libyuv leaves alone and the decoder crops away.
struct FrameEncoder::Planes {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v;

    [[nodiscard]] int lumaStride() const { return tjPlaneWidth(0, width, TJSAMP_420); }
    [[nodiscard]] int chromaStride() const { return tjPlaneWidth(1, width, TJSAMP_420); }
    void resize(int w, int h) {
        width = w;
        height = h;
        y.resize(static_cast<std::size_t>(lumaStride()) *
                 static_cast<std::size_t>(tjPlaneHeight(0, h, TJSAMP_420)));
        const auto c = static_cast<std::size_t>(chromaStride()) *
                       static_cast<std::size_t>(tjPlaneHeight(1, h, TJSAMP_420));
        u.resize(c);
        v.resize(c);
    }
};

FrameEncoder::FrameEncoder()
    : full_(std::make_unique<Planes>()),
      scaled_(std::make_unique<Planes>()),
      compressor_(tjInitCompress()) {}

FrameEncoder::~FrameEncoder() = default;

std::optional<Bytes> FrameEncoder::encode(const PixelsView& source, int width, int height,
                                          double quality) {
    if (!compressor_ || !source.data) return std::nullopt;
    if (source.width < 1 || source.height < 1 || source.width > maxSide || source.height > maxSide ||
        source.stride < source.width * 4 || width < 1 || height < 1 || width > maxSide ||
        height > maxSide) {
        return std::nullopt;
    }

    // Converting first lets the scaler work on 1.5 bytes a pixel instead of 4, and gives it
    // planes, where libyuv has a true box filter (for shrinking by less than half it uses
    // bilinear, which then samples every source pixel anyway). J420 is the full-range BT.601
    // that JFIF files carry, so the encoder takes the planes as they are.
    Planes& full = *full_;
    full.resize(source.width, source.height);
    if (libyuv::ARGBToJ420(source.data, source.stride, full.y.data(), full.lumaStride(), full.u.data(),
                           full.chromaStride(), full.v.data(), full.chromaStride(), full.width,
                           full.height) != 0) {
        return std::nullopt;
    }
    Planes* planes = &full;
    if (width != source.width || height != source.height) {
        Planes& scaled = *scaled_;
        scaled.resize(width, height);
        if (libyuv::I420Scale(full.y.data(), full.lumaStride(), full.u.data(), full.chromaStride(),
                              full.v.data(), full.chromaStride(), full.width, full.height,
                              scaled.y.data(), scaled.lumaStride(), scaled.u.data(),
                              scaled.chromaStride(), scaled.v.data(), scaled.chromaStride(),
                              scaled.width, scaled.height,
                              libyuv::kFilterBox) != 0) {
            return std::nullopt;
        }
        planes = &scaled;
    }

    // The worst case for this size, allocated once and reused, so that libjpeg-turbo never
    // reallocates behind our back.
    const unsigned long needed = tjBufSize(width, height, TJSAMP_420);
    if (needed == static_cast<unsigned long>(-1)) return std::nullopt;
    if (needed > outCapacity_) {
        out_.reset(tjAlloc(static_cast<int>(std::min<unsigned long>(needed, std::numeric_limits<int>::max()))));
        outCapacity_ = out_ ? needed : 0;
        if (!out_) return std::nullopt;
    }
    const std::uint8_t* srcPlanes[3] = {planes->y.data(), planes->u.data(), planes->v.data()};
    const int strides[3] = {planes->lumaStride(), planes->chromaStride(), planes->chromaStride()};
    unsigned char* out = out_.get();
    unsigned long size = outCapacity_;
    if (tjCompressFromYUVPlanes(compressor_.get(), srcPlanes, width, strides, height, TJSAMP_420, &out,
                                &size, ijgQuality(quality), TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
        return std::nullopt;
    }
    return Bytes(out, out + size);
}

}  // namespace tamborix::jpeg
