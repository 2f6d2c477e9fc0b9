#include "platform/linux/services/bluez/bluez_peripheral.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <algorithm>
#include <atomic>

#include "platform/linux/services/bluez/dbus_types.h"

namespace tamborix::bluez {

namespace {

const QString bluezService = QStringLiteral("org.bluez");
const QString adapterIface = QStringLiteral("org.bluez.Adapter1");
const QString deviceIface = QStringLiteral("org.bluez.Device1");
const QString gattManagerIface = QStringLiteral("org.bluez.GattManager1");
const QString advertisingManagerIface = QStringLiteral("org.bluez.LEAdvertisingManager1");
const QString propertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString objectManagerIface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
constexpr std::uint16_t defaultMtu = 23;  // the attribute protocol's minimum
constexpr int callTimeoutMs = 20'000;

std::atomic<unsigned> instances{0};

QStringList listArgument(const QVariant& v) {
    if (v.canConvert<QDBusArgument>()) return qdbus_cast<QStringList>(v.value<QDBusArgument>());
    return v.toStringList();
}

QVariantMap mapArgument(const QVariant& v) {
    if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
    return v.toMap();
}

std::string errorText(const QDBusMessage& reply) {
    const auto text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    return text.toStdString();
}

bool accessError(const QString& name) {
    return name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied") ||
           name == QLatin1String("org.freedesktop.DBus.Error.AuthFailed") ||
           name == QLatin1String("org.bluez.Error.NotAuthorized") ||
           name == QLatin1String("org.bluez.Error.NotPermitted");
}

// Answers BlueZ's AcquireWrite or AcquireNotify with the central's end of a new link and the MTU,
// or with "No socket" where none could be made. False when there is no link to use.
template <class Link>
bool handOver(Link* link, std::uint16_t mtu, const QDBusMessage& message, const QDBusConnection& connection) {
    if (!link) {
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.Failed"), QStringLiteral("No socket")));
        return false;
    }
    connection.send(message.createReply(
        QVariantList{QVariant::fromValue(QDBusUnixFileDescriptor(link->remoteFd())), QVariant::fromValue(mtu)}));
    link->releaseRemote();
    return true;
}

}  // namespace

void SignalSink::propertiesChanged(const QDBusMessage& message) {
    if (onPropertiesChanged) onPropertiesChanged(message);
}
void SignalSink::interfacesChanged(const QDBusMessage& message) {
    if (onInterfacesChanged) onInterfacesChanged(message);
}

BluezPeripheral::BluezPeripheral(MainLoop& loop, Delegate& delegate, QDBusConnection bus)
    : loop_(loop), delegate_(delegate), bus_(std::move(bus)) {
    registerDbusTypes();
    const auto root = QStringLiteral("/org/tamborix/helper/ble%1").arg(instances++);
    objects_ = std::make_unique<GattObjects>(root, static_cast<GattCallHandler&>(*this));
    if (!bus_.isConnected()) {
        post([this] { setState(State::unsupported); });
        return;
    }
    objectsRegistered_ =
        bus_.registerVirtualObject(root, objects_.get(), QDBusConnection::SubPath);

    signals_ = std::make_unique<SignalSink>();
    signals_->onPropertiesChanged = [this](const QDBusMessage& m) { propertiesChanged(m); };
    signals_->onInterfacesChanged = [this](const QDBusMessage& m) { interfacesChanged(m); };
    bus_.connect(bluezService, QString(), propertiesIface, QStringLiteral("PropertiesChanged"),
                 signals_.get(), SLOT(propertiesChanged(QDBusMessage)));
    bus_.connect(bluezService, QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesAdded"),
                 signals_.get(), SLOT(interfacesChanged(QDBusMessage)));
    bus_.connect(bluezService, QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesRemoved"),
                 signals_.get(), SLOT(interfacesChanged(QDBusMessage)));

    watcher_ = std::make_unique<QDBusServiceWatcher>(
        bluezService, bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, [this] { probe(); });
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceUnregistered, [this] { bluezVanished(); });
    post([this] { probe(); });
}

BluezPeripheral::~BluezPeripheral() {
    life_.end();
    if (bus_.isConnected() && !adapter_.isEmpty()) {
        if (adRegistered_) {
            bus_.asyncCall(QDBusMessage::createMethodCall(bluezService, adapter_, advertisingManagerIface,
                                                          QStringLiteral("UnregisterAdvertisement"))
                           << QVariant::fromValue(QDBusObjectPath(objects_->advertisementPath())));
        }
        if (appRegistered_) {
            bus_.asyncCall(QDBusMessage::createMethodCall(bluezService, adapter_, gattManagerIface,
                                                          QStringLiteral("UnregisterApplication"))
                           << QVariant::fromValue(QDBusObjectPath(objects_->appPath())));
        }
    }
    watcher_.reset();
    if (signals_) {
        bus_.disconnect(bluezService, QString(), propertiesIface, QStringLiteral("PropertiesChanged"),
                        signals_.get(), SLOT(propertiesChanged(QDBusMessage)));
        bus_.disconnect(bluezService, QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesAdded"),
                        signals_.get(), SLOT(interfacesChanged(QDBusMessage)));
        bus_.disconnect(bluezService, QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesRemoved"),
                        signals_.get(), SLOT(interfacesChanged(QDBusMessage)));
    }
    if (objectsRegistered_) bus_.unregisterObject(objects_->root(), QDBusConnection::UnregisterTree);
    links_.clear();
    sharedLink_.reset();
}

void BluezPeripheral::post(std::function<void()> job) {
    loop_.post([alive = life_.watch(), job = std::move(job)] {
        if (alive) job();
    });
}

void BluezPeripheral::setState(State state, const std::string& detail) {
    if (state == state_) return;
    state_ = state;
    delegate_.stateChanged(state, detail);
}

void BluezPeripheral::probe() {
    const auto gen = generation_;
    auto* w = new QDBusPendingCallWatcher(
        bus_.asyncCall(QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"), objectManagerIface,
                                                      QStringLiteral("GetManagedObjects")),
                       callTimeoutMs));
    QObject::connect(w, &QDBusPendingCallWatcher::finished,
                     [this, gen, alive = life_.watch()](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         if (!alive || gen != generation_) return;
                         probed(call->reply());
                     });
}

void BluezPeripheral::probed(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (accessError(reply.errorName())) {
            setState(State::unauthorized, errorText(reply));
        } else {
            setState(State::unsupported);
        }
        return;
    }
    if (reply.arguments().isEmpty()) {
        setState(State::unsupported);
        return;
    }
    const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().at(0).value<QDBusArgument>());
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const auto& ifaces = it.value();
        if (!ifaces.contains(adapterIface) || !ifaces.contains(gattManagerIface) ||
            !ifaces.contains(advertisingManagerIface))
            continue;
        adapter_ = it.key().path();
        const bool powered = ifaces.value(adapterIface).value(QStringLiteral("Powered")).toBool();
        setState(powered ? State::poweredOn : State::poweredOff);
        return;
    }
    adapter_.clear();
    setState(State::unsupported);
}

void BluezPeripheral::bluezVanished() {
    ++generation_;
    appRegistered_ = false;
    adRegistered_ = false;
    adapter_.clear();
    forgetCentrals();
    setState(State::unsupported);
}

void BluezPeripheral::forgetCentrals() {
    std::vector<CentralId> gone;
    for (const auto& [id, link] : links_) gone.push_back(id);
    if (owner_) gone.push_back(*owner_);
    links_.clear();
    writeLinks_.clear();
    sharedLink_.reset();
    owner_.reset();
    notifying_ = false;
    for (const auto& id : gone) {
        post([this, id] { delegate_.unsubscribed(id, notifyUuid_); });
    }
}

void BluezPeripheral::propertiesChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2) return;
    const auto iface = args.at(0).toString();
    const auto changed = mapArgument(args.at(1));
    if (iface == adapterIface && message.path() == adapter_ && changed.contains(QStringLiteral("Powered"))) {
        setState(changed.value(QStringLiteral("Powered")).toBool() ? State::poweredOn : State::poweredOff);
        return;
    }
    if (iface == deviceIface && changed.contains(QStringLiteral("Connected")) &&
        !changed.value(QStringLiteral("Connected")).toBool()) {
        QVariantMap options{{QStringLiteral("device"), QVariant::fromValue(QDBusObjectPath(message.path()))}};
        const auto central = centralOf(options);
        if (owner_ && *owner_ == central) ownerLeft();
    }
}

void BluezPeripheral::interfacesChanged(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2) return;
    const auto path = args.at(0).value<QDBusObjectPath>().path();
    if (message.member() == QLatin1String("InterfacesAdded")) {
        if (!args.at(1).canConvert<QDBusArgument>()) return;
        const auto ifaces = qdbus_cast<InterfaceMap>(args.at(1).value<QDBusArgument>());
        if (ifaces.contains(adapterIface) && adapter_.isEmpty()) probe();
        return;
    }
    const auto removed = listArgument(args.at(1));
    if (path == adapter_ && removed.contains(adapterIface)) {
        ++generation_;
        appRegistered_ = false;
        adRegistered_ = false;
        adapter_.clear();
        forgetCentrals();
        setState(State::unsupported);
        probe();  // another adapter may serve
    }
}

void BluezPeripheral::removeAllServices() {
    if (appRegistered_ && !adapter_.isEmpty()) {
        bus_.asyncCall(QDBusMessage::createMethodCall(bluezService, adapter_, gattManagerIface,
                                                      QStringLiteral("UnregisterApplication"))
                       << QVariant::fromValue(QDBusObjectPath(objects_->appPath())));
    }
    appRegistered_ = false;
    objects_->setService(std::nullopt);
}

void BluezPeripheral::addService(const GattService& service) {
    objects_->setService(service);
    registerWithAdapter(gattManagerIface, QStringLiteral("RegisterApplication"), objects_->appPath(),
                        [this](std::optional<std::string> error) {
                            appRegistered_ = !error;
                            delegate_.serviceAdded(std::move(error));
                        });
}

void BluezPeripheral::startAdvertising(const Advertisement& advertisement) {
    if (adRegistered_) stopAdvertising();
    objects_->setAdvertisement(advertisement);
    registerWithAdapter(advertisingManagerIface, QStringLiteral("RegisterAdvertisement"),
                        objects_->advertisementPath(), [this](std::optional<std::string> error) {
                            adRegistered_ = !error;
                            delegate_.advertisingStarted(std::move(error));
                        });
}

void BluezPeripheral::registerWithAdapter(const QString& iface, const QString& method, const QString& path,
                                          std::function<void(std::optional<std::string>)> answered) {
    if (adapter_.isEmpty()) {
        post([answered = std::move(answered)] { answered(std::string("No Bluetooth adapter")); });
        return;
    }
    const auto gen = generation_;
    auto call = QDBusMessage::createMethodCall(bluezService, adapter_, iface, method);
    call << QVariant::fromValue(QDBusObjectPath(path)) << QVariantMap{};
    auto* w = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs));
    // An answer for an adapter that has since gone, or for a peripheral that is gone, is dropped.
    QObject::connect(w, &QDBusPendingCallWatcher::finished,
                     [this, gen, alive = life_.watch(),
                      answered = std::move(answered)](QDBusPendingCallWatcher* c) {
                         c->deleteLater();
                         if (!alive || gen != generation_) return;
                         const auto reply = c->reply();
                         answered(reply.type() == QDBusMessage::ErrorMessage
                                      ? std::optional<std::string>(errorText(reply))
                                      : std::nullopt);
                     });
}

void BluezPeripheral::stopAdvertising() {
    if (adRegistered_ && !adapter_.isEmpty()) {
        bus_.asyncCall(QDBusMessage::createMethodCall(bluezService, adapter_, advertisingManagerIface,
                                                      QStringLiteral("UnregisterAdvertisement"))
                       << QVariant::fromValue(QDBusObjectPath(objects_->advertisementPath())));
    }
    adRegistered_ = false;
}

CentralId BluezPeripheral::centralOf(const QVariantMap& options) {
    const auto device = options.value(QStringLiteral("device"));
    if (!device.isValid()) return {};
    const auto path = device.value<QDBusObjectPath>().path();
    const auto slash = path.lastIndexOf(QLatin1Char('/'));
    auto last = path.mid(slash + 1);
    if (last.startsWith(QLatin1String("dev_"))) return last.mid(4).replace(QLatin1Char('_'), QLatin1Char(':')).toStdString();
    return path.toStdString();
}

void BluezPeripheral::noteMtu(const CentralId& central, const QVariantMap& options) {
    const auto mtu = options.value(QStringLiteral("mtu"));
    if (!central.empty() && mtu.isValid() && mtu.toUInt() >= defaultMtu)
        deviceMtu_[central] = static_cast<std::uint16_t>(mtu.toUInt());
}

void BluezPeripheral::characteristicCall(const std::string& uuid, const QDBusMessage& message,
                                         const QDBusConnection& connection) {
    const auto member = message.member();
    const auto args = message.arguments();
    if (member == QLatin1String("ReadValue")) {
        read(uuid, mapArgument(args.value(0)), message, connection);
    } else if (member == QLatin1String("WriteValue")) {
        write(uuid, mapArgument(args.value(1)), args.value(0).toByteArray(), message, connection);
    } else if (member == QLatin1String("AcquireWrite")) {
        acquireWrite(uuid, mapArgument(args.value(0)), message, connection);
    } else if (member == QLatin1String("AcquireNotify")) {
        notifyUuid_ = uuid;
        acquireNotify(mapArgument(args.value(0)), message, connection);
    } else if (member == QLatin1String("StartNotify")) {
        notifyUuid_ = uuid;
        startNotify(message, connection);
    } else if (member == QLatin1String("StopNotify")) {
        stopNotify(message, connection);
    } else {
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.NotSupported"),
                                                 QStringLiteral("Not supported")));
    }
}

void BluezPeripheral::read(const std::string& uuid, const QVariantMap& options, const QDBusMessage& message,
                           const QDBusConnection& connection) {
    if (!(objects_->characteristicProperties(uuid) & gatt::propRead)) {
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.NotPermitted"),
                                                 QStringLiteral("Read not permitted")));
        return;
    }
    const auto central = centralOf(options);
    noteMtu(central, options);
    const auto offset = options.value(QStringLiteral("offset")).toUInt();
    const auto answer = delegate_.readReceived({central, uuid, offset});
    if (answer.result == ReadResult::invalidOffset) {
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.InvalidOffset"),
                                                 QStringLiteral("Invalid offset")));
        return;
    }
    connection.send(message.createReply(
        QByteArray(reinterpret_cast<const char*>(answer.value.data()), static_cast<qsizetype>(answer.value.size()))));
}

void BluezPeripheral::write(const std::string& uuid, const QVariantMap& options, const QByteArray& value,
                            const QDBusMessage& message, const QDBusConnection& connection) {
    const auto reply = [&] {
        if (message.isReplyRequired()) connection.send(message.createReply());
    };
    const auto props = objects_->characteristicProperties(uuid);
    if (!(props & (gatt::propWrite | gatt::propWriteWithoutResponse))) {
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.NotPermitted"),
                                                 QStringLiteral("Write not permitted")));
        return;
    }
    const auto central = centralOf(options);
    noteMtu(central, options);
    if (!admitWriter(central)) {
        // Another phone holds the only link this BlueZ gives us: an error the phone sees,
        // rather than a write acknowledged and then ignored.
        if (message.isReplyRequired())
            connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.InProgress"),
                                                     QStringLiteral("Another phone is connected")));
        return;
    }
    reply();
    delegate_.writesReceived(
        {WriteRequest{central, uuid, Bytes(value.begin(), value.end())}});
}

bool BluezPeripheral::admitWriter(const CentralId& central) {
    // A phone with a notification socket of its own is served whatever the others use.
    if (broadcast_ == Broadcast::none || links_.contains(central)) return true;
    if (!owner_) {
        owner_ = central;
        delegate_.subscribed(central, notifyUuid_);
        return true;
    }
    return *owner_ == central;
}

void BluezPeripheral::acquireWrite(const std::string& uuid, const QVariantMap& options, const QDBusMessage& message,
                                   const QDBusConnection& connection) {
    const auto central = centralOf(options);
    if (!(objects_->characteristicProperties(uuid) & gatt::propWriteWithoutResponse) || central.empty()) {
        // Without the device the values could not be told apart: bluetoothd keeps WriteValue.
        connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.NotSupported"),
                                                 QStringLiteral("Not supported")));
        return;
    }
    noteMtu(central, options);
    const auto mtu = static_cast<std::uint16_t>(std::max<unsigned>(options.value(QStringLiteral("mtu")).toUInt(), defaultMtu));
    std::shared_ptr<WriteLink*> slot = std::make_shared<WriteLink*>(nullptr);
    auto link = WriteLink::create(
        mtu,
        [this, central, uuid](std::vector<Bytes> values) {
            // The same admission as a WriteValue call; refused values have no one to answer.
            if (!admitWriter(central)) return;
            std::vector<WriteRequest> requests;
            requests.reserve(values.size());
            for (auto& v : values) requests.push_back(WriteRequest{central, uuid, std::move(v)});
            delegate_.writesReceived(requests);
        },
        [this, central, slot] {
            const auto* raw = *slot;
            post([this, central, raw] {
                const auto it = writeLinks_.find(central);
                if (it != writeLinks_.end() && it->second.get() == raw) writeLinks_.erase(it);
            });
        });
    *slot = link.get();
    if (!handOver(link.get(), mtu, message, connection)) return;
    writeLinks_[central] = std::move(link);
}

void BluezPeripheral::enterBroadcast(Broadcast kind) {
    const bool first = broadcast_ == Broadcast::none;
    broadcast_ = kind;
    if (first) delegate_.limitationChanged(sharedLimitation);
}

void BluezPeripheral::leaveBroadcast() {
    if (broadcast_ == Broadcast::none) return;
    broadcast_ = Broadcast::none;
    notifying_ = false;
    ownerLeft();
    delegate_.limitationChanged({});
}

void BluezPeripheral::acquireNotify(const QVariantMap& options, const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    const auto central = centralOf(options);
    auto mtu = static_cast<std::uint16_t>(std::max<unsigned>(options.value(QStringLiteral("mtu")).toUInt(), defaultMtu));
    std::shared_ptr<NotifyLink*> slot = std::make_shared<NotifyLink*>(nullptr);
    auto link = NotifyLink::create(
        mtu,
        [this, central, slot] {
            const auto* raw = *slot;
            post([this, central, raw] {
                if (central.empty())
                    sharedLinkClosed(raw);
                else
                    linkClosed(central, raw);
            });
        },
        [this] { delegate_.readyToUpdate(); });
    *slot = link.get();
    if (!handOver(link.get(), mtu, message, connection)) return;
    if (central.empty()) {
        sharedLink_ = std::move(link);
        enterBroadcast(Broadcast::socket);
        return;
    }
    noteMtu(central, options);
    links_[central] = std::move(link);
    delegate_.subscribed(central, notifyUuid_);
}

void BluezPeripheral::startNotify(const QDBusMessage& message, const QDBusConnection& connection) {
    notifying_ = true;
    if (broadcast_ != Broadcast::socket) enterBroadcast(Broadcast::properties);
    connection.send(message.createReply());
}

void BluezPeripheral::stopNotify(const QDBusMessage& message, const QDBusConnection& connection) {
    notifying_ = false;
    connection.send(message.createReply());
    // The one StartNotify subscriber is gone: phones with sockets of their own are all served.
    if (broadcast_ == Broadcast::properties) leaveBroadcast();
}

void BluezPeripheral::ownerLeft() {
    if (!owner_) return;
    const auto central = *owner_;
    owner_.reset();
    delegate_.unsubscribed(central, notifyUuid_);
}

void BluezPeripheral::linkClosed(const CentralId& central, const NotifyLink* link) {
    const auto it = links_.find(central);
    if (it == links_.end() || it->second.get() != link) return;
    links_.erase(it);
    delegate_.unsubscribed(central, notifyUuid_);
}

void BluezPeripheral::sharedLinkClosed(const NotifyLink* link) {
    if (sharedLink_.get() != link) return;
    sharedLink_.reset();
    if (broadcast_ == Broadcast::socket)
        leaveBroadcast();
    else
        ownerLeft();
}

bool BluezPeripheral::updateValue(ByteView value, const std::string& characteristic, const CentralId& central) {
    NotifyLink* link = nullptr;
    if (const auto it = links_.find(central); it != links_.end()) {
        link = it->second.get();
    } else if (broadcast_ != Broadcast::none && owner_ && *owner_ == central) {
        if (broadcast_ == Broadcast::socket) {
            link = sharedLink_.get();
        } else if (notifying_) {
            const auto cut = value.first(std::min(value.size(), maximumUpdateValueLength(central)));
            auto signal = QDBusMessage::createSignal(objects_->characteristicPath(characteristic), propertiesIface,
                                                     QStringLiteral("PropertiesChanged"));
            const QVariantMap changed{{QStringLiteral("Value"),
                                       QByteArray(reinterpret_cast<const char*>(cut.data()),
                                                  static_cast<qsizetype>(cut.size()))}};
            signal << QLatin1String(gattCharacteristic) << changed << QStringList{};
            bus_.send(signal);
            return true;
        }
    }
    if (!link) return true;  // nobody listens: the value has nowhere to go
    const auto cut = value.first(std::min(value.size(), maximumUpdateValueLength(central)));
    switch (link->send(cut)) {
        case NotifyLink::Sent::sent:
            return true;
        case NotifyLink::Sent::full:
            return false;
        case NotifyLink::Sent::closed:
            post([this, central, link] {
                if (links_.contains(central))
                    linkClosed(central, link);
                else
                    sharedLinkClosed(link);
            });
            return true;
    }
    return true;
}

std::size_t BluezPeripheral::maximumUpdateValueLength(const CentralId& central) const {
    if (const auto it = links_.find(central); it != links_.end()) return it->second->maxValue();
    std::size_t limit = 20;
    if (const auto it = deviceMtu_.find(central); it != deviceMtu_.end()) limit = it->second - 3u;
    if (broadcast_ == Broadcast::socket && sharedLink_ && owner_ && *owner_ == central) {
        // The shared socket carries the first subscriber's MTU; this central's may be smaller.
        const auto shared = sharedLink_->maxValue();
        limit = deviceMtu_.contains(central) ? std::min(limit, shared) : shared;
    }
    return limit;
}

std::unique_ptr<Peripheral> BluezPeripheralFactory::create(Peripheral::Delegate& delegate) {
    return std::make_unique<BluezPeripheral>(loop_, delegate, QDBusConnection::systemBus());
}

}  // namespace tamborix::bluez
