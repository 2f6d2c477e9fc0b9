#pragma once
// One central's written values from bluetoothd: our end of a local SOCK_SEQPACKET pair whose other
// end bluetoothd received in the reply to AcquireWrite. Every packet is one value the central
// wrote without response; all that are waiting are read in the same wake-up. bluetoothd closing
// its end means the central left or will write through WriteValue again.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/unique_fd.h"
#include "protocol/bytes.h"

class QSocketNotifier;

namespace tamborix::bluez {

class WriteLink {
public:
    // Both callbacks run from the Qt loop; after onClosed the link may be destroyed only later
    // (from a posted job), not inside the callback.
    static std::unique_ptr<WriteLink> create(std::uint16_t mtu, std::function<void(std::vector<Bytes>)> onValues,
                                             std::function<void()> onClosed);
    ~WriteLink();
    WriteLink(const WriteLink&) = delete;
    WriteLink& operator=(const WriteLink&) = delete;

    // The end for bluetoothd; this object keeps it open until releaseRemote().
    [[nodiscard]] int remoteFd() const noexcept { return remote_.get(); }
    void releaseRemote() { remote_.reset(); }

private:
    WriteLink(UniqueFd fd, UniqueFd remote, std::uint16_t mtu);
    void readable();

    UniqueFd fd_;
    UniqueFd remote_;
    std::uint16_t mtu_;
    bool closed_ = false;
    std::function<void(std::vector<Bytes>)> onValues_;
    std::function<void()> onClosed_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
};

}  // namespace tamborix::bluez
