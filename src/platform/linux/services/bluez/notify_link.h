#pragma once
// One notification channel to bluetoothd: our end of a local SOCK_SEQPACKET pair whose other end
// bluetoothd received in the reply to AcquireNotify. Every packet written is one notification
// value; a full send buffer is the link's back-pressure, and bluetoothd closing its end means the
// central(s) behind it stopped listening.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/unique_fd.h"
#include "protocol/bytes.h"

class QSocketNotifier;

namespace tamborix::bluez {

class NotifyLink {
public:
    enum class Sent { sent, full, closed };

    // Both callbacks run from the Qt loop, never inside send(); after either, the link may be
    // destroyed only later (from a posted job), not inside the callback.
    static std::unique_ptr<NotifyLink> create(std::uint16_t mtu, std::function<void()> onClosed,
                                              std::function<void()> onWritable);
    ~NotifyLink();
    NotifyLink(const NotifyLink&) = delete;
    NotifyLink& operator=(const NotifyLink&) = delete;

    // The end for bluetoothd; this object keeps it open until releaseRemote().
    [[nodiscard]] int remoteFd() const noexcept { return remote_.get(); }
    void releaseRemote();

    // Cut to the largest value the link carries (bluetoothd would drop the rest anyway).
    [[nodiscard]] Sent send(ByteView value);
    [[nodiscard]] std::uint16_t mtu() const noexcept { return mtu_; }
    [[nodiscard]] std::size_t maxValue() const noexcept { return mtu_ > 3 ? mtu_ - 3u : 20u; }
    [[nodiscard]] bool closed() const noexcept { return closed_; }

private:
    NotifyLink(UniqueFd fd, UniqueFd remote, std::uint16_t mtu);
    void readable();

    UniqueFd fd_;
    UniqueFd remote_;
    std::uint16_t mtu_;
    bool closed_ = false;
    std::function<void()> onClosed_;
    std::function<void()> onWritable_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
};

}  // namespace tamborix::bluez
