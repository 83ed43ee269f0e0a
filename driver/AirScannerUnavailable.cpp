#include "AirScanner.h"

// Our Qt for Windows has no Bluetooth back end and Windows has no BlueZ: nothing to listen
// with. Everything that asks says so and goes no further.

namespace qz {

struct AirScanner::Listener {};

AirScanner::AirScanner(QObject* parent) : QObject(parent) {}

AirScanner::~AirScanner() = default;

std::string AirScanner::Unavailable()
{
    return "listening over the air needs BlueZ, on Linux; this Windows build has no Bluetooth back end yet";
}

std::string AirScanner::CannotListen(const std::string&)
{
    return Unavailable();
}

void AirScanner::AskUnavailable(QObject* context, std::function<void(std::string)> answer)
{
    QMetaObject::invokeMethod(context, [answer] { answer(Unavailable()); }, Qt::QueuedConnection);
}

void AirScanner::AskCannotListen(const std::string&, QObject* context, std::function<void(std::string)> answer)
{
    QMetaObject::invokeMethod(context, [answer] { answer(Unavailable()); }, Qt::QueuedConnection);
}

void AirScanner::start(const std::string&, const ListenFor&)
{
    QMetaObject::invokeMethod(this, [this] { emit failed(Unavailable()); }, Qt::QueuedConnection);
}

void AirScanner::whenAnswered(const QDBusPendingCall&, std::function<void(const QDBusMessage&)>) {}

void AirScanner::stop() {}

bool AirScanner::listening() const
{
    return false;
}

} // namespace qz
