#include "core/session/move_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "core/session/command_args.h"
#include "core/session/json_text.h"

namespace tamborix::testing {
namespace {

ByteView view(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Whatever the quick reader takes, the general parser reads as the same move, bit for bit;
// what it leaves is left whole.
TEST(MoveFrameTest, ReadMoveFrame_AnyText_TakenOnlyWhereTheGeneralParserAgrees) {
    const std::vector<std::string> taken = {
        R"({"t":"move","dx":1,"dy":0})",
        R"({"dx":-3,"dy":2,"t":"move"})",
        R"({"dy":0.25,"t":"move","dx":-0})",
        R"({"t":"move","dx":-0.0,"dy":1e2})",
        R"({"t":"move","dx":1.5E-3,"dy":-2.000000000000000111})",
        R"({"t":"move","dx":9007199254740993,"dy":-9223372036854775808})",
        R"({"t":"move","dx":0.1})",
        R"({"t":"move"})",
    };
    const std::vector<std::string> left = {
        R"({ "t":"move","dx":1,"dy":0})",
        R"({"t":"move","dx":1,"dy":0,"x":1})",
        R"({"t":"move","dx":1,"dx":2})",
        R"({"t":"move","t":"move"})",
        R"({"t":"mov\u0065","dx":1})",
        R"({"t":"move","dx":01})",
        R"({"t":"move","dx":1.})",
        R"({"t":"move","dx":.5})",
        R"({"t":"move","dx":+1})",
        R"({"t":"move","dx":1e})",
        R"({"t":"move","dx":1e999})",
        R"({"t":"move","dx":18446744073709551615})",
        R"({"t":"move","dx":"1"})",
        R"({"t":"move","dx":true})",
        R"({"t":"move","dx":1,})",
        R"({"dx":1,"dy":2})",
        R"({"cmds":[{"t":"move","dx":1}]})",
        R"({"t":"move","dx":1})" "\n",
        R"({})",
        R"([])",
        "",
    };
    for (const auto& text : taken) {
        SCOPED_TRACE(text);
        const auto quick = readMoveFrame(view(text));
        ASSERT_TRUE(quick.has_value());
        const auto general = jsontext::parseContainer(view(text));
        const double dx = commands::num(general, "dx");
        const double dy = commands::num(general, "dy");
        EXPECT_EQ(std::signbit(quick->dx), std::signbit(dx));
        EXPECT_EQ(commands::clampDelta(quick->dx), dx);
        EXPECT_EQ(commands::clampDelta(quick->dy), dy);
    }
    for (const auto& text : left) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(readMoveFrame(view(text)).has_value());
    }
}

}  // namespace
}  // namespace tamborix::testing
