#pragma once
// The statistics a phone asks for with "stats_get" and the menu shows every second: the helper's
// processor and memory use, the main loop's lag, frames received per second, live sessions and
// what the transports add.

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>

#include "core/helper_conn.h"
#include "perf/process_stats.h"
#include "perf/rate_counter.h"
#include "ports/main_loop.h"

namespace tamborix {

class ConnectionRegistry;
class CoreState;
class MainThreadLagProbe;

class SessionStats {
public:
    using TransportStats = std::function<nlohmann::json()>;  // an object, e.g. "bleBacklog"

    // Without a lag probe the lag is reported as 0.
    SessionStats(MainLoop& loop, ConnectionRegistry& registry, CoreState& state,
                 const MainThreadLagProbe* lagProbe);

    void setTransportStats(TransportStats stats) { transportStats_ = std::move(stats); }
    // Every frame that reaches the core, authenticated or not.
    void frameIn() { framesIn_.hit(loop_.wallNow()); }
    [[nodiscard]] std::int64_t framesPerSecond() { return framesIn_.perSecond(loop_.wallNow()); }

    // The members of the "stats" message, transport members merged under the core's own.
    [[nodiscard]] nlohmann::json current();
    // current() stored as the published snapshot.
    void refresh();

    void send(const HelperConnPtr& conn);

private:
    MainLoop& loop_;
    ConnectionRegistry& registry_;
    CoreState& state_;
    const MainThreadLagProbe* lagProbe_;
    TransportStats transportStats_;
    RateCounter framesIn_;
    ProcessStats process_;
};

}  // namespace tamborix
