#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "core/screen/screen_streamer.h"
#include "ports/standins/placeholder_capture.h"
#include "protocol/secure_session.h"
#include "testing/fake_display_source.h"
#include "testing/fake_screen_capture.h"
#include "testing/manual_loop.h"

namespace tamborix::testing {

// A streamer on a connection whose pushed frames the "phone" opens and keeps.
class StreamerTest : public ::testing::Test {
protected:
    StreamerTest() {
        displays.setDisplays(FakeDisplaySource::withBounds({{0, 0, 1920, 1080}}));
        displays.setPointer(Point{960, 540});
        SecureSession::Key toPhone{}, toHelper{};
        toPhone.fill(0x11);
        toHelper.fill(0x22);
        const Bytes sid(8, 0x5A);
        conn = std::make_shared<HelperConn>();
        conn->session = std::make_unique<SecureSession>(sid, Bytes(32, 1), toPhone, toHelper);
        phone = std::make_unique<SecureSession>(sid, Bytes(32, 1), toHelper, toPhone);
        conn->push = [this](const Bytes& frame) {
            received.push_back(nlohmann::json::parse(toString(phone->open(frame))));
        };
    }

    // A dry run's streamer shows the placeholder picture.
    ScreenStreamer& make(bool dryRun = false) {
        ScreenCapture& source = dryRun ? static_cast<ScreenCapture&>(placeholder) : capture;
        streamer = std::make_unique<ScreenStreamer>(loop, displays, source, conn);
        return *streamer;
    }

    // Received chunks grouped by frame id, in arrival order within each frame.
    [[nodiscard]] std::map<std::int64_t, std::vector<nlohmann::json>> frames() const {
        std::map<std::int64_t, std::vector<nlohmann::json>> out;
        for (const auto& m : received) out[m.at("id").get<std::int64_t>()].push_back(m);
        return out;
    }
    [[nodiscard]] std::size_t frameCount() const { return frames().size(); }

    ManualLoop loop;
    FakeDisplaySource displays;
    FakeScreenCapture capture{loop};
    PlaceholderCapture placeholder{loop};
    HelperConnPtr conn;
    std::unique_ptr<SecureSession> phone;
    std::vector<nlohmann::json> received;
    std::unique_ptr<ScreenStreamer> streamer;
    int pushes = 0;
};

}  // namespace tamborix::testing
