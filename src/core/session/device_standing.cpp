#include "core/session/device_standing.h"

#include "store/device_store.h"

namespace tamborix {

DeviceStanding::DeviceStanding(DeviceStore& store)
    : store_(store), storeChanged_(store.subscribe([this](DeviceStore::Change) { ++generation_; })) {}

const HelperConn::Standing& DeviceStanding::of(HelperConn& conn) {
    auto& standing = conn.standing;
    if (standing.generation == generation_) return standing;
    standing.generation = generation_;
    standing.paired = false;
    if (!conn.device) return standing;
    if (const auto stored = store_.deviceById(conn.device->id)) {
        standing.paired = true;
        standing.scope = stored->scope;
        standing.name = stored->name;
    }
    return standing;
}

}  // namespace tamborix
