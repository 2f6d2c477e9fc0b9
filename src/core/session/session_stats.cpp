#include "core/session/session_stats.h"

#include <cmath>

#include "core/session/connection_registry.h"
#include "core/session/core_state.h"
#include "perf/main_thread_lag_probe.h"

namespace tamborix {

using nlohmann::json;

SessionStats::SessionStats(MainLoop& loop, ConnectionRegistry& registry, CoreState& state,
                           const MainThreadLagProbe* lagProbe)
    : loop_(loop), registry_(registry), state_(state), lagProbe_(lagProbe) {}

json SessionStats::current() {
    json stats = json::object();
    stats["t"] = "stats";
    stats["cpu"] = std::round(process_.cpuPercent() * 10) / 10;
    // Whole numbers go out as JSON integers ("12", not "12.0"), which a phone may read as Int.
    stats["mem"] = std::llround(process_.memoryMiB().value_or(0));
    stats["lag"] = std::llround(lagProbe_ ? lagProbe_->worstMs() : 0.0);
    stats["rx"] = framesIn_.perSecond(loop_.wallNow());
    stats["sessions"] = registry_.count();
    if (transportStats_) {
        const json extra = transportStats_();
        if (extra.is_object()) {
            for (const auto& [key, value] : extra.items())
                if (!stats.contains(key)) stats[key] = value;
        }
    }
    return stats;
}

void SessionStats::refresh() { state_.setLastStats(current()); }

void SessionStats::send(const HelperConnPtr& conn) { registry_.sendTo(conn, current()); }

}  // namespace tamborix
