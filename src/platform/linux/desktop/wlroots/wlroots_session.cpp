#include "platform/linux/desktop/wlroots/wlroots_session.h"

namespace tamborix::wlroots {

namespace {
const wl_seat_listener seatListener{
    [](void* data, wl_seat*, std::uint32_t caps) { static_cast<WlrootsSession*>(data)->seatCapabilities = caps; },
    [](void*, wl_seat*, const char*) {},
};
}  // namespace

std::unique_ptr<WlrootsSession> WlrootsSession::open(const std::string& display, std::string& why) {
    std::unique_ptr<WlrootsSession> s(new WlrootsSession);
    s->conn_ = wayland::WaylandConnection::connect(display, why);
    if (!s->conn_) return nullptr;
    s->seat_.reset(s->conn_->bind<wl_seat>(wl_seat_interface, 5));
    if (s->seat_) wl_seat_add_listener(s->seat_.get(), &seatListener, s.get());
    s->pointers_.reset(
        s->conn_->bind<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface, 1));
    s->keyboards_.reset(
        s->conn_->bind<zwp_virtual_keyboard_manager_v1>(zwp_virtual_keyboard_manager_v1_interface, 1));
    s->layout_ = OutputLayout::create(*s->conn_, why);
    if (!s->layout_) return nullptr;
    return s;
}

WlrootsSession::~WlrootsSession() {
    layout_.reset();
    if (conn_) conn_->flush();
}

bool WlrootsSession::offersInput(std::string& missing) const {
    missing.clear();
    if (!seat_) missing = "no seat";
    if (!pointers_) missing += std::string(missing.empty() ? "" : ", ") + "no virtual pointer";
    if (!keyboards_) missing += std::string(missing.empty() ? "" : ", ") + "no virtual keyboard";
    return missing.empty();
}

std::unique_ptr<WlrInputSink> WlrootsSession::makeInput() {
    std::string missing;
    if (!offersInput(missing)) return nullptr;
    return std::make_unique<WlrInputSink>(*conn_, *layout_, seat_.get(),
                                          (seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0, pointers_.get(),
                                          keyboards_.get());
}

}  // namespace tamborix::wlroots
