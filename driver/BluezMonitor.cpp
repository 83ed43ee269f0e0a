#include "BluezMonitor.h"

#include "BluezTypes.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>

namespace {

using qz::bluezbus::bluez;
using qz::bluezbus::callTimeoutMs;
using qz::bluezbus::objectManagerInterface;
using qz::bluezbus::propertiesInterface;
const QString monitorInterface = QStringLiteral("org.bluez.AdvertisementMonitor1");
constexpr int activationMs = 5000;

// One pattern as bluetoothd reads it: (start position, AD type, content).
struct DBusPattern {
    uchar start = 0;
    uchar type = 0;
    QByteArray content;
};

QDBusArgument& operator<<(QDBusArgument& argument, const DBusPattern& pattern)
{
    argument.beginStructure();
    argument << pattern.start << pattern.type << pattern.content;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusPattern& pattern)
{
    argument.beginStructure();
    argument >> pattern.start >> pattern.type >> pattern.content;
    argument.endStructure();
    return argument;
}

// A process may listen more than once: each listening exports under a root of its own.
QString freshRoot()
{
    static unsigned serial = 0;
    return QStringLiteral("/org/kavrel/qzconfig/monitor%1").arg(++serial);
}

} // namespace

Q_DECLARE_METATYPE(DBusPattern)
Q_DECLARE_METATYPE(QList<DBusPattern>)

namespace qz {

namespace bluezbus {

void RegisterTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        qDBusRegisterMetaType<DBusPattern>();
        qDBusRegisterMetaType<QList<DBusPattern>>();
        qRegisterMetaType<qz::air::Pattern>();
        return true;
    }();
    (void)registered;
}

} // namespace bluezbus

// Our objects on the bus: every call under the root goes to the monitor.
struct BluezMonitor::Exported : QDBusVirtualObject {
    explicit Exported(BluezMonitor& monitor) : monitor_(monitor) {}

    QString introspect(const QString&) const override
    {
        return QStringLiteral("<interface name=\"org.bluez.AdvertisementMonitor1\">"
                              "<method name=\"Release\"/><method name=\"Activate\"/>"
                              "<method name=\"DeviceFound\"><arg name=\"device\" type=\"o\" direction=\"in\"/></method>"
                              "<method name=\"DeviceLost\"><arg name=\"device\" type=\"o\" direction=\"in\"/></method>"
                              "<property name=\"Type\" type=\"s\" access=\"read\"/>"
                              "<property name=\"Patterns\" type=\"a(yyay)\" access=\"read\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override { return monitor_.answer(message); }

    BluezMonitor& monitor_;
};

const QString BluezMonitor::ManagerInterface = QStringLiteral("org.bluez.AdvertisementMonitorManager1");

namespace {

QVariantMap monitorProperties(const air::Pattern& pattern)
{
    const DBusPattern looked{0, pattern.type, QByteArray(pattern.content.data(), static_cast<int>(pattern.content.size()))};
    return {{QStringLiteral("Type"), QStringLiteral("or_patterns")},
            {QStringLiteral("Patterns"), QVariant::fromValue(QList<DBusPattern>{looked})}};
}

std::string errorWords(const QDBusMessage& reply)
{
    return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

} // namespace

BluezMonitor::BluezMonitor(QDBusConnection bus, QString adapterPath)
    : bus_(std::move(bus)), adapterPath_(std::move(adapterPath)), root_(freshRoot())
{
    bluezbus::RegisterTypes();
    activation_.setSingleShot(true);
    connect(&activation_, &QTimer::timeout, this, [this] {
        giveUp("bluetoothd did not start its advertisement monitor within " + std::to_string(activationMs / 1000) + " s");
    });
}

BluezMonitor::~BluezMonitor()
{
    if (registered_) {
        QDBusMessage call = QDBusMessage::createMethodCall(bluez, adapterPath_, ManagerInterface,
                                                           QStringLiteral("UnregisterMonitor"));
        call.setArguments({QVariant::fromValue(QDBusObjectPath(root_))});
        bus_.call(call, QDBus::Block, callTimeoutMs);
    }
    if (exported_)
        bus_.unregisterObject(root_, QDBusConnection::UnregisterTree);
}

QString BluezMonitor::monitorPath(std::size_t index) const
{
    return root_ + QStringLiteral("/pattern") + QString::number(index);
}

std::size_t BluezMonitor::indexOf(const QString& path) const
{
    const QString prefix = root_ + QStringLiteral("/pattern");
    bool number = false;
    const std::size_t index = path.startsWith(prefix) ? path.mid(prefix.size()).toUInt(&number) : 0;
    return number && index < patterns_.size() ? index : patterns_.size();
}

void BluezMonitor::add(const std::vector<air::Pattern>& patterns)
{
    for (const air::Pattern& pattern : patterns) {
        patterns_.push_back(pattern);
        if (!exported_)
            continue;
        // Registered already: bluetoothd learns of the newcomer as of any object added.
        const std::size_t index = patterns_.size() - 1;
        QDBusMessage added = QDBusMessage::createSignal(root_, objectManagerInterface, QStringLiteral("InterfacesAdded"));
        added.setArguments({QVariant::fromValue(QDBusObjectPath(monitorPath(index))),
                            QVariant::fromValue(bluezbus::InterfaceMap{{monitorInterface, monitorProperties(pattern)}})});
        bus_.send(added);
    }
    if (!exported_ && !patterns_.empty())
        registerWithBluez();
}

bool BluezMonitor::activating() const
{
    return exported_ && !gaveUp_ && activated_.size() < awaitedActive_;
}

bool BluezMonitor::watching() const
{
    return exported_ && !gaveUp_ && activated_.size() == awaitedActive_;
}

void BluezMonitor::registerWithBluez()
{
    exported_ = std::make_unique<Exported>(*this);
    if (!bus_.registerVirtualObject(root_, exported_.get(), QDBusConnection::SubPath))
        return giveUp("cannot offer bluetoothd a monitor on the bus: " + bus_.lastError().message().toStdString());
    awaitedActive_ = patterns_.size();
    QDBusMessage call = QDBusMessage::createMethodCall(bluez, adapterPath_, ManagerInterface, QStringLiteral("RegisterMonitor"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(root_))});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ErrorMessage)
            return giveUp("bluetoothd refused its advertisement monitor (" + errorWords(reply)
                          + "), so the name cannot be checked in the advertisement itself: see README");
        registered_ = true;
        if (activated_.size() < awaitedActive_)
            activation_.start(activationMs);
    });
}

void BluezMonitor::giveUp(const std::string& why)
{
    activation_.stop();
    if (gaveUp_)
        return;
    gaveUp_ = true;
    emit unavailable(why);
}

bool BluezMonitor::answer(const QDBusMessage& message)
{
    const QString& member = message.member();
    const QString& path = message.path();
    if (message.interface() == objectManagerInterface && member == QLatin1String("GetManagedObjects") && path == root_) {
        bluezbus::ManagedObjects objects;
        for (std::size_t index = 0; index < patterns_.size(); ++index)
            objects[QDBusObjectPath(monitorPath(index))] = {{monitorInterface, monitorProperties(patterns_[index])}};
        return bus_.send(message.createReply(QVariant::fromValue(objects)));
    }
    const std::size_t index = indexOf(path);
    if (index == patterns_.size())
        return false;
    if (message.interface() == propertiesInterface && (member == QLatin1String("GetAll") || member == QLatin1String("Get"))) {
        const QVariantMap properties = monitorProperties(patterns_[index]);
        const QString wanted = message.arguments().value(1).toString();
        if (member == QLatin1String("GetAll"))
            return bus_.send(message.createReply(properties));
        if (!properties.contains(wanted))
            return bus_.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such property")));
        return bus_.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(wanted)))));
    }
    if (message.interface() != monitorInterface)
        return false;
    const bool known = member == QLatin1String("Activate") || member == QLatin1String("Release")
        || member == QLatin1String("DeviceFound") || member == QLatin1String("DeviceLost");
    if (!known)
        return false;
    // Answered first: what the news sets off may end the listening, and this monitor with it.
    bus_.send(message.createReply());
    if (member == QLatin1String("Activate")) {
        activated_.insert(index);
        if (activated_.size() == awaitedActive_ && !gaveUp_) {
            activation_.stop();
            emit active();
        }
    } else if (member == QLatin1String("Release")) {
        // We unregister only as we go: a release before that is bluetoothd's own doing.
        giveUp("bluetoothd released its advertisement monitor, so the name cannot be checked in the advertisement itself");
    } else if (member == QLatin1String("DeviceFound") && !message.arguments().isEmpty()) {
        emit found(message.arguments().constFirst().value<QDBusObjectPath>().path(), patterns_[index]);
    }
    return true;
}

} // namespace qz
