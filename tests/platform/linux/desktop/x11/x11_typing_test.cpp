#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/input/input_injector.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_display_source.h"
#include "platform/linux/desktop/x11/x11_input_sink.h"
#include "key_listener.h"
#include "support/qt_spin.h"
#include "support/x_server.h"

namespace tamborix::x11 {
namespace {

using namespace std::chrono_literals;
using tamborix::testing::KeyListener;
using tamborix::testing::keysymsOf;
using tamborix::testing::spinUntil;
using tamborix::testing::XServer;

// A program started with the server's environment, its standard output readable line by line.
class Child {
public:
    Child(const XServer& server, std::vector<std::string> argv) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<std::string> env = server.environment();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            std::vector<char*> args, envp;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            for (auto& e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~Child() {
        kill(SIGKILL);
        if (out_ >= 0) close(out_);
    }
    void kill(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Lines written so far.
    std::vector<std::string> lines() {
        char buf[4096];
        ssize_t n = 0;
        while ((n = read(out_, buf, sizeof buf)) > 0) pending_.append(buf, static_cast<std::size_t>(n));
        for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
            lines_.push_back(pending_.substr(0, nl));
            pending_.erase(0, nl + 1);
        }
        return lines_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
};

std::string utf8Of(std::u32string_view s) {
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

class X11Typing : public ::testing::Test {
protected:
    // `focus`: a listener window of its own takes the keyboard; else the caller's window has it.
    void start(const std::string& layout, X11InputSink::Options options = {}, bool focus = true) {
        ASSERT_EQ(server_.run({"setxkbmap", layout}), 0);
        std::string error;
        conn_ = XConnection::open(server_.display(), error);
        ASSERT_NE(conn_, nullptr) << error;
        listener_ = std::make_unique<KeyListener>(server_.display(),
                                                  KeyListener::Options{focus ? 0 : conn_->root(), 0ms});
        options_ = options;
        startSink();
    }
    void startSink() {
        sink_ = std::make_unique<X11InputSink>(*conn_, loop_, options_);
        displays_ = std::make_unique<X11DisplaySource>(*conn_);
        injector_ = std::make_unique<InputInjector>(loop_, *sink_, *displays_);
    }
    void stopSink() {
        injector_.reset();
        displays_.reset();
        sink_.reset();
    }
    // The server's whole XKB keymap as text.
    std::string keymap() {
        std::string out;
        EXPECT_EQ(server_.run({"xkbcomp", "-xkb", server_.display(), "-"}, &out), 0);
        return out;
    }
    bool typed(KeyListener& l, std::size_t n, int ms = 10000) {
        return spinUntil([&] { return l.typed().size() >= n; }, ms);
    }

    XServer server_;
    QtMainLoop loop_;
    std::unique_ptr<XConnection> conn_;
    std::unique_ptr<KeyListener> listener_;
    X11InputSink::Options options_;
    std::unique_ptr<X11InputSink> sink_;
    std::unique_ptr<X11DisplaySource> displays_;
    std::unique_ptr<InputInjector> injector_;
};

TEST_F(X11Typing, Text_AltGrCharactersOfGermanAndFrench_ArriveAsThemselvesWithoutAnyMappingChange) {
    // Plain, Shift, AltGr and AltGr+Shift levels.
    const std::vector<std::pair<std::string, std::u32string>> layouts{
        {"de", U"anna@example.com [1] {2} ~ \\|€µ²³¿Ω"},
        {"fr", U"~#{[|`\\^@]}€æÆ⅛"},
    };
    for (const auto& [layout, text] : layouts) {
        SCOPED_TRACE(layout);
        stopSink();
        listener_.reset();
        ASSERT_NO_FATAL_FAILURE(start(layout));
        const int changes = listener_->mappingChanges();
        injector_->text(utf8Of(text));
        ASSERT_TRUE(typed(*listener_, text.size()));
        EXPECT_EQ(listener_->typed(), keysymsOf(text));
        EXPECT_EQ(listener_->mappingChanges(), changes);
        EXPECT_EQ(sink_->mappingChanges(), 0u);
    }
}

TEST_F(X11Typing, Text_MailAndBracketsOnGerman_ArriveExactlyInATkTextField) {
    ASSERT_NO_FATAL_FAILURE(start("de", {}, false));
    const auto script = server_.dir() / "field.tcl";
    std::ofstream(script) << "text .t -width 60 -height 4\npack .t\n"
                             "bind .t <Return> {puts [.t get 1.0 end-1c]; flush stdout; .t delete 1.0 end; break}\n"
                             "update\nfocus -force .t\nupdate\nputs ready\nflush stdout\n";
    Child wish(server_, {"wish", script.string()});
    ASSERT_TRUE(spinUntil([&] { return !wish.lines().empty(); })) << "wish did not start";
    const int changes = listener_->mappingChanges();
    const std::string line = "anna@example.com [1] {2} ~ \\|€";
    for (int i = 0; i < 4; ++i) injector_->text(line + "\n");
    ASSERT_TRUE(spinUntil([&] { return wish.lines().size() >= 5; }));
    EXPECT_EQ(wish.lines(), (std::vector<std::string>{"ready", line, line, line, line}));
    EXPECT_EQ(listener_->mappingChanges(), changes);
}

// Greek, Cyrillic, CJK and Latin with macrons: no key on a US layout, and more characters than
// there are spare keycodes, so most wait for a keycode to be free to rebind.
const std::u32string sixty = U"αβγδεζηθικλμνξοπρστυφχψωжзийклмнпрстуфхцчшщ中文字漢語日本āēīōūȳǖǘǚǜ";

TEST_F(X11Typing, Text_SixtyKeylessCharactersInSixFrames_CompleteAndInOrderAlsoForAReaderLateBy1500ms) {
    ASSERT_NO_FATAL_FAILURE(start("us"));
    ASSERT_EQ(sixty.size(), 60u);
    KeyListener late(server_.display(), {listener_->window(), 1500ms});
    for (std::size_t i = 0; i < sixty.size(); i += 10) injector_->text(utf8Of(sixty.substr(i, 10)));
    ASSERT_TRUE(typed(late, sixty.size(), 40000));
    EXPECT_EQ(listener_->typed(), keysymsOf(sixty));
    EXPECT_EQ(late.typed(), keysymsOf(sixty));
    // Bound a round at a time, not a keycode at a time.
    EXPECT_LE(sink_->mappingChanges(), 8u);
}

TEST_F(X11Typing, Text_LayoutSwitchedBetweenFrames_NextCharactersUseTheNewLayout) {
    ASSERT_NO_FATAL_FAILURE(start("us"));
    injector_->text("yz@");
    ASSERT_TRUE(typed(*listener_, 3));
    // No chance for the helper to read the server's notice before the next frame.
    ASSERT_EQ(server_.run({"setxkbmap", "de"}), 0);
    injector_->text("yz@");
    ASSERT_TRUE(typed(*listener_, 6));
    EXPECT_EQ(listener_->typed(), keysymsOf(U"yz@yz@"));
}

TEST_F(X11Typing, Mapping_AfterExitAndAfterSigkillAndRestart_EqualsTheOneBefore) {
    X11InputSink::Options options;
    options.spares.note = server_.dir() / "lent";
    ASSERT_NO_FATAL_FAILURE(start("us", options));
    const auto before = keymap();
    injector_->text("λμπ");
    ASSERT_TRUE(typed(*listener_, 3));
    EXPECT_NE(keymap(), before);
    stopSink();
    EXPECT_EQ(keymap(), before);
    EXPECT_FALSE(std::filesystem::exists(options.spares.note));

    listener_->clear();
    Child helper(server_, {TYPING_CHILD, options.spares.note.string(), "ξσψ"});
    ASSERT_TRUE(typed(*listener_, 3));
    helper.kill(SIGKILL);
    EXPECT_NE(keymap(), before);
    startSink();
    EXPECT_TRUE(spinUntil([&] { return keymap() == before; }, 5000));
    EXPECT_FALSE(std::filesystem::exists(options.spares.note));
    EXPECT_EQ(listener_->typed(), keysymsOf(U"ξσψ"));
}

TEST_F(X11Typing, Text_CharacterNothingCanType_SkippedAndToldOnce) {
    X11InputSink::Options options;
    options.spares.maxSlots = 0;
    ASSERT_NO_FATAL_FAILURE(start("us", options));
    std::vector<std::string> told;
    injector_->setOnUntypable([&](const std::string& line) { told.push_back(line); });
    injector_->text("aλbλc");
    ASSERT_TRUE(typed(*listener_, 3));
    EXPECT_EQ(listener_->typed(), keysymsOf(U"abc"));
    EXPECT_EQ(told, (std::vector<std::string>{
                        "Could not type “λ”: the keyboard layout has no key for it and no spare keycode is "
                        "left to lend"}));
}

}  // namespace
}  // namespace tamborix::x11
