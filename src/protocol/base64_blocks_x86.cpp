// Twelve bytes become sixteen six-bit values with one shuffle and two multiplies, which become
// characters through a sixteen-entry table of offsets (one more shuffle).
#include <immintrin.h>

#include "protocol/base64_blocks.h"

namespace tamborix::Wire::blocks {
namespace {

__attribute__((target("ssse3"))) std::size_t encodeSsse3(const std::uint8_t* in, std::size_t size, char* out,
                                                          char c62, char c63) {
    // Each step loads sixteen bytes and uses twelve, so the last four bytes are left to the caller.
    if (size < 16) return 0;
    const std::size_t blocks = (size - 4) / 12;
    const __m128i spread = _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
    const __m128i offsets = _mm_setr_epi8(static_cast<char>('a' - 26), static_cast<char>('0' - 52),
                                          static_cast<char>('0' - 52), static_cast<char>('0' - 52),
                                          static_cast<char>('0' - 52), static_cast<char>('0' - 52),
                                          static_cast<char>('0' - 52), static_cast<char>('0' - 52),
                                          static_cast<char>('0' - 52), static_cast<char>('0' - 52),
                                          static_cast<char>('0' - 52), static_cast<char>(c62 - 62),
                                          static_cast<char>(c63 - 63), 'A', 0, 0);
    for (std::size_t b = 0; b < blocks; ++b, in += 12, out += 16) {
        __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), spread);
        // Every 32-bit lane holds bytes (b1 b0 b2 b1); move its four six-bit fields into bytes.
        const __m128i high = _mm_mulhi_epu16(_mm_and_si128(v, _mm_set1_epi32(0x0fc0fc00)), _mm_set1_epi32(0x04000040));
        const __m128i low = _mm_mullo_epi16(_mm_and_si128(v, _mm_set1_epi32(0x003f03f0)), _mm_set1_epi32(0x01000010));
        const __m128i values = _mm_or_si128(high, low);
        // 0…25 → 13 ('A'), 26…51 → 0 ('a' − 26), 52…61 → 1…10 ('0' − 52), 62 → 11, 63 → 12.
        __m128i index = _mm_subs_epu8(values, _mm_set1_epi8(51));
        const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), values);
        index = _mm_or_si128(index, _mm_and_si128(upper, _mm_set1_epi8(13)));
        v = _mm_add_epi8(_mm_shuffle_epi8(offsets, index), values);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    }
    return blocks * 12;
}

}  // namespace

std::size_t encode(const std::uint8_t* in, std::size_t size, char* out, char c62, char c63) {
    // Asked on first use rather than from a static initialiser, which might run before the
    // runtime has read the processor's features.
    static const bool hasSsse3 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return hasSsse3 ? encodeSsse3(in, size, out, c62, c63) : 0;
}

}  // namespace tamborix::Wire::blocks
