#include "fake_bluez.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace tamborix::testing {

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

const QString adapterPath = QStringLiteral("/org/bluez/hci0");
const QString propertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString objectManagerIface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString chrcIface = QStringLiteral("org.bluez.GattCharacteristic1");

QVariantMap mapArg(const QVariant& v) {
    if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
    return v.toMap();
}

QString devicePathFor(const std::string& address) {
    auto s = QString::fromStdString(address);
    s.replace(QLatin1Char(':'), QLatin1Char('_'));
    return adapterPath + QStringLiteral("/dev_") + s;
}

}  // namespace

void FakeBluezSignals::signal(const QDBusMessage& message) {
    if (onSignal) onSignal(message);
}

FakeBluez::FakeBluez(const QString& busAddress)
    : busAddress_(busAddress), connectionName_(QStringLiteral("fake-bluez-%1").arg(reinterpret_cast<quintptr>(this))) {
    qDBusRegisterMetaType<InterfaceMap>();
    qDBusRegisterMetaType<ManagedObjects>();
    signals_.onSignal = [this](const QDBusMessage& m) {
        const auto args = m.arguments();
        if (args.size() < 2 || args.at(0).toString() != chrcIface) return;
        const auto changed = mapArg(args.at(1));
        if (!changed.contains(QStringLiteral("Value"))) return;
        const auto value = changed.value(QStringLiteral("Value")).toByteArray();
        for (auto& [address, c] : centrals_) {
            if (c.subscribed && c.viaStartNotify) deliver(c, value);
        }
    };
}

FakeBluez::~FakeBluez() {
    *alive_ = false;
    stop();
    if (bus_) {
        bus_->unregisterObject(QStringLiteral("/"));
        bus_->unregisterObject(QStringLiteral("/org/bluez"), QDBusConnection::UnregisterTree);
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
}

bool FakeBluez::start() {
    if (!bus_) {
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(busAddress_, connectionName_));
        if (!bus_->isConnected()) return false;
    }
    if (!registered_) {
        bus_->registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SingleNode);
        bus_->registerVirtualObject(QStringLiteral("/org/bluez"), this, QDBusConnection::SubPath);
        registered_ = true;
    }
    return bus_->registerService(QStringLiteral("org.bluez"));
}

void FakeBluez::stop() {
    forgetApplication();
    for (auto& [address, c] : centrals_) c.subscribed = false;
    if (bus_) bus_->unregisterService(QStringLiteral("org.bluez"));
}

void FakeBluez::setPowered(bool on) {
    powered = on;
    auto signal = QDBusMessage::createSignal(adapterPath, propertiesIface, QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.bluez.Adapter1") << QVariantMap{{QStringLiteral("Powered"), on}} << QStringList{};
    bus_->send(signal);
}

void FakeBluez::removeAdapter() {
    adapterPresent = false;
    forgetApplication();
    auto signal = QDBusMessage::createSignal(QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesRemoved"));
    signal << QVariant::fromValue(QDBusObjectPath(adapterPath))
           << QStringList{QStringLiteral("org.bluez.Adapter1"), QStringLiteral("org.bluez.GattManager1"),
                          QStringLiteral("org.bluez.LEAdvertisingManager1")};
    bus_->send(signal);
}

void FakeBluez::addAdapter() {
    adapterPresent = true;
    auto signal = QDBusMessage::createSignal(QStringLiteral("/"), objectManagerIface, QStringLiteral("InterfacesAdded"));
    InterfaceMap ifaces{{QStringLiteral("org.bluez.Adapter1"), {{QStringLiteral("Powered"), powered}}},
                        {QStringLiteral("org.bluez.GattManager1"), {}},
                        {QStringLiteral("org.bluez.LEAdvertisingManager1"), {}}};
    signal << QVariant::fromValue(QDBusObjectPath(adapterPath)) << QVariant::fromValue(ifaces);
    bus_->send(signal);
}

const FakeBluez::Characteristic* FakeBluez::characteristic(const QString& uuid) const {
    for (const auto& c : characteristics) {
        if (c.uuid.compare(uuid, Qt::CaseInsensitive) == 0) return &c;
    }
    return nullptr;
}

QString FakeBluez::statusPath() const {
    for (const auto& c : characteristics) {
        if (c.flags.contains(QStringLiteral("notify"))) return c.path;
    }
    return {};
}

bool FakeBluez::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    if (denyAccess) {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                                 QStringLiteral("Rejected send message (fake policy)")));
        return true;
    }
    const auto path = message.path();
    const auto member = message.member();
    if (path == QLatin1String("/") && member == QLatin1String("GetManagedObjects")) {
        ManagedObjects objects;
        if (adapterPresent) {
            objects[QDBusObjectPath(adapterPath)] = InterfaceMap{
                {QStringLiteral("org.bluez.Adapter1"),
                 {{QStringLiteral("Powered"), powered}, {QStringLiteral("Address"), QStringLiteral("00:11:22:33:44:55")}}},
                {QStringLiteral("org.bluez.GattManager1"), {}},
                {QStringLiteral("org.bluez.LEAdvertisingManager1"), {}}};
        }
        connection.send(message.createReply(QVariant::fromValue(objects)));
        return true;
    }
    if (path != adapterPath || !adapterPresent) {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                                                 QStringLiteral("No such object")));
        return true;
    }
    if (member == QLatin1String("RegisterApplication")) {
        registerApplication(message);
    } else if (member == QLatin1String("UnregisterApplication")) {
        if (appOwner_.isEmpty()) {
            connection.send(message.createErrorReply(QStringLiteral("org.bluez.Error.DoesNotExist"),
                                                     QStringLiteral("Does Not Exist")));
        } else {
            forgetApplication();
            connection.send(message.createReply());
        }
    } else if (member == QLatin1String("RegisterAdvertisement")) {
        registerAdvertisement(message);
    } else if (member == QLatin1String("UnregisterAdvertisement")) {
        adOwner_.clear();
        advertisement.clear();
        connection.send(message.createReply());
    } else {
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                                 QStringLiteral("Unknown method")));
    }
    return true;
}

void FakeBluez::call(QDBusMessage message, std::function<void(const QDBusMessage&)> done) {
    ++pending_;
    auto* w = new QDBusPendingCallWatcher(bus_->asyncCall(message, 10'000));
    QObject::connect(w, &QDBusPendingCallWatcher::finished,
                     [this, done = std::move(done), alive = std::weak_ptr<bool>(alive_)](QDBusPendingCallWatcher* c) {
                         c->deleteLater();
                         if (!alive.lock() || !*alive.lock()) return;
                         --pending_;
                         const auto reply = c->reply();
                         if (reply.type() == QDBusMessage::ErrorMessage) ++failed_;
                         if (done) done(reply);
                     });
}

void FakeBluez::registerApplication(const QDBusMessage& message) {
    const auto app = message.arguments().value(0).value<QDBusObjectPath>().path();
    const auto sender = message.service();
    if (!appOwner_.isEmpty()) {
        bus_->send(message.createErrorReply(QStringLiteral("org.bluez.Error.AlreadyExists"),
                                            QStringLiteral("Already Exists")));
        return;
    }
    message.setDelayedReply(true);
    // Like bluetoothd: the reply waits until the application's objects were read and checked.
    call(QDBusMessage::createMethodCall(sender, app, objectManagerIface, QStringLiteral("GetManagedObjects")),
         [this, message, app, sender](const QDBusMessage& reply) {
             ++objectReads;
             const auto fail = [&](const QString& why) {
                 lastRegistrationError = why;
                 bus_->send(message.createErrorReply(QStringLiteral("org.bluez.Error.Failed"), why));
             };
             if (reply.type() == QDBusMessage::ErrorMessage) return fail(reply.errorMessage());
             const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().value(0).value<QDBusArgument>());
             QString servicePath;
             QString uuid;
             std::vector<Characteristic> chrcs;
             for (auto it = objects.begin(); it != objects.end(); ++it) {
                 if (auto s = it.value().find(QStringLiteral("org.bluez.GattService1")); s != it.value().end()) {
                     if (!s->value(QStringLiteral("Primary")).toBool()) return fail(QStringLiteral("not primary"));
                     servicePath = it.key().path();
                     uuid = s->value(QStringLiteral("UUID")).toString();
                 }
             }
             for (auto it = objects.begin(); it != objects.end(); ++it) {
                 const auto c = it.value().find(chrcIface);
                 if (c == it.value().end()) continue;
                 if (c->value(QStringLiteral("Service")).value<QDBusObjectPath>().path() != servicePath)
                     return fail(QStringLiteral("characteristic outside the service"));
                 chrcs.push_back({it.key().path(), c->value(QStringLiteral("UUID")).toString(),
                                  c->value(QStringLiteral("Flags")).toStringList(),
                                  c->contains(QStringLiteral("NotifyAcquired")),
                                  c->contains(QStringLiteral("WriteAcquired"))});
             }
             if (servicePath.isEmpty() || chrcs.empty()) return fail(QStringLiteral("No object received"));
             appOwner_ = sender;
             appPath_ = app;
             serviceUuid = uuid;
             characteristics = std::move(chrcs);
             ++registrations;
             lastRegistrationError.clear();
             bus_->send(message.createReply());
         });
}

void FakeBluez::registerAdvertisement(const QDBusMessage& message) {
    const auto path = message.arguments().value(0).value<QDBusObjectPath>().path();
    const auto sender = message.service();
    message.setDelayedReply(true);
    auto get = QDBusMessage::createMethodCall(sender, path, propertiesIface, QStringLiteral("GetAll"));
    get << QStringLiteral("org.bluez.LEAdvertisement1");
    call(get, [this, message, sender](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) {
            bus_->send(message.createErrorReply(QStringLiteral("org.bluez.Error.Failed"), reply.errorMessage()));
            return;
        }
        auto props = mapArg(reply.arguments().value(0));
        if (!props.contains(QStringLiteral("Type"))) {
            bus_->send(message.createErrorReply(QStringLiteral("org.bluez.Error.InvalidArguments"),
                                                QStringLiteral("Invalid Arguments")));
            return;
        }
        // Unwrap the variants for the test's convenience.
        for (auto it = props.begin(); it != props.end(); ++it) {
            if (it->canConvert<QDBusArgument>()) {
                const auto arg = it->value<QDBusArgument>();
                if (arg.currentSignature() == QLatin1String("as")) *it = qdbus_cast<QStringList>(arg);
            }
        }
        advertisement = props;
        adOwner_ = sender;
        bus_->send(message.createReply());
    });
}

void FakeBluez::forgetApplication() {
    if (!appOwner_.isEmpty() && startNotified_ && bus_) {
        bus_->disconnect(appOwner_, statusPath(), propertiesIface, QStringLiteral("PropertiesChanged"), &signals_,
                         SLOT(signal(QDBusMessage)));
    }
    appOwner_.clear();
    adOwner_.clear();
    characteristics.clear();
    startNotified_ = false;
    for (auto& [address, c] : centrals_) {
        closeCentralSocket(c);
        closeWriteSocket(c);
        c.subscribed = false;
    }
    sharedReader_.reset();
    if (sharedFd_ >= 0) ::close(sharedFd_);
    sharedFd_ = -1;
}

FakeBluez::Central& FakeBluez::connectCentral(const std::string& address, std::uint16_t mtu) {
    auto& c = centrals_[address];
    c.address = address;
    c.devicePath = devicePathFor(address);
    c.mtu = mtu;
    return c;
}

FakeBluez::Central* FakeBluez::central(const std::string& address) {
    const auto it = centrals_.find(address);
    return it == centrals_.end() ? nullptr : &it->second;
}

QVariantMap FakeBluez::options(const Central& c) const {
    return {{QStringLiteral("device"), QVariant::fromValue(QDBusObjectPath(c.devicePath))},
            {QStringLiteral("mtu"), QVariant::fromValue<quint16>(c.mtu)},
            {QStringLiteral("link"), QStringLiteral("LE")}};
}

void FakeBluez::subscribe(const std::string& address, bool startNotify, std::function<void()> ready) {
    auto* c = central(address);
    const auto path = statusPath();
    if (!c || path.isEmpty()) return;
    const auto finish = [ready](const QDBusMessage&) {
        if (ready) ready();
    };
    bool acquired = false;
    for (const auto& ch : characteristics) {
        if (ch.path == path) acquired = ch.notifyAcquired;
    }
    if (startNotify || !acquired) {
        c->viaStartNotify = true;
        c->subscribed = true;
        if (startNotified_) return finish({});
        startNotified_ = true;
        bus_->connect(appOwner_, path, propertiesIface, QStringLiteral("PropertiesChanged"), &signals_,
                      SLOT(signal(QDBusMessage)));
        call(QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("StartNotify")), finish);
        return;
    }
    c->viaStartNotify = false;
    if (notify == Notify::shared) {
        c->subscribed = true;
        if (sharedFd_ >= 0) return finish({});  // the one socket serves every subscriber
        if (sharedFd_ == -2) {
            sharedWaiters_.push_back(ready);
            return;
        }
        auto opts = options(*c);
        opts.remove(QStringLiteral("device"));
        opts.remove(QStringLiteral("link"));
        auto m = QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("AcquireNotify"));
        m << opts;
        sharedFd_ = -2;  // asked for
        call(m, [this, finish](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ErrorMessage) {
                sharedFd_ = -1;
                return;
            }
            sharedFd_ = ::dup(reply.arguments().value(0).value<QDBusUnixFileDescriptor>().fileDescriptor());
            sharedReader_ = std::make_unique<QSocketNotifier>(sharedFd_, QSocketNotifier::Read);
            QObject::connect(sharedReader_.get(), &QSocketNotifier::activated, [this] { readSocket(sharedFd_); });
            finish(reply);
            for (auto& waiter : std::exchange(sharedWaiters_, {})) {
                if (waiter) waiter();
            }
        });
        return;
    }
    auto m = QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("AcquireNotify"));
    m << options(*c);
    call(m, [this, address, finish](const QDBusMessage& reply) {
        auto* c = central(address);
        if (!c || reply.type() == QDBusMessage::ErrorMessage) return;
        closeCentralSocket(*c);
        c->fd = ::dup(reply.arguments().value(0).value<QDBusUnixFileDescriptor>().fileDescriptor());
        c->subscribed = true;
        c->reader = std::make_unique<QSocketNotifier>(c->fd, QSocketNotifier::Read);
        c->reader->setEnabled(!c->stalled);
        const int fd = c->fd;
        QObject::connect(c->reader.get(), &QSocketNotifier::activated, [this, fd] { readSocket(fd); });
        finish(reply);
    });
}

void FakeBluez::readSocket(int fd) {
    char buf[8192];
    for (;;) {
        const auto n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;  // drained
        if (n == 0) {       // the application closed its end
            if (fd == sharedFd_) {
                sharedReader_.reset();
                ::close(sharedFd_);
                sharedFd_ = -1;
                return;
            }
            for (auto& [address, c] : centrals_) {
                if (c.fd == fd) {
                    closeCentralSocket(c);
                    c.subscribed = false;
                }
            }
            return;
        }
        const QByteArray value(buf, static_cast<qsizetype>(n));
        if (fd == sharedFd_) {
            // BlueZ before 5.69: whatever is written reaches every subscriber.
            for (auto& [address, c] : centrals_) {
                if (c.subscribed && !c.viaStartNotify) deliver(c, value);
            }
        } else {
            for (auto& [address, c] : centrals_) {
                if (c.fd == fd) {
                    deliver(c, value);
                    if (c.stalled) {
                        if (c.reader) c.reader->setEnabled(false);
                        return;
                    }
                }
            }
        }
    }
}

void FakeBluez::deliver(Central& c, const QByteArray& value) {
    // The link carries at most MTU - 3 bytes; bluetoothd drops the rest.
    const auto cut = value.left(std::max(0, static_cast<int>(c.mtu) - 3));
    c.received.push_back(cut);
    if (onNotification) onNotification(c.address, cut);
}

void FakeBluez::closeCentralSocket(Central& c) {
    c.reader.reset();
    if (c.fd >= 0) ::close(c.fd);
    c.fd = -1;
}

void FakeBluez::closeWriteSocket(Central& c) {
    c.writer.reset();
    c.writeBacklog.clear();
    if (c.writeFd >= 0) ::close(c.writeFd);
    c.writeFd = -1;
    c.acquiringWrite = false;
    c.writeRefused = false;
    c.waitingWrites.clear();
}

void FakeBluez::stall(const std::string& address, bool stalled) {
    auto* c = central(address);
    if (!c) return;
    c->stalled = stalled;
    if (c->reader) c->reader->setEnabled(!stalled);
}

bool FakeBluez::write(const std::string& address, const QByteArray& value, bool withResponse,
                      std::function<void()> done) {
    auto* c = central(address);
    QString path;
    for (const auto& ch : characteristics) {
        if (ch.flags.contains(QStringLiteral("write")) || ch.flags.contains(QStringLiteral("write-without-response")))
            path = ch.path;
    }
    if (!c || path.isEmpty()) return false;
    const auto* ch = &*std::find_if(characteristics.begin(), characteristics.end(),
                                    [&](const Characteristic& x) { return x.path == path; });
    if (withResponse || !acquireWrite || !ch->writeAcquired || c->writeRefused) {
        writeValue(*c, path, value, withResponse, std::move(done));
        return true;
    }
    if (c->writeFd < 0) {
        // Values wait, in order, until the application answers AcquireWrite.
        c->waitingWrites.emplace_back(value, std::move(done));
        if (!c->acquiringWrite) acquireWriteFor(*c, path);
        return true;
    }
    c->writeBacklog.emplace_back(value, std::move(done));
    drainWrites(address);
    return true;
}

void FakeBluez::drainWrites(const std::string& address) {
    auto* c = central(address);
    if (!c || c->writeFd < 0) return;
    while (!c->writeBacklog.empty()) {
        auto& [value, done] = c->writeBacklog.front();
        // One packet per value, as bluetoothd passes each ATT write command on.
        const auto n = ::send(c->writeFd, value.constData(), static_cast<std::size_t>(value.size()),
                              MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            if (!c->writer) {
                c->writer = std::make_unique<QSocketNotifier>(c->writeFd, QSocketNotifier::Write);
                QObject::connect(c->writer.get(), &QSocketNotifier::activated, [this, address] { drainWrites(address); });
            }
            c->writer->setEnabled(true);
            return;
        }
        // Sent, or the helper's end is gone (the value is lost as over a dropped link).
        if (done) QTimer::singleShot(0, [done = std::move(done), alive = std::weak_ptr<bool>(alive_)] {
            if (alive.lock()) done();
        });
        c->writeBacklog.pop_front();
    }
    if (c->writer) c->writer->setEnabled(false);
}

void FakeBluez::writeValue(Central& c, const QString& path, const QByteArray& value, bool withResponse,
                           std::function<void()> done) {
    auto opts = options(c);
    opts.insert(QStringLiteral("type"), withResponse ? QStringLiteral("request") : QStringLiteral("command"));
    auto m = QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("WriteValue"));
    m << value << opts;
    ++writeValueCalls_;
    call(m, [done = std::move(done)](const QDBusMessage&) {
        if (done) done();
    });
}

void FakeBluez::acquireWriteFor(Central& c, const QString& path) {
    c.acquiringWrite = true;
    auto opts = options(c);
    auto m = QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("AcquireWrite"));
    m << opts;
    call(m, [this, address = c.address, path](const QDBusMessage& reply) {
        auto* c = central(address);
        if (!c || !c->acquiringWrite) return;
        c->acquiringWrite = false;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            c->writeRefused = true;
        } else {
            c->writeFd = ::dup(reply.arguments().value(0).value<QDBusUnixFileDescriptor>().fileDescriptor());
        }
        for (auto& [value, done] : std::exchange(c->waitingWrites, {})) write(address, value, false, std::move(done));
    });
}

void FakeBluez::read(const std::string& address, std::size_t offset, ReadDone done) {
    auto* c = central(address);
    QString path;
    for (const auto& ch : characteristics) {
        if (ch.flags.contains(QStringLiteral("read"))) path = ch.path;
    }
    if (!c || path.isEmpty()) return done(std::nullopt, QStringLiteral("no such characteristic"));
    auto opts = options(*c);
    opts.insert(QStringLiteral("offset"), QVariant::fromValue<quint16>(static_cast<quint16>(offset)));
    auto m = QDBusMessage::createMethodCall(appOwner_, path, chrcIface, QStringLiteral("ReadValue"));
    m << opts;
    // One read request carries at most MTU - 1 bytes; longer values take reads at growing offsets.
    const auto limit = static_cast<int>(c->mtu) - 1;
    call(m, [done, limit](const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) return done(std::nullopt, reply.errorName());
        done(reply.arguments().value(0).toByteArray().left(limit), {});
    });
}

void FakeBluez::leave(const std::string& address) {
    auto it = centrals_.find(address);
    if (it == centrals_.end()) return;
    auto& c = it->second;
    const bool wasStartNotify = c.subscribed && c.viaStartNotify;
    closeCentralSocket(c);
    closeWriteSocket(c);
    const auto devicePath = c.devicePath;
    centrals_.erase(it);
    auto signal = QDBusMessage::createSignal(devicePath, propertiesIface, QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.bluez.Device1") << QVariantMap{{QStringLiteral("Connected"), false}}
           << QStringList{};
    bus_->send(signal);
    const bool others = std::any_of(centrals_.begin(), centrals_.end(), [&](const auto& e) {
        return e.second.subscribed && e.second.viaStartNotify == wasStartNotify;
    });
    if (others) return;
    if (wasStartNotify && startNotified_) {
        call(QDBusMessage::createMethodCall(appOwner_, statusPath(), chrcIface, QStringLiteral("StopNotify")), {});
        startNotified_ = false;
    } else if (!wasStartNotify && sharedFd_ >= 0) {
        sharedReader_.reset();
        ::close(sharedFd_);
        sharedFd_ = -1;
    }
}

}  // namespace tamborix::testing
