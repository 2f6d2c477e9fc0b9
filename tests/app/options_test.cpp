#include "app/options.h"

#include <gtest/gtest.h>

namespace tamborix {
namespace {

ParsedOptions parseHelperOptions(const std::vector<std::string>& args) {
    const BackendNames names{[](std::string_view n) { return n == "x11" || n == "none"; }, "x11 or none"};
    return tamborix::parseHelperOptions(args, names);
}

TEST(HelperOptionsTest, Parse_ValidForms_Accepted) {
    auto p = parseHelperOptions({});
    ASSERT_TRUE(p.options);
    EXPECT_EQ(p.options->port, 50505);
    EXPECT_FALSE(p.options->console);

    p = parseHelperOptions({"--console", "--port", "0"});
    ASSERT_TRUE(p.options);
    EXPECT_TRUE(p.options->console);
    EXPECT_EQ(p.options->port, 0);

    p = parseHelperOptions({"--port=65535", "--version", "--help"});
    ASSERT_TRUE(p.options);
    EXPECT_EQ(p.options->port, 65535);
    EXPECT_TRUE(p.options->version);
    EXPECT_TRUE(p.options->help);

    p = parseHelperOptions({"--backend=x11"});
    ASSERT_TRUE(p.options);
    EXPECT_EQ(p.options->backend, "x11");
}

TEST(HelperOptionsTest, Parse_BadPortsAndUnknownOptions_RefusedWithReason) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--port"}, {"--port", "65536"}, {"--port", "-1"}, {"--port", "80x"}, {"--port="},
             {"--prot", "1"}, {"console"}, {"--backend"}, {"--backend", "wayland"}}) {
        const auto p = parseHelperOptions(args);
        EXPECT_FALSE(p.options) << args[0];
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(DryRunSwitch, DryRunFromValue_OnlyTheOneCharacterOne_TurnsItOn) {
    EXPECT_TRUE(dryRunFromValue("1"));
    for (const char* v : {"true", "yes", "01", "", "1 ", " 1", "0", "TRUE"})
        EXPECT_FALSE(dryRunFromValue(v)) << '"' << v << '"';
    EXPECT_FALSE(dryRunFromValue(nullptr));
}

}  // namespace
}  // namespace tamborix
