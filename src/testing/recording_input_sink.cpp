#include "testing/recording_input_sink.h"

namespace tamborix::testing {

std::vector<LayoutEntry> RecordingInputSink::usLayout() {
    // X keycodes of a pc105 keyboard: digits row 10…19, q row 24…33, a row 38…46, z row 52…58.
    static constexpr char32_t rows[][2][11] = {
        {U"1234567890", U"!@#$%^&*()"},
        {U"qwertyuiop", U"QWERTYUIOP"},
        {U"asdfghjkl", U"ASDFGHJKL"},
        {U"zxcvbnm", U"ZXCVBNM"},
    };
    static constexpr std::uint32_t firstCode[] = {10, 24, 38, 52};
    std::vector<LayoutEntry> out;
    for (int r = 0; r < 4; ++r) {
        for (int i = 0; rows[r][0][i] != 0; ++i) {
            const auto code = firstCode[r] + static_cast<std::uint32_t>(i);
            out.push_back({code, false, rows[r][0][i]});
            out.push_back({code, true, rows[r][1][i]});
        }
    }
    out.push_back({65, false, U' '});
    out.push_back({20, false, U'-'});
    out.push_back({20, true, U'_'});
    out.push_back({21, false, U'='});
    out.push_back({21, true, U'+'});
    return out;
}

}  // namespace tamborix::testing
