// What a posted event costs until another client on the display sees it: a bare XTEST motion
// (the floor) beside the same motion through X11InputSink, and characters per second typed through
// keys of the layout and through lent spare keycodes. The listener blocks on its own connection.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <memory>

#include "platform/linux/support/qt/qt_main_loop.h"
#include "platform/linux/desktop/x11/x11_input_sink.h"
#include "support/x_server.h"

namespace {

using namespace tamborix;

struct Display {
    testing::XServer server;
    xcb_connection_t* listener = nullptr;
    xcb_window_t window = 0;
    std::unique_ptr<x11::XConnection> conn;
    std::unique_ptr<QtMainLoop> loop;
    std::unique_ptr<x11::X11InputSink> sink;

    Display() {
        server.run({"setxkbmap", "us"});
        listener = xcb_connect(server.display().c_str(), nullptr);
        const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(listener)).data;
        window = xcb_generate_id(listener);
        const std::uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(listener, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 3840, 1080, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(listener, window);
        xcb_set_input_focus(listener, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(listener, xcb_get_input_focus(listener), nullptr));
        std::string error;
        conn = x11::XConnection::open(server.display(), error);
        loop = std::make_unique<QtMainLoop>();
        sink = std::make_unique<x11::X11InputSink>(*conn, *loop, x11::X11InputSink::Options{});
    }
    ~Display() {
        sink.reset();
        xcb_disconnect(listener);
    }
    // Blocks until `n` events of `type` arrived.
    void await(int type, int n) {
        while (n > 0) {
            xcb_generic_event_t* e = xcb_wait_for_event(listener);
            if (!e) std::abort();
            if ((e->response_type & 0x7f) == type) --n;
            std::free(e);
        }
    }
};

Display& display() {
    static Display d;
    return d;
}

void BM_BareXTestMotionToListener(benchmark::State& state) {
    auto& d = display();
    xcb_connection_t* c = d.conn->get();
    int i = 0;
    for (auto _ : state) {
        const std::int16_t x = static_cast<std::int16_t>(100 + (++i & 1));
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d.conn->root(), x, 100, 0);
        xcb_flush(c);
        d.await(XCB_MOTION_NOTIFY, 1);
    }
}
BENCHMARK(BM_BareXTestMotionToListener)->UseRealTime();

void BM_SinkMotionToListener(benchmark::State& state) {
    auto& d = display();
    int i = 0;
    for (auto _ : state) {
        MouseEvent e;
        e.at = {100.0 + (++i & 1), 100};
        d.sink->mouse(e);
        d.await(XCB_MOTION_NOTIFY, 1);
    }
}
BENCHMARK(BM_SinkMotionToListener)->UseRealTime();

void typeText(benchmark::State& state, std::u16string_view text) {
    auto& d = display();
    for (auto _ : state) {
        d.sink->text(text);
        d.await(XCB_KEY_PRESS, static_cast<int>(text.size()));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_TypeLayoutKeys(benchmark::State& state) { typeText(state, u"abcdefghijklmnopqrst"); }
BENCHMARK(BM_TypeLayoutKeys)->UseRealTime();

// Twenty characters no US key types, eight distinct so that their lent keycodes stay bound after
// the first round (rebinding waits for the main loop, which this program does not run).
void BM_TypeSpareKeycodes(benchmark::State& state) { typeText(state, u"αβγδεζηθαβγδεζηθαβγδ"); }
BENCHMARK(BM_TypeSpareKeycodes)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
