#pragma once
// Whether a connection's device is still paired, with which scope and under which name. The
// answer is kept on the connection and read again only after the store changed, so the check
// every frame makes costs the same however many devices are paired.

#include <cstdint>

#include "core/helper_conn.h"
#include "base/change_signal.h"

namespace tamborix {

class DeviceStore;

class DeviceStanding {
public:
    explicit DeviceStanding(DeviceStore& store);
    DeviceStanding(const DeviceStanding&) = delete;
    DeviceStanding& operator=(const DeviceStanding&) = delete;

    // The stored record of the connection's device; its `paired` is false once it was revoked.
    [[nodiscard]] const HelperConn::Standing& of(HelperConn& conn);

private:
    DeviceStore& store_;
    std::uint64_t generation_ = 1;
    Subscription storeChanged_;
};

}  // namespace tamborix
