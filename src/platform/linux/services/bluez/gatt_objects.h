#pragma once
// The objects the helper exports to bluetoothd: a GATT application (ObjectManager root, one
// service, its characteristics) and an LE advertisement, under one path of ours. Answers the
// property and object-manager calls itself and hands characteristic calls to a handler.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>
#include <optional>

#include "ports/peripheral.h"

namespace tamborix::bluez {

inline constexpr const char* gattCharacteristic = "org.bluez.GattCharacteristic1";

class GattCallHandler {
public:
    virtual ~GattCallHandler() = default;
    // `uuid` is the characteristic's, in the port's spelling. The handler sends the reply.
    virtual void characteristicCall(const std::string& uuid, const QDBusMessage& message,
                                    const QDBusConnection& connection) = 0;
};

class GattObjects final : public QDBusVirtualObject {
public:
    GattObjects(QString root, GattCallHandler& handler);

    [[nodiscard]] QString appPath() const { return root_ + QStringLiteral("/app"); }
    [[nodiscard]] QString advertisementPath() const { return root_ + QStringLiteral("/advertisement"); }
    [[nodiscard]] const QString& root() const { return root_; }
    // The object path of a characteristic of the current service, or empty.
    [[nodiscard]] QString characteristicPath(const std::string& uuid) const;

    // The properties of a characteristic of the current service (0 when there is none).
    [[nodiscard]] std::uint8_t characteristicProperties(const std::string& uuid) const;

    void setService(std::optional<GattService> service) { service_ = std::move(service); }
    void setAdvertisement(std::optional<Advertisement> ad) { advertisement_ = std::move(ad); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    [[nodiscard]] QString introspect(const QString& path) const override;

private:
    [[nodiscard]] QString servicePath() const { return appPath() + QStringLiteral("/service0"); }
    [[nodiscard]] std::optional<QVariantMap> properties(const QString& path, const QString& iface) const;
    [[nodiscard]] int characteristicIndex(const QString& path) const;

    QString root_;
    GattCallHandler& handler_;
    std::optional<GattService> service_;
    std::optional<Advertisement> advertisement_;
};

// BlueZ spells UUIDs in lower case; the port in upper case.
[[nodiscard]] QString dbusUuid(const std::string& uuid);

}  // namespace tamborix::bluez
