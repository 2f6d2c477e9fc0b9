#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/factory/backends.h"
#include "platform/linux/services/hostname/system_host_info.h"
#include "testing/manual_loop.h"

namespace tamborix {
namespace {

// A backend that, when it goes, notes whether the desktop session it ran on was still there.
class SessionUser final : public HostInfo {
public:
    SessionUser(std::weak_ptr<void> session, std::vector<bool>& sessionAliveAtEnd)
        : session_(std::move(session)), sessionAliveAtEnd_(sessionAliveAtEnd) {}
    ~SessionUser() override { sessionAliveAtEnd_.push_back(!session_.expired()); }
    [[nodiscard]] std::string hostName() const override { return "user"; }

private:
    std::weak_ptr<void> session_;
    std::vector<bool>& sessionAliveAtEnd_;
};

TEST(PlatformBackendsAssign, MoveAssign_OldBackendsEndBeforeTheirSessionNewOnesKept) {
    std::vector<bool> aliveAtEnd;
    auto make = [&](int tag) {
        PlatformBackends b;
        b.session = std::make_shared<int>(tag);
        b.host = std::make_unique<SessionUser>(b.session, aliveAtEnd);
        b.backendName = "set " + std::to_string(tag);
        return b;
    };
    auto backends = make(1);
    backends = make(2);
    EXPECT_EQ(aliveAtEnd, std::vector<bool>{true});
    EXPECT_EQ(backends.backendName, "set 2");
    ASSERT_TRUE(backends.session);
    EXPECT_EQ(*std::static_pointer_cast<int>(backends.session), 2);
    EXPECT_EQ(backends.host->hostName(), "user");
}

// No test may reach the machine's buses.
class NoBuses : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tamborix-test-bus", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tamborix-test-bus", 1);
    }
};

TEST_F(NoBuses, MakePlatformBackends_DryRun_OneVirtualDisplayWithPointerAtCentre) {
    testing::ManualLoop loop;
    BackendRequest request;
    request.dryRun = true;
    auto b = makePlatformBackends(loop, request);
    const auto displays = b.displays->displays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_EQ(displays[0].bounds, (Rect{0, 0, 1920, 1080}));
    EXPECT_EQ(b.displays->pointer(), (Point{960, 540}));
    EXPECT_FALSE(b.input->mayPost());
    EXPECT_TRUE(b.capture->available());  // the placeholder picture
    EXPECT_FALSE(b.report.empty());
    // A placement, the commands' input and desktop actions are recorded, not made, in the
    // journal the bundle hands on; a screen that shows nothing needs nobody's consent.
    const auto ports = b.ports();
    ASSERT_NE(ports.journal, nullptr);
    ASSERT_NE(ports.inputActions, nullptr);
    ASSERT_NE(ports.desktopActions, nullptr);
    EXPECT_EQ(b.windows->place("max"), std::optional<bool>(true));
    ports.inputActions->click("left", 1);
    EXPECT_TRUE(ports.desktopActions->pointerTo(2));
    EXPECT_EQ(b.journal->lines(), (std::deque<std::string>{"window max", "click left 1", "pointer 2"}));
    EXPECT_FALSE(b.capture->showsTheScreen());
}

TEST_F(NoBuses, MakePlatformBackends_NoDryRun_NoDisplayNoInputAndCaptureAnswersLater) {
    testing::ManualLoop loop;
    BackendRequest request;
    request.uinputDevice = "/nonexistent/uinput";
    request.drmRoot = "/nonexistent/drm";
    auto b = makePlatformBackends(loop, request);
    EXPECT_TRUE(b.displays->displays().empty());
    EXPECT_FALSE(b.displays->pointer().has_value());
    EXPECT_FALSE(b.input->mayPost());
    EXPECT_FALSE(b.input->reason().empty());
    EXPECT_EQ(b.ports().journal, nullptr);
    EXPECT_EQ(b.ports().inputActions, nullptr);
    EXPECT_EQ(b.ports().desktopActions, nullptr);
    int answers = 0;
    b.capture->capture(CaptureRequest{}, [&](std::optional<Bytes> jpeg) {
        EXPECT_FALSE(jpeg.has_value());
        ++answers;
    });
    EXPECT_EQ(answers, 0);
    loop.runPosted();
    EXPECT_EQ(answers, 1);
    // The activity handle works as bookkeeping even without logind.
    EXPECT_NE(b.activity->begin("Remote pointer control in progress"), nullptr);
    // Without a desktop the clipboard is refused, not kept inside the helper.
    EXPECT_FALSE(b.clipboard->setText("x"));
    EXPECT_FALSE(b.clipboard->text().has_value());
    EXPECT_FALSE(b.clipboard->unavailableReason().empty());
}

TEST(HostNameTest, PrettyHostnameFromMachineInfo_QuotedAndPlainForms) {
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=\"Ada's \\\"Laptop\\\"\"\nCHASSIS=laptop\n"),
              "Ada's \"Laptop\"");
    EXPECT_EQ(prettyHostnameFromMachineInfo("CHASSIS=vm\nPRETTY_HOSTNAME='Büro PC'\n"), "Büro PC");
    EXPECT_EQ(prettyHostnameFromMachineInfo("PRETTY_HOSTNAME=plain\\ name"), "plain name");
    EXPECT_EQ(prettyHostnameFromMachineInfo("CHASSIS=vm\n"), "");
}

}  // namespace
}  // namespace tamborix
