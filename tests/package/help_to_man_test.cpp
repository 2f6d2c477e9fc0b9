#include "help_to_man.h"

#include <gtest/gtest.h>

namespace tamborix::man {
namespace {

constexpr std::string_view helpText =
    "Usage: prog [--port N] [--help]\n"
    "Does things.\n"
    "\n"
    "Options:\n"
    "  --port N    TCP port (default 1; 0 picks\n"
    "              a free one)\n"
    "  --help      show this text\n"
    "\n"
    "Console commands (one per line):\n"
    "  scope ID full|presenter   change it\n"
    "Prose right after a section ends it.\n";

TEST(HelpToManTest, ParseHelp_SectionsRemarksAndContinuations_Read) {
    const auto parsed = parseHelp(helpText);
    ASSERT_TRUE(parsed.help) << parsed.error;
    EXPECT_EQ(parsed.help->synopsis, "prog [--port N] [--help]");
    ASSERT_EQ(parsed.help->sections.size(), 2u);
    const auto& options = parsed.help->sections[0];
    EXPECT_EQ(options.name, "Options");
    ASSERT_EQ(options.entries.size(), 2u);
    EXPECT_EQ(options.entries[0].term, "--port N");
    EXPECT_EQ(options.entries[0].description, "TCP port (default 1; 0 picks a free one)");
    EXPECT_EQ(parsed.help->sections[1].name, "Console commands");
    ASSERT_EQ(parsed.help->sections[1].entries.size(), 1u);
    EXPECT_EQ(parsed.help->sections[1].entries[0].term, "scope ID full|presenter");
}

TEST(HelpToManTest, ParseHelp_TextItCannotPlace_RefusedWithReason) {
    for (const char* text : {
             "prog --help\n",                                    // no usage line
             "Usage: \n",                                        // empty synopsis
             "Usage: p\nOptions:\n  --x\n",                      // entry without description
             "Usage: p\n  --x   no section\n",                   // entry outside a section
             "Usage: p\nOptions:\n      continues nothing\n",    // continuation without entry
             "Usage: p\nOptions:\n  -a  x\n\nOptions:\n  -b  y\n",  // the same section twice
             "Usage: p\nOptions:\n\n",                           // a section without entries
         }) {
        const auto parsed = parseHelp(text);
        EXPECT_FALSE(parsed.help) << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
}

TEST(HelpToManTest, RoffText_ControlCharactersBackslashesAndOptionDashes_Escaped) {
    EXPECT_EQ(roffText(".so /etc/passwd"), "\\&.so /etc/passwd");
    EXPECT_EQ(roffText("'br"), "\\&'br");
    EXPECT_EQ(roffText("C:\\path \\fB"), "C:\\epath \\efB");
    EXPECT_EQ(roffText("use --conns or -h, not dry-run (-1)"), "use \\-\\-conns or \\-h, not dry-run (\\-1)");
    EXPECT_EQ(roffText("Settings \u2192 \u201CName\u201D\u2026"), "Settings \\(-> \\(lqName\\(rq\\&...");
}

TEST(HelpToManTest, RoffTerm_WordsOptionsAndPlaceholders_Formatted) {
    EXPECT_EQ(roffTerm("prog [--port N]"), "\\fBprog\\fR [\\fB\\-\\-port\\fR \\fIN\\fR]");
    EXPECT_EQ(roffTerm("send HOST[:PORT] JSON..."), "\\fBsend\\fR \\fIHOST[:PORT]\\fR \\fIJSON\\fR...");
    EXPECT_EQ(roffTerm("[ARGUMENT...]"), "[\\fIARGUMENT\\fR...]");
    EXPECT_EQ(roffTerm("VELMORAND_DRY_RUN_LOG=PATH"), "\\fBVELMORAND_DRY_RUN_LOG\\fR=\\fIPATH\\fR");
}

TEST(HelpToManTest, FillTemplate_EverySectionPlacedOnce_MissingOrUnknownRefused) {
    const auto help = *parseHelp(helpText).help;
    const auto filled = fillTemplate(
        ".TH P 1 @DATE@ \"@VERSION@\"\n.SH SYNOPSIS\n@SYNOPSIS@\n.SH OPTIONS\n@HELP:Options@\n"
        ".SH COMMANDS\n@HELP:Console commands@\n.SH AUTHOR\nme@example.com and you@example.com\n",
        help, "1.2-3", "2026-01-02");
    ASSERT_TRUE(filled.page) << filled.error;
    EXPECT_EQ(*filled.page,
              ".TH P 1 2026-01-02 \"1.2-3\"\n.SH SYNOPSIS\n"
              "\\fBprog\\fR [\\fB\\-\\-port\\fR \\fIN\\fR] [\\fB\\-\\-help\\fR]\n"
              ".SH OPTIONS\n"
              ".TP\n\\fB\\-\\-port\\fR \\fIN\\fR\nTCP port (default 1; 0 picks a free one)\n"
              ".TP\n\\fB\\-\\-help\\fR\nshow this text\n"
              ".SH COMMANDS\n.TP\n\\fBscope\\fR \\fIID\\fR \\fBfull|presenter\\fR\nchange it\n"
              ".SH AUTHOR\nme@example.com and you@example.com\n");

    const auto missing = fillTemplate("@HELP:Options@\n", help, "1", "d");
    EXPECT_FALSE(missing.page);
    EXPECT_NE(missing.error.find("Console commands"), std::string::npos);
    const auto unknown = fillTemplate("@HELP:Options@\n@HELP:Console commands@\n@HELP:Files@\n", help, "1", "d");
    EXPECT_FALSE(unknown.page);
    EXPECT_NE(unknown.error.find("Files"), std::string::npos);
}

}  // namespace
}  // namespace tamborix::man
