#pragma once

// Listens for advertisements through the system's Bluetooth stack and reports every device
// as heard since listening began. On Linux this is BlueZ on the system bus; a system
// without it says why it cannot listen.

#include "AirMatch.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QDBusMessage;
class QDBusPendingCall;

namespace qz {

// How to listen. A device at forget is first dropped from what the stack remembers, so that
// only a fresh advertisement brings it back. readKnownDevices: a device the stack held from
// before is read whole when it is first heard, as a scan lists it (that one read waits for
// BlueZ's answer). patterns: what bluetoothd's advertisement monitor is to look for in the
// raw advertisements (bluetoothd -E); proveNames: each name shown that BlueZ may remember is
// looked for too, as it is heard.
struct ListenFor {
    std::optional<std::string> forget;
    bool readKnownDevices = false;
    std::vector<air::Pattern> patterns;
    bool proveNames = false;
    // How long bluetoothd's monitor, where it looks for the patterns, listens alone before
    // BlueZ discovers: it finds patterns more surely alone.
    int monitorAloneMs = 0;
};

class AirScanner : public QObject {
    Q_OBJECT

public:
    explicit AirScanner(QObject* parent = nullptr);
    ~AirScanner() override; // stops listening

    // Why nothing can be heard on this system at all, or nothing: for a control to be
    // disabled before anyone asks.
    static std::string Unavailable();
    // Why nothing can be heard with the named adapter (empty: the first): no BlueZ, no such
    // adapter, or the adapter off; nothing when it can listen. Asked before a module is
    // set up, so that none is set up that could not then be heard.
    static std::string CannotListen(const std::string& adapter);
    // The same two, asked without waiting on the bus: answer is called on context's thread.
    static void AskUnavailable(QObject* context, std::function<void(std::string)> answer);
    static void AskCannotListen(const std::string& adapter, QObject* context, std::function<void(std::string)> answer);

    // Starts listening on the named adapter ("hci0"; empty for the first that is on).
    // Starting waits for nothing: started or failed follows, and where patterns were
    // asked for, patternsActive or patternsUnavailable.
    void start(const std::string& adapter, const ListenFor& what);
    // Stops listening, whatever was heard: BlueZ is told to stop discovering, and its
    // answer awaited (a few seconds at most), so that the adapter is idle for whoever is next.
    void stop();
    bool listening() const;

signals:
    void started();
    // Listening could not start: why, in words.
    void failed(const std::string& why);
    // A device as heard so far, each time an advertisement adds to it, or the monitor
    // finds a pattern in what it sent.
    void heard(const qz::air::HeardDevice& device);
    // bluetoothd's monitor looks for every pattern asked for.
    void patternsActive();
    // It cannot: why, in words, with what would help.
    void patternsUnavailable(const std::string& why);
    // Nothing can be heard any more (BlueZ stopped, the adapter was switched off or
    // removed): why, in words. Listening goes on until stopped, hearing nothing.
    void lost(const std::string& why);

private:
    struct Listener;
    void whenAnswered(const QDBusPendingCall& call, std::function<void(const QDBusMessage&)> then);
    void discover(Listener& listener, const std::string& name, std::function<void(const std::string&)> then);

    std::unique_ptr<Listener> pending_;  // while BlueZ is asked to start
    std::unique_ptr<Listener> listener_; // once it listens
    unsigned attempt_ = 0;
};

} // namespace qz

Q_DECLARE_METATYPE(qz::air::HeardDevice)
