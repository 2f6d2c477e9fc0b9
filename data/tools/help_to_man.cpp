#include "help_to_man.h"

#include <algorithm>
#include <set>

namespace tamborix::man {

namespace {

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::size_t leadingSpaces(std::string_view s) {
    std::size_t n = 0;
    while (n < s.size() && s[n] == ' ') ++n;
    return n;
}

bool startsWord(char previous) {
    return previous == ' ' || previous == '(' || previous == '[' || previous == '|' || previous == ',' ||
           previous == '/' || previous == '"';
}

bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string formatWord(std::string_view core) {
    if (core.empty()) return {};
    if (const auto eq = core.find('='); eq != std::string_view::npos && eq > 0) {
        return "\\fB" + roffText(core.substr(0, eq)) + "\\fR=" + formatWord(core.substr(eq + 1));
    }
    const char c = core.front();
    if (c == '-' || isLower(c) || isDigit(c)) return "\\fB" + roffText(core) + "\\fR";
    if (isUpper(c) || c == '$') return "\\fI" + roffText(core) + "\\fR";
    return roffText(core);
}

}  // namespace

ParseResult parseHelp(std::string_view text) {
    const auto lines = splitLines(text);
    constexpr std::string_view usage = "Usage: ";
    if (lines.empty() || lines[0].substr(0, usage.size()) != usage || trim(lines[0].substr(usage.size())).empty()) {
        return {std::nullopt, "the help text does not start with \"Usage: SYNOPSIS\""};
    }
    HelpText help;
    help.synopsis = std::string(trim(lines[0].substr(usage.size())));
    Section* current = nullptr;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto line = lines[i];
        const auto where = "line " + std::to_string(i + 1) + ": ";
        if (trim(line).empty()) {
            current = nullptr;
            continue;
        }
        const auto indent = leadingSpaces(line);
        if (indent == 0) {
            const auto t = trim(line);
            current = nullptr;
            if (t.back() != ':') continue;  // prose
            auto name = t.substr(0, t.size() - 1);
            if (const auto remark = name.find(" ("); remark != std::string_view::npos) name = name.substr(0, remark);
            const auto duplicate = std::any_of(help.sections.begin(), help.sections.end(),
                                               [&](const Section& s) { return s.name == name; });
            if (duplicate) return {std::nullopt, where + "a second section \"" + std::string(name) + "\""};
            help.sections.push_back(Section{std::string(name), {}});
            current = &help.sections.back();
        } else if (indent == 2) {
            if (!current) return {std::nullopt, where + "an entry outside a section"};
            const auto body = trim(line);
            const auto gap = body.find("  ");
            if (gap == std::string_view::npos) return {std::nullopt, where + "an entry without a description"};
            current->entries.push_back(Entry{std::string(body.substr(0, gap)), std::string(trim(body.substr(gap)))});
        } else {
            if (!current || current->entries.empty()) {
                return {std::nullopt, where + "an indented line that continues no entry"};
            }
            current->entries.back().description += " " + std::string(trim(line));
        }
    }
    for (const auto& s : help.sections) {
        if (s.entries.empty()) return {std::nullopt, "section \"" + s.name + "\" has no entries"};
    }
    return {std::move(help), {}};
}

std::string roffText(std::string_view text) {
    static const std::pair<std::string_view, std::string_view> punctuation[] = {
        {"\u2013", "\\(en"}, {"\u2014", "\\(em"}, {"\u2026", "\\&..."}, {"\u201C", "\\(lq"},
        {"\u201D", "\\(rq"}, {"\u2018", "\\(oq"}, {"\u2019", "\\(cq"}, {"\u2192", "\\(->"},
        {"\u00D7", "\\(mu"}, {"\u00B7", "\\(pc"},
    };
    std::string out;
    bool inOption = false;  // after an escaped dash that starts a word
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            inOption = inOption || i == 0 || startsWord(text[i - 1]);
            out += inOption ? "\\-" : "-";
            continue;
        } else {
            bool replaced = false;
            for (const auto& [from, to] : punctuation) {
                if (text.substr(i, from.size()) == from) {
                    out += to;
                    i += from.size() - 1;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) out += c;
        }
        inOption = false;
    }
    if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
    return out;
}

std::string roffTerm(std::string_view term) {
    std::string out;
    std::size_t pos = 0;
    while (pos < term.size()) {
        auto end = term.find(' ', pos);
        if (end == std::string_view::npos) end = term.size();
        auto word = term.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        std::string lead;
        while (!word.empty() && word.front() == '[') {
            lead += '[';
            word.remove_prefix(1);
        }
        std::string trail;
        const auto strip = [&](std::string_view suffix) {
            if (word.size() >= suffix.size() && word.substr(word.size() - suffix.size()) == suffix) {
                trail.insert(0, suffix);
                word.remove_suffix(suffix.size());
                return true;
            }
            return false;
        };
        for (;;) {
            const auto open = std::count(word.begin(), word.end(), '[');
            const auto close = std::count(word.begin(), word.end(), ']');
            if (close > open && strip("]")) continue;
            if (strip("...")) continue;
            break;
        }
        if (!out.empty()) out += ' ';
        out += lead + formatWord(word) + trail;  // only "]" and "...", safe inside a line
    }
    return out;
}

std::string roffSection(const Section& section) {
    std::string out;
    for (const auto& e : section.entries) {
        out += ".TP\n" + roffTerm(e.term) + "\n" + roffText(e.description) + "\n";
    }
    if (!out.empty()) out.pop_back();  // the placeholder's own line ends the last one
    return out;
}

FillResult fillTemplate(std::string_view templ, const HelpText& help, std::string_view version,
                        std::string_view date) {
    std::string out;
    std::set<std::string> used;
    std::size_t pos = 0;
    while (pos < templ.size()) {
        const auto at = templ.find('@', pos);
        if (at == std::string_view::npos) {
            out += templ.substr(pos);
            break;
        }
        out += templ.substr(pos, at - pos);
        const auto close = templ.find('@', at + 1);
        const auto token = close == std::string_view::npos ? std::string_view{}
                                                            : templ.substr(at + 1, close - at - 1);
        constexpr std::string_view helpPrefix = "HELP:";
        if (token == "VERSION") {
            out += roffText(version);
        } else if (token == "DATE") {
            out += date;
        } else if (token == "SYNOPSIS") {
            out += roffTerm(help.synopsis);
        } else if (token.substr(0, helpPrefix.size()) == helpPrefix) {
            const auto name = token.substr(helpPrefix.size());
            const auto it = std::find_if(help.sections.begin(), help.sections.end(),
                                         [&](const Section& s) { return s.name == name; });
            if (it == help.sections.end()) {
                return {std::nullopt, "the help text has no section \"" + std::string(name) + "\""};
            }
            out += roffSection(*it);
            used.insert(it->name);
        } else {
            out += '@';  // not a placeholder
            pos = at + 1;
            continue;
        }
        pos = close + 1;
    }
    for (const auto& s : help.sections) {
        if (!used.count(s.name)) {
            return {std::nullopt, "the page template has no place for the help section \"" + s.name +
                                      "\" (add @HELP:" + s.name + "@)"};
        }
    }
    return {std::move(out), {}};
}

}  // namespace tamborix::man
