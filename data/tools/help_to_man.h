#pragma once
// Turns a program's --help text into the generated parts of its manual page, so that the page and
// --help cannot drift apart.
//
// The help text is read as: a first line "Usage: SYNOPSIS", prose, and sections. A section is a
// heading line at column 0 ending in ":" (anything from " (" on is a remark and not part of its
// name), followed by entries "  TERM   description" (two spaces, the term, two or more spaces, the
// description) and their continuation lines (indented further), up to the next blank line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamborix::man {

struct Entry {
    std::string term;
    std::string description;
};

struct Section {
    std::string name;  // "Options", "Console commands", ...
    std::vector<Entry> entries;
};

struct HelpText {
    std::string synopsis;  // after "Usage: "
    std::vector<Section> sections;
};

struct ParseResult {
    std::optional<HelpText> help;
    std::string error;  // set when help is absent
};

[[nodiscard]] ParseResult parseHelp(std::string_view text);

// Text for a roff line: backslashes, option dashes, a leading control character and the non-ASCII
// punctuation the help texts use are escaped.
[[nodiscard]] std::string roffText(std::string_view text);
// A term or synopsis: option and command words in bold, placeholders (upper case) in italics.
[[nodiscard]] std::string roffTerm(std::string_view term);
// One ".TP" paragraph per entry.
[[nodiscard]] std::string roffSection(const Section& section);

struct FillResult {
    std::optional<std::string> page;
    std::string error;
};

// Replaces @VERSION@, @DATE@, @SYNOPSIS@ and every @HELP:Section name@ in the template. Fails when
// a placeholder names no section or a section of the help text has no placeholder (it would be
// missing from the page).
[[nodiscard]] FillResult fillTemplate(std::string_view templ, const HelpText& help,
                                      std::string_view version, std::string_view date);

}  // namespace tamborix::man
