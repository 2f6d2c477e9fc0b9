#pragma once
// The D-Bus container types BlueZ's object manager speaks, registered once with QtDBus.

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace tamborix::bluez {

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

inline void registerDbusTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        return true;
    }();
    (void)done;
}

}  // namespace tamborix::bluez
