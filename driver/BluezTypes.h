#pragma once

// The names and D-Bus shapes BlueZ and its object managers speak, ours included.

#include <QDBusObjectPath>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace qz::bluezbus {

inline const QString bluez = QStringLiteral("org.bluez");
inline const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString objectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
// How long we wait for BlueZ's answer to any one call.
constexpr int callTimeoutMs = 5000;

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

// Before any of them is read or written; once is enough, and more is harmless.
void RegisterTypes();

} // namespace qz::bluezbus

Q_DECLARE_METATYPE(qz::bluezbus::InterfaceMap)
Q_DECLARE_METATYPE(qz::bluezbus::ManagedObjects)
