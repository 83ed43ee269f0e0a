#pragma once

// The D-Bus shapes BlueZ's object managers speak, ours included.

#include <QDBusObjectPath>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace qz::bluezbus {

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

// Before any of them is read or written; once is enough, and more is harmless.
void RegisterTypes();

} // namespace qz::bluezbus

Q_DECLARE_METATYPE(qz::bluezbus::InterfaceMap)
Q_DECLARE_METATYPE(qz::bluezbus::ManagedObjects)
