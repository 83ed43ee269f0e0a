#include "AirScanner.h"

#include "BluezMonitor.h"
#include "BluezTypes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace {

using qz::bluezbus::bluez;
using qz::bluezbus::callTimeoutMs;
using qz::bluezbus::objectManagerInterface;
using qz::bluezbus::propertiesInterface;
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString deviceInterface = QStringLiteral("org.bluez.Device1");
constexpr int blueZLeavingMs = 300;

using qz::bluezbus::InterfaceMap;
using qz::bluezbus::ManagedObjects;

std::string bytesOf(const QVariant& value)
{
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Whether a value read off the bus has the D-Bus type given. Reading a value as a type it
// does not have makes libdbus abort the program, and anything on the bus may send anything.
bool hasSignature(const QVariant& value, QLatin1String signature)
{
    return value.userType() == qMetaTypeId<QDBusArgument>()
        && value.value<QDBusArgument>().currentSignature() == signature;
}

// A dictionary of byte arrays as BlueZ sends it (a{qv}, a{sv}, a{yv}), keyed as Key; nothing
// when the value has some other type.
template <typename Key, typename DBusKey>
std::optional<std::map<Key, std::string>> byteDictionary(const QVariant& value, Key (*key)(const DBusKey&),
                                                         QLatin1String signature)
{
    if (!hasSignature(value, signature))
        return std::nullopt;
    std::map<Key, std::string> dictionary;
    const auto argument = value.value<QDBusArgument>();
    argument.beginMap();
    while (!argument.atEnd()) {
        DBusKey dbusKey{};
        QDBusVariant entry;
        argument.beginMapEntry();
        argument >> dbusKey >> entry;
        argument.endMapEntry();
        dictionary[key(dbusKey)] = bytesOf(entry.variant());
    }
    argument.endMap();
    return dictionary;
}

std::uint16_t companyKey(const quint16& company) { return company; }
std::string uuidKey(const QString& uuid) { return uuid.toStdString(); }
std::uint8_t typeKey(const uchar& type) { return type; }

// "/org/bluez/hci0/dev_00_0E_0B_12_34_56" is the device at 00:0E:0B:12:34:56.
std::string addressOfPath(const QString& path)
{
    const int at = path.lastIndexOf(QStringLiteral("/dev_"));
    return at < 0 ? std::string() : path.mid(at + 5).replace(QLatin1Char('_'), QLatin1Char(':')).toStdString();
}

// firstSight: the properties came with the device object, when BlueZ may have filled its
// name from what it kept of an earlier scan.
qz::air::HeardDevice deviceOf(const QString& path, const QVariantMap& properties, bool firstSight)
{
    qz::air::HeardDevice device;
    device.address = properties.contains(QStringLiteral("Address"))
        ? properties.value(QStringLiteral("Address")).toString().toStdString()
        : addressOfPath(path);
    for (auto property = properties.begin(); property != properties.end(); ++property) {
        const QString& name = property.key();
        const QVariant& value = property.value();
        if (name == QLatin1String("Name")) {
            device.name = value.toString().toStdString();
            device.nameMaybeCached = firstSight;
        } else if (name == QLatin1String("Appearance"))
            device.appearance = static_cast<std::uint16_t>(value.toUInt());
        else if (name == QLatin1String("RSSI"))
            device.rssi = value.toInt();
        else if (name == QLatin1String("TxPower"))
            device.txPower = value.toInt();
        else if (name == QLatin1String("ManufacturerData"))
            device.manufacturerData = byteDictionary<std::uint16_t, quint16>(value, companyKey, QLatin1String("a{qv}"));
        else if (name == QLatin1String("ServiceData"))
            device.serviceData = byteDictionary<std::string, QString>(value, uuidKey, QLatin1String("a{sv}"));
        else if (name == QLatin1String("AdvertisingData"))
            device.advertisingData = byteDictionary<std::uint8_t, uchar>(value, typeKey, QLatin1String("a{yv}"));
        else if (name == QLatin1String("AdvertisingFlags"))
            device.flags = bytesOf(value);
        else if (name == QLatin1String("UUIDs")) {
            std::vector<std::string> uuids;
            for (const QString& uuid : value.toStringList())
                uuids.push_back(uuid.toStdString());
            device.uuids = uuids;
        }
    }
    return device;
}

QString devicePath(const QString& adapterPath, const std::string& address)
{
    return adapterPath + QStringLiteral("/dev_") + QString::fromStdString(address).replace(QLatin1Char(':'), QLatin1Char('_'));
}

} // namespace

namespace qz {

// Receives BlueZ's signals for one adapter while listening; only what they carry counts.
struct AirScanner::Listener : QObject {
    Q_OBJECT

public:
    Listener(AirScanner& scanner, QDBusConnection bus, QString adapterPath, const ListenFor& what)
        : scanner_(scanner)
        , bus_(std::move(bus))
        , adapterPath_(std::move(adapterPath))
        , readKnownDevices_(what.readKnownDevices)
        , proveNames_(what.proveNames)
        , bluezWatcher_(bluez, bus_, QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&bluezWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { lose("BlueZ left the system bus: bluetoothd stopped"); });
    }

    // Asks bluetoothd's monitor for the patterns, where the adapter offers one; says why
    // not where it does not, unless nothing was asked.
    void watchPatterns(const std::vector<qz::air::Pattern>& patterns, bool offered)
    {
        if (patterns.empty() && !proveNames_)
            return;
        if (!offered) {
            if (!patterns.empty())
                emit scanner_.patternsUnavailable(std::string(qz::air::MonitorAdvice));
            proveNames_ = false;
            return;
        }
        monitor_ = std::make_unique<BluezMonitor>(bus_, adapterPath_);
        connect(monitor_.get(), &BluezMonitor::active, &scanner_, &AirScanner::patternsActive);
        connect(monitor_.get(), &BluezMonitor::unavailable, &scanner_, &AirScanner::patternsUnavailable);
        connect(monitor_.get(), &BluezMonitor::found, this, &Listener::found);
        monitor_->add(patterns);
    }

    // Calls then once bluetoothd looks for the patterns, or will not: listening starts only
    // then, so that the module's first advertisements reach the monitor too.
    void whenPatternsSettled(std::function<void()> then)
    {
        if (!monitor_ || !monitor_->activating())
            return then();
        auto pending = std::make_shared<std::function<void()>>(std::move(then));
        const auto settled = [pending] {
            if (!*pending)
                return;
            const std::function<void()> go = std::move(*pending);
            *pending = nullptr;
            go();
        };
        connect(monitor_.get(), &BluezMonitor::active, this, settled);
        connect(monitor_.get(), &BluezMonitor::unavailable, this, settled);
    }

    // bluetoothd's monitor looks for every pattern asked at the start.
    bool patternsWatched() const { return monitor_ && monitor_->watching(); }

    bool connectSignals()
    {
        return bus_.connect(bluez, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"), this,
                            SLOT(interfacesAdded(QDBusMessage)))
            && bus_.connect(bluez, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"),
                            {deviceInterface}, QString(), this, SLOT(propertiesChanged(QDBusMessage)))
            && bus_.connect(bluez, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"),
                            this, SLOT(interfacesRemoved(QDBusMessage)))
            && bus_.connect(bluez, adapterPath_, propertiesInterface, QStringLiteral("PropertiesChanged"),
                            {adapterInterface}, QString(), this, SLOT(adapterChanged(QDBusMessage)));
    }

    void disconnectSignals()
    {
        bus_.disconnect(bluez, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"), this,
                        SLOT(interfacesAdded(QDBusMessage)));
        bus_.disconnect(bluez, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"), {deviceInterface},
                        QString(), this, SLOT(propertiesChanged(QDBusMessage)));
        bus_.disconnect(bluez, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"), this,
                        SLOT(interfacesRemoved(QDBusMessage)));
        bus_.disconnect(bluez, adapterPath_, propertiesInterface, QStringLiteral("PropertiesChanged"),
                        {adapterInterface}, QString(), this, SLOT(adapterChanged(QDBusMessage)));
    }

    QDBusMessage adapterCall(const QString& method, const QVariantList& arguments = {})
    {
        return bus_.call(adapterMessage(method, arguments), QDBus::Block, callTimeoutMs);
    }

    QDBusPendingCall adapterAsk(const QString& method, const QVariantList& arguments = {})
    {
        return bus_.asyncCall(adapterMessage(method, arguments), callTimeoutMs);
    }

    // Nothing can be heard any more: said once.
    void lose(const std::string& why)
    {
        if (lost_)
            return;
        lost_ = true;
        emit scanner_.lost(why);
    }

public slots:
    void interfacesRemoved(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2 || arguments.at(0).value<QDBusObjectPath>().path() != adapterPath_
            || !arguments.at(1).toStringList().contains(adapterInterface))
            return;
        loseUnlessBlueZGoes("the Bluetooth adapter " + adapterName() + " was removed");
    }

    void adapterChanged(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2 || !hasSignature(arguments.at(1), QLatin1String("a{sv}")))
            return;
        const QVariantMap changed = qdbus_cast<QVariantMap>(arguments.at(1));
        const auto powered = changed.find(QStringLiteral("Powered"));
        if (powered != changed.end() && !powered.value().toBool())
            loseUnlessBlueZGoes("the Bluetooth adapter " + adapterName() + " was switched off");
    }

    void interfacesAdded(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2 || !hasSignature(arguments.at(1), QLatin1String("a{sa{sv}}")))
            return;
        const QString path = arguments.at(0).value<QDBusObjectPath>().path();
        const InterfaceMap interfaces = qdbus_cast<InterfaceMap>(arguments.at(1));
        if (!ours(path) || !interfaces.contains(deviceInterface))
            return;
        // A device new to BlueZ is new to us: everything it carries was just heard, but for
        // a name it may remember. What the monitor found of it before stays found.
        qz::air::HeardDevice& device = devices_[path];
        const std::vector<qz::air::Pattern> found = device.found;
        device = deviceOf(path, interfaces.value(deviceInterface), true);
        device.found = found;
        tell(device);
    }

    void propertiesChanged(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() < 2 || !ours(message.path()) || !hasSignature(arguments.at(1), QLatin1String("a{sv}")))
            return;
        const QVariantMap changed = qdbus_cast<QVariantMap>(arguments.at(1));
        // A device BlueZ held from before sends only what changed: a scan reads the rest once.
        qz::air::HeardDevice& device = known(message.path());
        qz::air::Merge(device, deviceOf(message.path(), changed, false));
        tell(device);
    }

    void found(const QString& path, const qz::air::Pattern& pattern)
    {
        if (!ours(path))
            return;
        qz::air::HeardDevice& device = known(path);
        if (std::find(device.found.begin(), device.found.end(), pattern) != device.found.end())
            return; // bluetoothd says so at every advertisement
        device.found.push_back(pattern);
        tell(device);
    }

private:
    bool ours(const QString& path) const { return path.startsWith(adapterPath_ + QLatin1Char('/')); }

    // The device as heard so far; one BlueZ held from before is read whole first, where asked.
    qz::air::HeardDevice& known(const QString& path)
    {
        const bool heardBefore = devices_.count(path) != 0;
        qz::air::HeardDevice& device = devices_[path];
        if (!heardBefore)
            device = deviceOf(path, readKnownDevices_ ? knownProperties(path) : QVariantMap(), true);
        return device;
    }

    void tell(const qz::air::HeardDevice& device)
    {
        // A scan asks the monitor whether each name that may be remembered was sent.
        if (proveNames_ && monitor_ && qz::air::NameMaybeRemembered(device) && namesAsked_.insert(*device.name).second)
            monitor_->add(qz::air::NamePatterns(*device.name));
        emit scanner_.heard(device);
    }
    std::string adapterName() const { return adapterPath_.section(QLatin1Char('/'), -1).toStdString(); }

    // bluetoothd switches its adapters off as it stops: a moment tells the two apart.
    void loseUnlessBlueZGoes(const std::string& why)
    {
        QTimer::singleShot(blueZLeavingMs, this, [this, why] { lose(why); });
    }

    QDBusMessage adapterMessage(const QString& method, const QVariantList& arguments) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(bluez, adapterPath_, adapterInterface, method);
        call.setArguments(arguments);
        return call;
    }

    QVariantMap knownProperties(const QString& path)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(bluez, path, propertiesInterface, QStringLiteral("GetAll"));
        call.setArguments({deviceInterface});
        const QDBusReply<QVariantMap> reply = bus_.call(call, QDBus::Block, callTimeoutMs);
        return reply.isValid() ? reply.value() : QVariantMap();
    }

    AirScanner& scanner_;
    QDBusConnection bus_;
    QString adapterPath_;
    bool readKnownDevices_;
    bool proveNames_;
    QDBusServiceWatcher bluezWatcher_;
    std::unique_ptr<BluezMonitor> monitor_; // where bluetoothd offers one
    std::set<std::string> namesAsked_;
    bool lost_ = false;
    std::map<QString, qz::air::HeardDevice> devices_;
};

namespace {

struct Adapters {
    std::map<QString, QVariantMap> found; // by path, with their properties
    std::set<QString> monitoring;         // those that offer bluetoothd's advertisement monitor
    std::string failure;                  // BlueZ's error, when it did not say
};

QDBusMessage managedObjectsCall()
{
    // Asked before any scanner exists too (is there anything to listen with?).
    bluezbus::RegisterTypes();
    return QDBusMessage::createMethodCall(bluez, QStringLiteral("/"), objectManagerInterface,
                                          QStringLiteral("GetManagedObjects"));
}

Adapters adaptersOf(const QDBusMessage& reply)
{
    Adapters adapters;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        adapters.failure = (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
        return adapters;
    }
    if (!hasSignature(reply.arguments().constFirst(), QLatin1String("a{oa{sa{sv}}}"))) {
        adapters.failure = "its answer is no list of objects";
        return adapters;
    }
    const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().constFirst());
    for (auto object = objects.begin(); object != objects.end(); ++object) {
        if (object.value().contains(adapterInterface))
            adapters.found[object.key().path()] = object.value().value(adapterInterface);
        if (object.value().contains(BluezMonitor::ManagerInterface))
            adapters.monitoring.insert(object.key().path());
    }
    return adapters;
}

struct ChosenAdapter {
    QString path;
    std::string name;
    std::string problem; // why it cannot listen, or empty
    bool monitors = false; // offers bluetoothd's advertisement monitor
};

bool powered(const QVariantMap& adapter)
{
    return adapter.value(QStringLiteral("Powered")).toBool();
}

// The named adapter, or the first that is on.
ChosenAdapter chooseAdapter(const Adapters& adapters, const std::string& adapter)
{
    const auto& found = adapters.found;
    if (!adapters.failure.empty())
        return {{}, {}, "BlueZ did not list its adapters: " + adapters.failure};
    if (found.empty())
        return {{}, {}, "BlueZ has no Bluetooth adapter: plug one in, or see whether the kernel found it (bluetoothctl list)"};
    const auto nameOf = [](const QString& path) { return path.section(QLatin1Char('/'), -1).toStdString(); };
    auto chosen = adapter.empty()
        ? std::find_if(found.begin(), found.end(), [](const auto& entry) { return powered(entry.second); })
        : found.find(QStringLiteral("/org/bluez/") + QString::fromStdString(adapter));
    if (chosen == found.end() && adapter.empty() && found.size() > 1) {
        std::string names;
        for (const auto& [path, properties] : found)
            names += (names.empty() ? "" : ", ") + nameOf(path);
        return {{}, {}, "no Bluetooth adapter is on (" + names + "): bluetoothctl power on switches one on"};
    }
    if (chosen == found.end() && adapter.empty())
        chosen = found.begin();
    if (chosen == found.end())
        return {{}, {}, "BlueZ has no adapter " + adapter + " (bluetoothctl list names those there are)"};
    const std::string name = nameOf(chosen->first);
    if (!powered(chosen->second))
        return {{}, {}, "the Bluetooth adapter " + name + " is off: bluetoothctl power on switches it on"};
    return {chosen->first, name, {}, adapters.monitoring.count(chosen->first) != 0};
}

const std::string notRunning =
    "BlueZ is not running: no org.bluez on the system bus; start bluetoothd (systemctl start bluetooth)";

// The adapter as BlueZ's answer to GetManagedObjects shows it; no BlueZ on the bus at all
// is said as such.
ChosenAdapter chosenFrom(const QDBusMessage& objects, const std::string& adapter)
{
    const bool gone = objects.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || objects.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
    return gone ? ChosenAdapter{{}, {}, notRunning} : chooseAdapter(adaptersOf(objects), adapter);
}

ChosenAdapter chooseAdapter(const std::string& adapter)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (std::string why = qz::AirScanner::Unavailable(); !why.empty())
        return {{}, {}, why};
    return chooseAdapter(adaptersOf(bus.call(managedObjectsCall(), QDBus::Block, callTimeoutMs)), adapter);
}

std::string errorWords(const QDBusMessage& reply)
{
    return (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString();
}

} // namespace

AirScanner::AirScanner(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<qz::air::HeardDevice>();
    // lost is queued by those who hear it; Qt 5 knows no std::string by itself.
    qRegisterMetaType<std::string>("std::string");
}

AirScanner::~AirScanner()
{
    stop();
}

std::string AirScanner::Unavailable()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(bluez))
        return notRunning;
    return {};
}

std::string AirScanner::CannotListen(const std::string& adapter)
{
    return chooseAdapter(adapter).problem;
}

void AirScanner::AskUnavailable(QObject* context, std::function<void(std::string)> answer)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(context, [answer] { answer(notRunning); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    call.setArguments({bluez});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, answer] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        const bool running = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            && reply.arguments().constFirst().toBool();
        answer(running ? std::string() : notRunning);
    });
}

void AirScanner::AskCannotListen(const std::string& adapter, QObject* context, std::function<void(std::string)> answer)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(context, [answer] { answer(notRunning); }, Qt::QueuedConnection);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(managedObjectsCall(), callTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, adapter, answer] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        answer(chosenFrom(reply, adapter).problem);
    });
}

// Calls then on the answer, unless listening was stopped or started anew meanwhile.
void AirScanner::whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> then)
{
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, attempt = attempt_, then] {
        watcher->deleteLater();
        if (attempt == attempt_)
            then(watcher->reply());
    });
}

void AirScanner::start(const std::string& adapter, const ListenFor& what)
{
    stop();
    QDBusConnection bus = QDBusConnection::systemBus();
    const auto fail = [this](const std::string& why) {
        pending_.reset();
        emit failed(why);
    };
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(this, [fail] { fail(notRunning); }, Qt::QueuedConnection);
        return;
    }
    // Each step waits for BlueZ's answer without holding up whoever called.
    whenAnswered(bus.asyncCall(managedObjectsCall(), callTimeoutMs), [=](const QDBusMessage& objects) {
        const ChosenAdapter chosen = chosenFrom(objects, adapter);
        if (!chosen.problem.empty())
            return fail(chosen.problem);
        pending_ = std::make_unique<Listener>(*this, bus, chosen.path, what);
        // Followed from the start: bluetoothd's monitor makes BlueZ hear devices before any discovery.
        if (!pending_->connectSignals())
            return fail("cannot follow BlueZ's signals: " + QDBusConnection(bus).lastError().message().toStdString());
        // BlueZ answers in order: the device is forgotten before the filter is set.
        if (what.forget)
            pending_->adapterAsk(QStringLiteral("RemoveDevice"),
                                 {QVariant::fromValue(QDBusObjectPath(devicePath(chosen.path, *what.forget)))});
        pending_->watchPatterns(what.patterns, chosen.monitors);
        const std::string name = chosen.name;
        pending_->whenPatternsSettled([=] {
            // Listening alone, the monitor is handed each advertisement by itself; while BlueZ
            // discovers, bluetoothd matches the advertisement and scan response as one, and
            // misses patterns there. The monitor listens alone first.
            if (pending_->patternsWatched() && what.monitorAloneMs > 0) {
                listener_ = std::move(pending_);
                emit started();
                QTimer::singleShot(what.monitorAloneMs, listener_.get(), [this, name] {
                    discover(*listener_, name, [this](const std::string& problem) {
                        if (!problem.empty())
                            listener_->lose(problem);
                    });
                });
                return;
            }
            discover(*pending_, name, [this, fail](const std::string& problem) {
                if (!problem.empty()) {
                    pending_->disconnectSignals();
                    return fail(problem);
                }
                listener_ = std::move(pending_);
                emit started();
            });
        });
    });
}

// Asks the adapter to discover; then hears why it would not, or nothing when it does.
void AirScanner::discover(Listener& listener, const std::string& name, std::function<void(const std::string&)> then)
{
    const QVariantMap filter{{QStringLiteral("Transport"), QStringLiteral("le")}, {QStringLiteral("DuplicateData"), true}};
    whenAnswered(listener.adapterAsk(QStringLiteral("SetDiscoveryFilter"), {filter}), [=, &listener](const QDBusMessage& filtered) {
        if (filtered.type() == QDBusMessage::ErrorMessage)
            return then("the adapter " + name + " refused the discovery filter: " + errorWords(filtered));
        whenAnswered(listener.adapterAsk(QStringLiteral("StartDiscovery")), [=](const QDBusMessage& started) {
            if (started.type() == QDBusMessage::ErrorMessage)
                return then("the adapter " + name + " cannot start listening: " + errorWords(started));
            then({});
        });
    });
}

void AirScanner::stop()
{
    ++attempt_; // whatever answer is awaited is no longer wanted
    if (pending_) {
        // Discovery may have been asked for already: it is stopped all the same.
        pending_->disconnectSignals();
        pending_->adapterCall(QStringLiteral("StopDiscovery"));
        pending_.reset();
    }
    if (!listener_)
        return;
    listener_->disconnectSignals();
    listener_->adapterCall(QStringLiteral("StopDiscovery"));
    listener_.reset();
}

bool AirScanner::listening() const
{
    return listener_ != nullptr;
}

} // namespace qz

#include "AirScannerBluez.moc"
