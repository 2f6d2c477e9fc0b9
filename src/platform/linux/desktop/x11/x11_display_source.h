#pragma once
// The displays of an X11 screen: RandR 1.5 monitors (so virtual monitors made with
// `xrandr --setmonitor` count), else Xinerama screens, else the root window. The list is read
// once and kept until the server says the layout or the work area changed, because the injector
// asks for it on every pointer move.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop/x11/x_connection.h"
#include "ports/display_source.h"

namespace tamborix::x11 {

class X11DisplaySource final : public DisplaySource {
public:
    enum class Source : std::uint8_t { randrMonitors, xinerama, root };

    explicit X11DisplaySource(XConnection& conn);

    // Primary monitor first, then the others in the server's order. Ids are the monitors' name
    // atoms (Xinerama: screen number + 1; root: 1), stable while the monitor exists.
    [[nodiscard]] std::vector<DisplayInfo> displays() const override;
    void displaysInto(std::vector<DisplayInfo>& out) const override;
    [[nodiscard]] std::optional<Point> pointer() const override;

    [[nodiscard]] Source source() const noexcept { return source_; }
    // One line for the start-up report ("X11 RandR 1.5 monitors (2)").
    [[nodiscard]] std::string describe() const;

private:
    void handle(const xcb_generic_event_t& event);
    void refresh() const;
    [[nodiscard]] std::vector<Rect> readLayout(std::vector<std::uint32_t>& ids) const;

    XConnection& conn_;
    Source source_ = Source::root;
    std::uint8_t randrEventBase_ = 0;
    std::vector<xcb_atom_t> workAreaAtoms_;  // the root properties that move the work areas
    std::unique_ptr<XConnection::Subscription> events_;
    mutable bool stale_ = true;
    mutable std::vector<DisplayInfo> cache_;
};

}  // namespace tamborix::x11
