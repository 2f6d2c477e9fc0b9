#pragma once
// The live view for each connection: the stored decision or the user's approval, whether the
// screen can be captured at all, the streamer's life, and taps on the streamed picture.

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/liveness.h"
#include "core/helper_conn.h"
#include "core/screen/screen_streamer.h"
#include "core/session/command_table.h"
#include "protocol/bytes.h"

namespace tamborix {

class ConnectionRegistry;
class CoreState;
class DeviceStore;
class InputCommands;

class ScreenSharing {
public:
    // Call `answer` exactly once, on the main loop, now or later.
    using ApproveScreen =
        std::function<void(const std::string& deviceName, std::function<void(bool)> answer)>;

    ScreenSharing(MainLoop& loop, DeviceStore& store, const DisplaySource& displays,
                  ScreenCapture& capture, InputCommands& input, ConnectionRegistry& registry,
                  CoreState& state);
    ~ScreenSharing();
    ScreenSharing(const ScreenSharing&) = delete;
    ScreenSharing& operator=(const ScreenSharing&) = delete;

    void setApproveScreen(ApproveScreen approve) { approveScreen_ = std::move(approve); }
    [[nodiscard]] bool streaming(const HelperConnPtr& conn) const;
    // The connection's stream ends and the phone is told so.
    void stop(const HelperConnPtr& conn);
    // Every stream ends, nothing is told (the core is going away).
    void stopAll();

    void screen(const CommandCall& call);
    void ack(const CommandCall& call);
    void tap(const CommandCall& call);

private:
    void start(const HelperConnPtr& conn, bool cursorMode, int display);
    void decided(const std::weak_ptr<HelperConn>& weak, bool allowed, bool cursorMode,
                 int display);
    void tell(const HelperConnPtr& conn, bool on, const char* error);
    void recomputeSharing();

    MainLoop& loop_;
    DeviceStore& store_;
    const DisplaySource& displays_;
    ScreenCapture& capture_;
    InputCommands& input_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    ApproveScreen approveScreen_;
    // At most one per connection, keyed by session id.
    std::map<Bytes, std::unique_ptr<ScreenStreamer>> streamers_;
    // Lets approvals and posted starts that outlive the call see whether this is gone.
    Liveness life_;
};

}  // namespace tamborix
