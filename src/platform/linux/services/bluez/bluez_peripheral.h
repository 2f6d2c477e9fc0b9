#pragma once
// The peripheral role over BlueZ on the system bus: a GATT application registered with
// GattManager1, an advertisement registered with LEAdvertisingManager1, notifications through
// AcquireNotify sockets (PropertiesChanged on "Value" for centrals that use StartNotify).
//
// BlueZ before 5.69 acquires one socket for all centrals, without naming the device, and every
// value written to it reaches every subscribed central. Two phones' frames would then mix, so in
// that case one central at a time is served: the first to write keeps the link until it leaves,
// and the others' writes are ignored meanwhile.

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/liveness.h"
#include "platform/linux/services/bluez/gatt_objects.h"
#include "platform/linux/services/bluez/notify_link.h"
#include "platform/linux/services/bluez/write_link.h"
#include "ports/main_loop.h"
#include "ports/peripheral.h"

class QDBusServiceWatcher;
class QDBusMessage;

namespace tamborix::bluez {

// Receives BlueZ's signals (a QObject slot is what QtDBus delivers signals to).
class SignalSink final : public QObject {
    Q_OBJECT
public:
    std::function<void(const QDBusMessage&)> onPropertiesChanged;
    std::function<void(const QDBusMessage&)> onInterfacesChanged;
public slots:
    void propertiesChanged(const QDBusMessage& message);
    void interfacesChanged(const QDBusMessage& message);
};

class BluezPeripheral final : public Peripheral, private GattCallHandler {
public:
    static constexpr const char* sharedLimitation = "one phone at a time with this BlueZ version";

    BluezPeripheral(MainLoop& loop, Delegate& delegate, QDBusConnection bus);
    ~BluezPeripheral() override;

    [[nodiscard]] State state() const override { return state_; }
    void removeAllServices() override;
    void addService(const GattService& service) override;
    void startAdvertising(const Advertisement& advertisement) override;
    void stopAdvertising() override;
    [[nodiscard]] bool updateValue(ByteView value, const std::string& characteristic,
                                   const CentralId& central) override;
    [[nodiscard]] std::size_t maximumUpdateValueLength(const CentralId& central) const override;
    void setLowLatency(const CentralId&) override {}  // BlueZ picks connection parameters itself

    // The object path of the adapter in use, once found.
    [[nodiscard]] const QString& adapterPath() const noexcept { return adapter_; }

private:
    enum class Broadcast { none, socket, properties };

    void characteristicCall(const std::string& uuid, const QDBusMessage& message,
                            const QDBusConnection& connection) override;
    void probe();
    void probed(const QDBusMessage& reply);
    void bluezVanished();
    void propertiesChanged(const QDBusMessage& message);
    void interfacesChanged(const QDBusMessage& message);
    void setState(State state, const std::string& detail = {});
    void acquireNotify(const QVariantMap& options, const QDBusMessage& message,
                       const QDBusConnection& connection);
    void startNotify(const QDBusMessage& message, const QDBusConnection& connection);
    void stopNotify(const QDBusMessage& message, const QDBusConnection& connection);
    void write(const std::string& uuid, const QVariantMap& options, const QByteArray& value,
               const QDBusMessage& message, const QDBusConnection& connection);
    // A socket for the central's writes without response: each value a read, not a D-Bus call.
    void acquireWrite(const std::string& uuid, const QVariantMap& options, const QDBusMessage& message,
                      const QDBusConnection& connection);
    // False while another phone holds the only notification link this BlueZ gives.
    [[nodiscard]] bool admitWriter(const CentralId& central);
    void read(const std::string& uuid, const QVariantMap& options, const QDBusMessage& message,
              const QDBusConnection& connection);
    // The central of a call, from its "device" option (empty when there is none).
    [[nodiscard]] static CentralId centralOf(const QVariantMap& options);
    void noteMtu(const CentralId& central, const QVariantMap& options);
    void leaveBroadcast();
    void enterBroadcast(Broadcast kind);
    void ownerLeft();
    void linkClosed(const CentralId& central, const NotifyLink* link);
    void sharedLinkClosed(const NotifyLink* link);
    void post(std::function<void()> job);
    // RegisterApplication / RegisterAdvertisement of the object at `path` on the adapter; the
    // answer (an error text, or nothing) comes on the loop.
    void registerWithAdapter(const QString& iface, const QString& method, const QString& path,
                             std::function<void(std::optional<std::string>)> answered);
    void forgetCentrals();

    MainLoop& loop_;
    Delegate& delegate_;
    QDBusConnection bus_;
    State state_ = State::unknown;
    QString adapter_;
    std::unique_ptr<GattObjects> objects_;
    bool objectsRegistered_ = false;
    bool appRegistered_ = false;
    bool adRegistered_ = false;
    std::unique_ptr<SignalSink> signals_;
    std::unique_ptr<QDBusServiceWatcher> watcher_;
    std::map<CentralId, std::unique_ptr<NotifyLink>> links_;
    std::map<CentralId, std::uint16_t> deviceMtu_;
    std::map<CentralId, std::unique_ptr<WriteLink>> writeLinks_;
    Broadcast broadcast_ = Broadcast::none;
    std::unique_ptr<NotifyLink> sharedLink_;
    bool notifying_ = false;  // StartNotify is in force
    std::optional<CentralId> owner_;
    std::string notifyUuid_;  // the characteristic bluetoothd subscribed to
    std::uint64_t generation_ = 0;  // replies of an earlier BlueZ instance are ignored
    Liveness life_;
};

class BluezPeripheralFactory final : public PeripheralFactory {
public:
    explicit BluezPeripheralFactory(MainLoop& loop) : loop_(loop) {}
    [[nodiscard]] std::unique_ptr<Peripheral> create(Peripheral::Delegate& delegate) override;

private:
    MainLoop& loop_;
};

}  // namespace tamborix::bluez
