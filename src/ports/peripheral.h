#pragma once
// The Bluetooth LE peripheral role as the Bluetooth server sees it: publish one GATT service,
// advertise it, and exchange attribute requests and notifications with the centrals that connect.
// The Linux backend is BlueZ over D-Bus; tests use testing/fake_peripheral.h.
//
// Every delegate call runs on the main thread and never inside the port call that caused it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"

namespace tamborix {

// Stable for one remote device while the peripheral exists (BlueZ: its address).
using CentralId = std::string;

namespace gatt {
// Characteristic properties (the attribute protocol's bits).
inline constexpr std::uint8_t propRead = 0x02;
inline constexpr std::uint8_t propWriteWithoutResponse = 0x04;
inline constexpr std::uint8_t propWrite = 0x08;
inline constexpr std::uint8_t propNotify = 0x10;
// Attribute permissions.
inline constexpr std::uint8_t permReadable = 0x01;
inline constexpr std::uint8_t permWriteable = 0x02;
}  // namespace gatt

struct GattCharacteristic {
    std::string uuid;  // upper-case canonical text
    std::uint8_t properties = 0;
    std::uint8_t permissions = 0;
};

struct GattService {
    std::string uuid;
    std::vector<GattCharacteristic> characteristics;  // in this order
};

struct Advertisement {
    std::vector<std::string> serviceUUIDs;
    std::string localName;
};

class Peripheral {
public:
    enum class State { unknown, resetting, unsupported, unauthorized, poweredOff, poweredOn };
    enum class ReadResult { success, invalidOffset };

    struct WriteRequest {
        CentralId central;
        std::string characteristic;  // uuid
        std::optional<Bytes> value;
    };
    struct ReadRequest {
        CentralId central;
        std::string characteristic;
        std::size_t offset = 0;
    };
    struct ReadAnswer {
        ReadResult result = ReadResult::success;
        Bytes value;
    };

    class Delegate {
    public:
        virtual ~Delegate() = default;
        // `detail` is the platform's description where it has one (a permission error).
        virtual void stateChanged(State state, const std::string& detail) = 0;
        virtual void serviceAdded(const std::optional<std::string>& error) = 0;
        virtual void advertisingStarted(const std::optional<std::string>& error) = 0;
        virtual void subscribed(const CentralId& central, const std::string& characteristic) = 0;
        virtual void unsubscribed(const CentralId& central, const std::string& characteristic) = 0;
        // One batch of writes; the peripheral acknowledges the batch when this returns.
        virtual void writesReceived(const std::vector<WriteRequest>& requests) = 0;
        [[nodiscard]] virtual ReadAnswer readReceived(const ReadRequest& request) = 0;
        // Room again after updateValue refused a value.
        virtual void readyToUpdate() = 0;
        // Something the platform cannot do for this peripheral, for the status line ("" = none).
        virtual void limitationChanged(const std::string& limitation) = 0;
    };

    virtual ~Peripheral() = default;

    [[nodiscard]] virtual State state() const = 0;
    virtual void removeAllServices() = 0;
    // Outcome through Delegate::serviceAdded.
    virtual void addService(const GattService& service) = 0;
    // Outcome through Delegate::advertisingStarted.
    virtual void startAdvertising(const Advertisement& advertisement) = 0;
    virtual void stopAdvertising() = 0;
    // Sends one notification value of `characteristic` to one subscribed central. False when the
    // transmit queue is full: Delegate::readyToUpdate follows once there is room.
    [[nodiscard]] virtual bool updateValue(ByteView value, const std::string& characteristic,
                                           const CentralId& central) = 0;
    // The largest notification value this central's link carries.
    [[nodiscard]] virtual std::size_t maximumUpdateValueLength(const CentralId& central) const = 0;
    virtual void setLowLatency(const CentralId& central) = 0;
};

class PeripheralFactory {
public:
    virtual ~PeripheralFactory() = default;
    // The first state arrives through the delegate, which must outlive the peripheral.
    [[nodiscard]] virtual std::unique_ptr<Peripheral> create(Peripheral::Delegate& delegate) = 0;
};

}  // namespace tamborix
