#pragma once
// A stand-in for bluetoothd on a private bus, with the behaviour the helper relies on: it takes
// the name org.bluez, shows one adapter (or none), answers RegisterApplication only after reading
// the application's objects, reads the advertisement's properties, and plays centrals that
// subscribe (AcquireNotify, one socket per central as BlueZ 5.69 and later, or one shared socket
// without a device as earlier versions; or StartNotify), write, read with offsets and leave.

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace tamborix::testing {

class FakeBluez;

// Receives the application's PropertiesChanged signals (StartNotify notifications).
class FakeBluezSignals final : public QObject {
    Q_OBJECT
public:
    std::function<void(const QDBusMessage&)> onSignal;
public slots:
    void signal(const QDBusMessage& message);
};

class FakeBluez final : public QDBusVirtualObject {
public:
    enum class Notify { perCentral, shared };

    struct Characteristic {
        QString path;
        QString uuid;
        QStringList flags;
        bool notifyAcquired = false;  // offers AcquireNotify
        bool writeAcquired = false;   // offers AcquireWrite
    };
    struct Central {
        std::string address;
        QString devicePath;
        std::uint16_t mtu = 23;
        bool subscribed = false;
        bool viaStartNotify = false;
        bool stalled = false;
        int fd = -1;  // per-central notification socket (bluetoothd's end)
        std::unique_ptr<QSocketNotifier> reader;
        std::vector<QByteArray> received;  // notification values, as the phone got them
        // Writes without response: through the AcquireWrite socket once it is there.
        int writeFd = -1;
        bool acquiringWrite = false;
        bool writeRefused = false;  // the application declined: WriteValue for good
        std::vector<std::pair<QByteArray, std::function<void()>>> waitingWrites;
        // Values the socket had no room for yet, sent in order once it is writable: the link's pace.
        std::deque<std::pair<QByteArray, std::function<void()>>> writeBacklog;
        std::unique_ptr<QSocketNotifier> writer;
    };

    explicit FakeBluez(const QString& busAddress);
    ~FakeBluez() override;

    // Takes org.bluez; false when the bus could not be reached.
    bool start();
    // bluetoothd exits: the name goes, registrations and notification sockets with it.
    void stop();

    // Adapter.
    bool adapterPresent = true;
    bool powered = true;
    bool denyAccess = false;  // every call is refused as the bus policy would
    Notify notify = Notify::perCentral;
    // Whether writes without response go through AcquireWrite where the characteristic offers it
    // (bluetoothd 5.46 and later), else every value is a WriteValue call.
    bool acquireWrite = true;
    [[nodiscard]] int writeValueCalls() const { return writeValueCalls_; }
    void setPowered(bool on);
    void removeAdapter();
    void addAdapter();

    // What the application registered.
    [[nodiscard]] bool appRegistered() const { return !appOwner_.isEmpty(); }
    [[nodiscard]] bool advertising() const { return !adOwner_.isEmpty(); }
    QVariantMap advertisement;
    QString serviceUuid;
    std::vector<Characteristic> characteristics;
    int registrations = 0;
    int objectReads = 0;  // GetManagedObjects calls made on the application
    QString lastRegistrationError;
    [[nodiscard]] const Characteristic* characteristic(const QString& uuid) const;

    // Centrals. Calls are asynchronous: pendingCalls() counts the unanswered ones.
    Central& connectCentral(const std::string& address, std::uint16_t mtu);
    // `ready` runs once notifications can reach this central.
    void subscribe(const std::string& address, bool startNotify = false, std::function<void()> ready = {});
    // False when there is nothing to write to; else `done` runs once the application answered.
    bool write(const std::string& address, const QByteArray& value, bool withResponse = false,
               std::function<void()> done = {});
    using ReadDone = std::function<void(std::optional<QByteArray> value, QString error)>;
    void read(const std::string& address, std::size_t offset, ReadDone done);
    void leave(const std::string& address);
    void stall(const std::string& address, bool stalled);
    [[nodiscard]] Central* central(const std::string& address);
    [[nodiscard]] int pendingCalls() const { return pending_; }
    [[nodiscard]] int failedCalls() const { return failed_; }
    // Delivered on every notification value a central receives.
    std::function<void(const std::string& address, const QByteArray& value)> onNotification;

    // QDBusVirtualObject
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    [[nodiscard]] QString introspect(const QString&) const override { return {}; }

private:
    void registerApplication(const QDBusMessage& message);
    void registerAdvertisement(const QDBusMessage& message);
    void forgetApplication();
    void closeCentralSocket(Central& c);
    void closeWriteSocket(Central& c);
    void writeValue(Central& c, const QString& path, const QByteArray& value, bool withResponse,
                    std::function<void()> done);
    void acquireWriteFor(Central& c, const QString& path);
    void drainWrites(const std::string& address);
    void readSocket(int fd);
    void deliver(Central& c, const QByteArray& value);
    void call(QDBusMessage message, std::function<void(const QDBusMessage&)> done);
    [[nodiscard]] QVariantMap options(const Central& c) const;
    [[nodiscard]] QString statusPath() const;

    QString busAddress_;
    QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
    bool registered_ = false;
    QString appOwner_;
    QString appPath_;
    QString adOwner_;
    std::map<std::string, Central> centrals_;
    int sharedFd_ = -1;
    std::unique_ptr<QSocketNotifier> sharedReader_;
    std::vector<std::function<void()>> sharedWaiters_;
    bool startNotified_ = false;
    FakeBluezSignals signals_;
    int pending_ = 0;
    int writeValueCalls_ = 0;
    int failed_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tamborix::testing
