// The CLIPBOARD selection both ways with another X client (xclip).

#include <QProcess>

#include "desk_fixture.h"
#include "platform/linux/desktop/x11/x11_clipboard.h"

namespace tamborix::testing {
namespace {

// Text outside the Basic Multilingual Plane, accents and a line break.
const std::string sample = "caf\u00e9 \U0001F600 \u65e5\u672c\nzwei";

class ClipboardTest : public Desk {
protected:
    // Runs xclip while the loop keeps serving the selection; returns its standard output.
    std::optional<std::string> xclip(const QStringList& args, const std::string& input = {}) {
        QProcess p;
        QStringList env;
        for (const auto& e : server.environment()) env << QString::fromStdString(e);
        p.setEnvironment(env);
        // xclip -i stays behind to serve what it took; its output is not waited for.
        if (args.contains("-i")) p.setStandardOutputFile(QProcess::nullDevice());
        p.start("xclip", args);
        if (!p.waitForStarted(5000)) return std::nullopt;
        if (!input.empty()) p.write(input.data(), static_cast<qint64>(input.size()));
        p.closeWriteChannel();
        if (!spinUntil([&] { return p.state() == QProcess::NotRunning; }, 10000)) {
            p.kill();
            p.waitForFinished();
            return std::nullopt;
        }
        const QByteArray out = p.readAllStandardOutput();
        return std::string(out.constData(), static_cast<std::size_t>(out.size()));
    }
    x11::X11Clipboard clipboard{*x};
};

TEST_F(ClipboardTest, SetText_AnotherClientReads_SameUtf8UntilItTakesOver) {
    EXPECT_EQ(clipboard.text(), std::nullopt);
    ASSERT_TRUE(clipboard.setText(sample));
    EXPECT_EQ(clipboard.text(), sample);
    EXPECT_EQ(xclip({"-selection", "clipboard", "-o"}), sample);
    EXPECT_EQ(xclip({"-selection", "clipboard", "-o", "-t", "TARGETS"}).value_or("").find("UTF8_STRING") !=
                  std::string::npos,
              true);

    ASSERT_TRUE(xclip({"-selection", "clipboard", "-i"}, "from xclip \U0001F680"));
    EXPECT_TRUE(spinUntil([&] { return clipboard.text() == "from xclip \U0001F680"; }));
    // Large text arrives in pieces (INCR); all of it is read.
    const std::string large(600000, 'x');
    ASSERT_TRUE(xclip({"-selection", "clipboard", "-i"}, large));
    EXPECT_TRUE(spinUntil([&] { return clipboard.text() == large; }));
}

}  // namespace
}  // namespace tamborix::testing
