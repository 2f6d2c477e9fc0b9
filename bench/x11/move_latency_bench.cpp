// A phone's "move" until another client on the display sees the MotionNotify, through the real
// helper on a private Xvfb, beside its one-leg floor, interleaved one by one in the same run: the
// same sealed move sent to the floor program of move_floor_bench (recv, base64, open, one XTEST
// motion), until the same listener sees it. Beside them, for reading the parts: a sealed ping
// round trip to the helper over the same connection (two network legs, where a move has one) and
// a bare XTEST relative motion from a client of this process.
//
//   move_latency_bench [--n 2000]

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "e2e/helper_fixture.h"
#include "protocol/secure_session.h"
#include "protocol/wire.h"
#include "support/child_process.h"
#include "tools/line_socket.h"
#include "tools/remote_address.h"
#include "tools/remote_keys.h"
#include "tools/remote_session.h"
#include "support/x_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace tamborix;

std::string hex(const Bytes& data) {
    std::string out;
    char two[3];
    for (const auto b : data) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size())))];
}

// A window over the whole screen that reports pointer motion to its own connection.
class Listener {
public:
    explicit Listener(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t w = xcb_generate_id(c_);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c_, w);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~Listener() { xcb_disconnect(c_); }
    // Blocks until the next MotionNotify.
    void awaitMotion() {
        for (;;) {
            xcb_generic_event_t* e = xcb_wait_for_event(c_);
            if (!e) std::abort();
            const bool motion = (e->response_type & 0x7f) == XCB_MOTION_NOTIFY;
            std::free(e);
            if (motion) return;
        }
    }
    // Drops whatever came in (motion of an earlier step that arrived twice, for example).
    void drain() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) std::free(e);
    }

private:
    xcb_connection_t* c_;
};

}  // namespace

int main(int argc, char** argv) {
    int n = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--n") n = std::atoi(argv[i + 1]);
    }
    testing::XServer server(testing::XServer::Options{.width = 1920, .height = 1080});
    Listener listener(server.display());
    xcb_connection_t* poster = xcb_connect(server.display().c_str(), nullptr);
    testing::HelperRun run(true, false, {"DISPLAY=" + server.display()});
    if (run.pair().exitCode != 0) return 1;

    remote::RemoteKeys keys(run.dir() / "remote-config" / "tamborix-remote");
    const auto address = *remote::parseAddress(run.address());
    const auto known = keys.helperKey(address.key());
    if (!known) return 1;
    remote::RemoteSession phone(address, keys.device(), PhoneHandshake::Kind::hello, &*known, {});
    // What the helper sends at the start (ready, context, displays) is read before timing.
    while (phone.receive(300ms)) {
    }

    // The floor program, and a session of this process that seals for it.
    if (sodium_init() < 0) return 1;
    Bytes sid(8);
    randombytes_buf(sid.data(), sid.size());
    SecureSession::Key key{};
    randombytes_buf(key.data(), key.size());
    testing::ChildProcess floorProgram(TAMBORIX_MOVE_FLOOR_BIN, {"--floor", hex(sid), hex(Bytes(key.begin(), key.end()))},
                                       {"DISPLAY=" + server.display(), "PATH=/usr/bin:/bin"}, false);
    const auto port = floorProgram.waitForPrefix("port ");
    if (!port) {
        std::fprintf(stderr, "the floor program did not start\n");
        return 1;
    }
    remote::LineSocket floorSocket(*remote::parseAddress("127.0.0.1:" + port->substr(5)));
    SecureSession floorSender(sid, Bytes(32, 0), key, key);

    std::vector<double> move, floor, ping, xtest;
    for (int i = 0; i < n; ++i) {
        const int dx = (i % 2 == 0) ? 7 : -7;
        listener.drain();
        auto t0 = Clock::now();
        phone.send({{"t", "move"}, {"dx", dx}, {"dy", 0}});
        listener.awaitMotion();
        move.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());

        t0 = Clock::now();
        phone.send({{"t", "ping"}});
        for (;;) {
            const auto m = phone.receive(5s);
            if (!m) return 1;
            if (m->value("t", "") == "pong") break;
        }
        ping.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());

        // The floor moves back by as much, so the pointer stays where it was.
        const std::string back = nlohmann::json{{"t", "move"}, {"dx", -dx}, {"dy", 0}}.dump();
        listener.drain();
        t0 = Clock::now();
        floorSocket.writeLine(Wire::b64url(floorSender.seal(ByteView(reinterpret_cast<const std::uint8_t*>(back.data()), back.size()))));
        listener.awaitMotion();
        floor.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());

        listener.drain();
        t0 = Clock::now();
        xcb_test_fake_input(poster, XCB_MOTION_NOTIFY, 1, XCB_CURRENT_TIME, XCB_NONE, static_cast<std::int16_t>(dx), 0, 0);
        xcb_flush(poster);
        listener.awaitMotion();
        xtest.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    xcb_disconnect(poster);

    std::printf("%d samples of each, interleaved, 1920 x 1080 Xvfb\n", n);
    std::printf("%-46s %10s %10s\n", "", "p50 us", "p99 us");
    std::printf("%-46s %10.1f %10.1f\n", "move frame -> MotionNotify (helper)", percentile(move, 50), percentile(move, 99));
    std::printf("%-46s %10.1f %10.1f\n", "the same through the floor program (one leg)", percentile(floor, 50), percentile(floor, 99));
    std::printf("%-46s %10.1f %10.1f\n", "ping round trip (same connection, two legs)", percentile(ping, 50), percentile(ping, 99));
    std::printf("%-46s %10.1f %10.1f\n", "bare XTEST motion -> MotionNotify", percentile(xtest, 50), percentile(xtest, 99));
    std::printf("move / floor program: p50 %.2fx, p99 %.2fx (target p99 <= 1.5x)\n",
                percentile(move, 50) / percentile(floor, 50), percentile(move, 99) / percentile(floor, 99));
    return 0;
}
