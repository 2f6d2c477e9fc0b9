#pragma once
// The Wayland clipboard through data control (zwlr_data_control_manager_v1), which wlroots
// compositors and KWin offer to clients without a focused window. The helper's text is served
// from its own data source for as long as the helper runs and nobody replaces it; another
// program's text is read through a pipe from its owner.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/support/wayland/proxy.h"
#include "platform/linux/support/wayland/wayland_connection.h"
#include "ports/clipboard.h"

namespace tamborix::datacontrol {

class DataControlClipboard final : public Clipboard {
public:
    // Connects to the compositor of WAYLAND_DISPLAY (or `display`) and watches the connection
    // with the Qt loop. Null with `why` set when there is no compositor or no data control.
    [[nodiscard]] static std::unique_ptr<DataControlClipboard> open(const std::string& display, std::string& why);
    ~DataControlClipboard() override;

    [[nodiscard]] std::optional<std::string> text() const override;
    bool setText(const std::string& text) override;

    // Listener plumbing (the device's, the offers' and the source's events).
    struct Offer {
        wayland::Proxy<zwlr_data_control_offer_v1> proxy;
        std::vector<std::string> types;
    };
    void offered(zwlr_data_control_offer_v1* offer);
    void selection(zwlr_data_control_offer_v1* offer);
    void send(const std::string& type, int fd);
    void cancelled(zwlr_data_control_source_v1* source);
    void finished();
    Offer* find(zwlr_data_control_offer_v1* offer);

private:
    DataControlClipboard() = default;

    std::unique_ptr<wayland::WaylandConnection> conn_;
    wayland::Proxy<wl_seat> seat_;
    wayland::Proxy<zwlr_data_control_manager_v1> manager_;
    wayland::Proxy<zwlr_data_control_device_v1> device_;
    // Offers announced but not yet made the selection, and the selection's.
    std::vector<std::unique_ptr<Offer>> pending_;
    std::unique_ptr<Offer> current_;
    wayland::Proxy<zwlr_data_control_source_v1> source_;
    std::string served_;
};

}  // namespace tamborix::datacontrol
