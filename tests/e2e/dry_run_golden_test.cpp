// One scripted session of the real helper in dry run, compared line for line with the transcript
// kept in golden/dry_run_session.txt: what the phone was told, what the dry-run log recorded and
// which events the console reported. A change to the wire, the log or the events shows as a diff.
//
// TAMBORIX_UPDATE_GOLDEN=1 writes the transcript instead of comparing (only for a deliberate
// change of behaviour).

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "e2e/helper_fixture.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Values that differ from run to run (host name, device id, process figures) are named, not kept.
json masked(json m) {
    const auto t = m.value("t", "");
    if (m.contains("host")) m["host"] = "<host>";
    if (t == "paired") m["id"] = "<id>";
    if (t == "stats") {
        for (auto& [key, value] : m.items()) {
            if (key != "t" && key != "sessions") value = "<n>";
        }
    }
    return m;
}

class Transcript {
public:
    explicit Transcript(HelperRun& run) : run_(run) {}

    void remote(const std::string& title, const std::vector<std::string>& lines, int exitCode) {
        out_ << "> " << title << "\n";
        for (const auto& l : lines) {
            const auto j = json::parse(l, nullptr, false);
            out_ << "< " << (j.is_discarded() ? l : masked(j).dump()) << "\n";
        }
        out_ << "exit " << exitCode << "\n";
        logSinceLast();
    }

    void send(const std::vector<std::string>& commands) {
        std::vector<std::string> args = {"send", run_.address()};
        args.insert(args.end(), commands.begin(), commands.end());
        const auto r = run_.runRemote(args);
        std::string title = "send";
        for (const auto& c : commands) title += " " + c;
        remote(title, r.lines, r.exitCode);
    }

    // The console's answer, with the device id named; events are collected by events().
    void console(const std::string& command, const std::string& expectPrefix, const std::string& id) {
        const auto lines = run_.console(command, expectPrefix);
        out_ << "$ " << replaced(command, id) << "\n";
        // Events, and the indented reason that follows a rejection's, come when they come.
        for (const auto& l : lines)
            if (!l.starts_with("Event: ") && !l.starts_with("  ")) out_ << "$ " << replaced(l, id) << "\n";
    }

    // Which events the console reported, once all have been printed. As a set: how many times a
    // repeated line is shown and where it falls between the console's other lines depends on
    // timing; which events there are does not.
    void events() {
        (void)run_.console("status", "Paired devices:");
        std::set<std::string> events;
        for (const auto& l : run_.helper().lines())
            if (l.starts_with("Event: ")) events.insert(l);
        for (const auto& e : events) out_ << e << "\n";
    }

    [[nodiscard]] std::string text() const { return out_.str(); }

private:
    static std::string replaced(std::string text, const std::string& id) {
        for (auto at = text.find(id); !id.empty() && at != std::string::npos; at = text.find(id))
            text.replace(at, id.size(), "<id>");
        return text;
    }

    void logSinceLast() {
        const auto lines = run_.dryRunLines();
        for (std::size_t i = logged_; i < lines.size(); ++i) out_ << "| " << lines[i] << "\n";
        logged_ = lines.size();
    }

    HelperRun& run_;
    std::ostringstream out_;
    std::size_t logged_ = 0;
};

// The 120 Hz smoother spreads a move by the gap since the previous one (within 0.1 s), and a click
// within 0.4 s of the last one counts as the next of a double or triple click. A pause longer
// than both keeps the log independent of how fast the steps before it ran.
void pauseForClock() { std::this_thread::sleep_for(450ms); }

TEST(DryRunGolden, ScriptedSession_TranscriptUnchanged) {
    HelperRun run;
    Transcript script(run);

    const auto paired = run.pair("y", "Golden phone");
    ASSERT_EQ(paired.exitCode, 0) << paired.err << run.helper().transcript();
    script.remote("pair", paired.lines, paired.exitCode);
    const std::string id = [&] {
        for (const auto& m : paired.messages())
            if (m.value("t", "") == "paired") return m.value("id", "");
        return std::string();
    }();
    ASSERT_FALSE(id.empty());

    script.send({R"({"t":"move","dx":10,"dy":-4})", R"({"t":"click","b":"right","n":2})"});
    script.send({R"({"t":"key","k":"k","mods":["shift","cmd"]})", R"({"t":"key","k":"f5"})",
                 R"({"t":"key","k":"media_volume_up"})", R"({"t":"text","s":"héllo 👋\n"})",
                 R"({"t":"scroll","dx":0,"dy":3})", R"({"t":"scroll","dx":-1.5,"dy":0})"});
    script.send({R"({"t":"action","a":"copy"})", R"({"t":"action","a":"next_slide"})",
                 R"({"t":"action","a":"left_click"})", R"({"t":"action","a":"double_click"})",
                 R"({"t":"action","a":"scroll_down"})", R"({"t":"action","a":"none"})",
                 R"({"t":"action","a":"start_from_current"})",
                 R"({"cmds":[{"t":"down","b":"left"},{"t":"up","b":"left"},{"t":"click","b":"middle"}]})"});
    pauseForClock();
    script.send({R"({"cmds":[{"t":"move","dx":3,"dy":4},{"t":"move","dx":-1,"dy":2},{"t":"move","dx":0.5,"dy":0.25}]})",
                 R"({"t":"click"})"});
    pauseForClock();
    script.send({R"({"t":"laser","on":true})", R"({"t":"move","dx":7,"dy":7})",
                 R"({"t":"laser","on":false})", R"({"t":"find_cursor"})", R"({"t":"pointer","d":1})",
                 R"({"t":"pointer","d":2})"});
    script.send({R"({"t":"window","op":"max"})", R"({"t":"window","op":"left"})",
                 R"({"t":"window","op":"right"})", R"({"t":"window","op":"next"})",
                 R"({"t":"open","url":"https://example.org/"})",
                 R"({"t":"open","app":"org.example.Editor"})",
                 R"({"t":"app_activate","id":"org.tamborix.DryRunApp"})"});
    script.send({R"({"t":"clip_set","s":"copied text","paste":true})",
                 R"({"t":"clip_set","s":"quiet"})", R"({"t":"clip_get"})",
                 R"({"t":"apps_get","icons":true})", R"({"t":"stats_get"})", R"({"t":"ping"})"});
    // Refused commands change nothing and leave the session open.
    script.send({R"({"t":"nope"})", R"({"t":"key","k":"nosuchkey"})",
                 R"({"t":"click","b":"left","n":4})", R"({"t":"text"})",
                 R"({"t":"action","a":"bogus"})", R"({"t":"window","op":"shrink"})",
                 R"({"t":"pointer","d":17})", R"({"t":"open"})", R"({"t":"tap","id":1,"x":0,"y":0})",
                 R"({"t":"move","dx":"1"})", R"({"cmds":[]})", R"({"t":"ping"})"});

    // The live view: a placeholder picture, a tap on it, then off.
    pauseForClock();
    {
        auto shell = run.startRemote({"shell", run.address()}, true);
        shell->write(R"({"t":"screen","on":true,"mode":"fit"})" "\n");
        const auto frame = shell->waitForLine(
            [](const std::string& l) { return l.find(R"("t":"scr")") != std::string::npos; });
        ASSERT_TRUE(frame) << shell->transcript();
        const auto frameId = json::parse(*frame).value("id", -1);
        shell->write(R"({"t":"tap","id":)" + std::to_string(frameId) +
                     R"(,"x":0.25,"y":0.5,"click":true})" "\n" R"({"t":"screen","on":false})" "\n");
        shell->closeStdin();
        const auto code = shell->wait(10s);
        ASSERT_EQ(code, std::optional<int>(0)) << shell->transcript();
        script.remote("shell screen, tap, screen off", shell->lines(), *code);
    }

    // A presenter may move, click and run presenter actions, nothing more.
    script.console("scope " + id + " presenter", "Scope", id);
    pauseForClock();
    script.send({R"({"t":"move","dx":-2,"dy":2})", R"({"t":"action","a":"prev_slide"})",
                 R"({"t":"action","a":"copy"})", R"({"t":"key","k":"a"})",
                 R"({"t":"text","s":"no"})", R"({"t":"clip_get"})", R"({"t":"laser","on":true})",
                 R"({"t":"stats_get"})"});
    script.console("scope " + id + " full", "Scope", id);
    script.console("devices", id, id);
    script.events();

    const std::filesystem::path golden = TAMBORIX_GOLDEN_DIR "/dry_run_session.txt";
    if (const char* update = std::getenv("TAMBORIX_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream out(golden, std::ios::binary | std::ios::trunc);
        out << script.text();
        ASSERT_TRUE(out.flush()) << "cannot write " << golden;
        GTEST_SKIP() << "wrote " << golden;
    }
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << "missing " << golden;
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(script.text(), expected);
}

}  // namespace
}  // namespace tamborix::testing
