#include "platform/linux/services/bluez/gatt_objects.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QStringList>

#include "platform/linux/services/bluez/dbus_types.h"

namespace tamborix::bluez {

namespace {

const QString propertiesIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString objectManagerIface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString serviceIface = QStringLiteral("org.bluez.GattService1");
const QString advertisementIface = QStringLiteral("org.bluez.LEAdvertisement1");

QStringList flagsOf(std::uint8_t properties) {
    QStringList flags;
    if (properties & gatt::propRead) flags << QStringLiteral("read");
    if (properties & gatt::propWriteWithoutResponse) flags << QStringLiteral("write-without-response");
    if (properties & gatt::propWrite) flags << QStringLiteral("write");
    if (properties & gatt::propNotify) flags << QStringLiteral("notify");
    return flags;
}

}  // namespace

QString dbusUuid(const std::string& uuid) { return QString::fromStdString(uuid).toLower(); }

GattObjects::GattObjects(QString root, GattCallHandler& handler)
    : root_(std::move(root)), handler_(handler) {
    registerDbusTypes();
}

QString GattObjects::characteristicPath(const std::string& uuid) const {
    if (!service_) return {};
    for (std::size_t i = 0; i < service_->characteristics.size(); ++i) {
        if (service_->characteristics[i].uuid == uuid)
            return servicePath() + QStringLiteral("/char%1").arg(i);
    }
    return {};
}

std::uint8_t GattObjects::characteristicProperties(const std::string& uuid) const {
    if (!service_) return 0;
    for (const auto& c : service_->characteristics) {
        if (c.uuid == uuid) return c.properties;
    }
    return 0;
}

int GattObjects::characteristicIndex(const QString& path) const {
    if (!service_) return -1;
    const auto prefix = servicePath() + QStringLiteral("/char");
    if (!path.startsWith(prefix)) return -1;
    bool ok = false;
    const int i = path.mid(prefix.size()).toInt(&ok);
    if (!ok || i < 0 || static_cast<std::size_t>(i) >= service_->characteristics.size()) return -1;
    return i;
}

std::optional<QVariantMap> GattObjects::properties(const QString& path, const QString& iface) const {
    if (service_ && path == servicePath() && iface == serviceIface) {
        return QVariantMap{{QStringLiteral("UUID"), dbusUuid(service_->uuid)},
                           {QStringLiteral("Primary"), true}};
    }
    if (const int i = characteristicIndex(path); i >= 0 && iface == QLatin1String(gattCharacteristic)) {
        const auto& c = service_->characteristics[static_cast<std::size_t>(i)];
        QVariantMap props{{QStringLiteral("UUID"), dbusUuid(c.uuid)},
                          {QStringLiteral("Service"), QVariant::fromValue(QDBusObjectPath(servicePath()))},
                          {QStringLiteral("Flags"), flagsOf(c.properties)}};
        // Its presence tells bluetoothd to hand notifications over a socket (AcquireNotify).
        if (c.properties & gatt::propNotify) props.insert(QStringLiteral("NotifyAcquired"), false);
        // And this one to hand writes without response over a socket (AcquireWrite).
        if (c.properties & gatt::propWriteWithoutResponse) props.insert(QStringLiteral("WriteAcquired"), false);
        return props;
    }
    if (advertisement_ && path == advertisementPath() && iface == advertisementIface) {
        QStringList uuids;
        for (const auto& u : advertisement_->serviceUUIDs) uuids << dbusUuid(u);
        return QVariantMap{{QStringLiteral("Type"), QStringLiteral("peripheral")},
                           {QStringLiteral("ServiceUUIDs"), uuids},
                           {QStringLiteral("LocalName"), QString::fromStdString(advertisement_->localName)}};
    }
    return std::nullopt;
}

bool GattObjects::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    const auto path = message.path();
    const auto iface = message.interface();
    const auto member = message.member();

    if (iface == objectManagerIface && member == QLatin1String("GetManagedObjects")) {
        ManagedObjects objects;
        const auto add = [&](const QString& p, const QString& i) {
            if (auto props = properties(p, i)) objects[QDBusObjectPath(p)].insert(i, *props);
        };
        if (path == appPath() && service_) {
            add(servicePath(), serviceIface);
            for (std::size_t i = 0; i < service_->characteristics.size(); ++i)
                add(servicePath() + QStringLiteral("/char%1").arg(i), QLatin1String(gattCharacteristic));
        } else if (path == advertisementPath()) {
            add(advertisementPath(), advertisementIface);
        }
        connection.send(message.createReply(QVariant::fromValue(objects)));
        return true;
    }
    if (iface == propertiesIface) {
        const auto args = message.arguments();
        const auto wanted = args.value(0).toString();
        const auto props = properties(path, wanted);
        if (member == QLatin1String("GetAll")) {
            connection.send(message.createReply(QVariant::fromValue(props.value_or(QVariantMap{}))));
            return true;
        }
        if (member == QLatin1String("Get")) {
            const auto name = args.value(1).toString();
            if (!props || !props->contains(name)) {
                connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                         QStringLiteral("No such property")));
            } else {
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(props->value(name)))));
            }
            return true;
        }
        connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                                 QStringLiteral("Read-only")));
        return true;
    }
    if (iface == advertisementIface && member == QLatin1String("Release")) {
        connection.send(message.createReply());
        return true;
    }
    if (const int i = characteristicIndex(path); i >= 0 && iface == QLatin1String(gattCharacteristic)) {
        handler_.characteristicCall(service_->characteristics[static_cast<std::size_t>(i)].uuid, message,
                                    connection);
        return true;
    }
    return false;
}

QString GattObjects::introspect(const QString&) const { return {}; }

}  // namespace tamborix::bluez
