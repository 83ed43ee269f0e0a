#pragma once

// The advertisement monitor bluetoothd offers when started with -E. We export one monitor
// object per pattern under an object manager of ours; RegisterMonitor names its root, and
// bluetoothd reads the patterns from it, activates each, and calls DeviceFound on the one
// whose pattern a device's raw advertisement or scan response held. That is what the
// controller received, not what BlueZ remembers.

#include "AirMatch.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <set>
#include <string>
#include <vector>

class QDBusMessage;

namespace qz {

class BluezMonitor : public QObject {
    Q_OBJECT

public:
    // Whether the adapter at adapterPath offers the monitor: its interface name.
    static const QString ManagerInterface;

    BluezMonitor(QDBusConnection bus, QString adapterPath);
    // Unregisters, so that bluetoothd stops looking; a program killed leaves nothing behind
    // either, since bluetoothd drops a monitor with its owner's bus connection.
    ~BluezMonitor() override;

    // Looks for these too. The first call registers with bluetoothd.
    void add(const std::vector<air::Pattern>& patterns);

    // Registered, and bluetoothd has neither activated every monitor nor let it go yet.
    bool activating() const;
    // bluetoothd activated every monitor and has not let them go.
    bool watching() const;

    // The reply to one of bluetoothd's calls on our objects; false: not ours to answer.
    bool answer(const QDBusMessage& message);

signals:
    // bluetoothd looks for every pattern added before it registered.
    void active();
    // It does not, or no longer: why, in words.
    void unavailable(const std::string& why);
    // The device at devicePath sent what the pattern looks for.
    void found(const QString& devicePath, const qz::air::Pattern& pattern);

private:
    struct Exported;
    QString monitorPath(std::size_t index) const;
    std::size_t indexOf(const QString& path) const; // patterns_.size() when not one of ours
    void registerWithBluez();
    void giveUp(const std::string& why);

    QDBusConnection bus_;
    QString adapterPath_;
    QString root_;
    std::vector<air::Pattern> patterns_;
    std::unique_ptr<Exported> exported_;
    bool registered_ = false;
    bool gaveUp_ = false;
    std::size_t awaitedActive_ = 0; // monitors registered at first, until each is activated
    std::set<std::size_t> activated_;
    QTimer activation_;
};

} // namespace qz

Q_DECLARE_METATYPE(qz::air::Pattern)
