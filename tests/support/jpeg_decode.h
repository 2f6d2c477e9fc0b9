#pragma once
// Decodes a JPEG file for tests: size, chroma subsampling, RGB pixels and the first luminance
// quantisation value (which tells the IJG quality it was written with).

#include <turbojpeg.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/bytes.h"

namespace tamborix::testing {

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    int subsampling = -1;          // TJSAMP_*
    std::vector<std::uint8_t> rgb;  // width × height × 3

    struct Rgb {
        int r = 0, g = 0, b = 0;
    };
    [[nodiscard]] Rgb at(int x, int y) const {
        const auto* p = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                              static_cast<std::size_t>(x)) * 3];
        return {p[0], p[1], p[2]};
    }
};

inline std::optional<DecodedJpeg> decodeJpeg(const Bytes& file) {
    tjhandle h = tjInitDecompress();
    if (!h) return std::nullopt;
    DecodedJpeg d;
    int colorspace = 0;
    auto* data = const_cast<unsigned char*>(file.data());
    bool ok = tjDecompressHeader3(h, data, file.size(), &d.width, &d.height, &d.subsampling,
                                  &colorspace) == 0;
    if (ok) {
        d.rgb.resize(static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.height) * 3);
        ok = tjDecompress2(h, data, file.size(), d.rgb.data(), d.width, 0, d.height, TJPF_RGB,
                           TJFLAG_ACCURATEDCT) == 0;
    }
    tjDestroy(h);
    if (!ok) return std::nullopt;
    return d;
}

// The DC entry of the first quantisation table (luminance), or -1.
inline int firstLuminanceQuant(const Bytes& file) {
    for (std::size_t i = 2; i + 5 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDB) return file[i + 4] == 0x00 ? file[i + 5] : -1;  // 8-bit table 0
    }
    return -1;
}

}  // namespace tamborix::testing
