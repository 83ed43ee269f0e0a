#include "RunAir.h"

#include "AirWords.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>
#include <QTimer>

#include <map>

namespace qz::cli {

namespace {

constexpr int scanSeconds = 10;

} // namespace

int ListenAndTell(AirCheck& check, const air::Expectation& expectation, const AirSettings& settings)
{
    const int seconds = settings.seconds.value_or(air::DefaultListeningSeconds(expectation));
    int status = NotHeardAsSet;
    // A script asking for JSON gets its answer on standard output, whatever the end.
    const auto cannotListen = [&settings](const std::string& why) { return TellCannotListen(why, settings.json); };
    const QMetaObject::Connection told =
        QObject::connect(&check, &AirCheck::finished, [&](const air::Verdict& verdict) {
            if (WriteOut(AirVerdictText(verdict, seconds, settings.json)))
                status = verdict.outcome == air::Outcome::HeardAsSet ? Listed : NotHeardAsSet;
            QCoreApplication::exit(0);
        });
    const QMetaObject::Connection lost = QObject::connect(&check, &AirCheck::failed, [&](const std::string& why) {
        status = cannotListen(why);
        QCoreApplication::exit(0);
    });
    const QMetaObject::Connection began = QObject::connect(&check, &AirCheck::started, [&] {
        if (const std::string advice = air::RestartAdvice(expectation, seconds); !advice.empty())
            WriteErr("qzconfig: " + advice + "\n");
    });
    check.start(expectation, seconds, settings.adapter);
    QCoreApplication::exec();
    for (const QMetaObject::Connection& connection : {told, lost, began})
        QObject::disconnect(connection);
    return OutputFailed() ? CannotWriteOutput() : status;
}

int RunVerify(int argc, char** argv, const VerifyRequest& request)
{
    QCoreApplication application(argc, argv);
    AirCheck check;
    int interruptedStatus = 0;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        check.stop();
    });
    const int status = ListenAndTell(check, request.expectation, request.air);
    return interruptedStatus != 0 && status != Listed ? interruptedStatus : status;
}

int RunScan(int argc, char** argv, const AirSettings& settings)
{
    QCoreApplication application(argc, argv);
    AirScanner scanner;
    std::map<std::string, air::HeardDevice> heard;
    QObject::connect(&scanner, &AirScanner::heard, [&heard](const air::HeardDevice& device) { heard[device.address] = device; });
    const int seconds = settings.seconds.value_or(scanSeconds);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(0); });
    WatchInterruptions([](int) { QCoreApplication::exit(0); });
    std::string lostWhy;
    QObject::connect(
        &scanner, &AirScanner::lost, &scanner,
        [&lostWhy](const std::string& why) {
            lostWhy = why;
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
    QObject::connect(&scanner, &AirScanner::failed, [&lostWhy](const std::string& why) {
        lostWhy = why;
        QCoreApplication::exit(0);
    });
    QObject::connect(&scanner, &AirScanner::started, [&deadline, seconds] { deadline.start(seconds * 1000); });
    scanner.start(settings.adapter, {std::nullopt, true, {}, true});
    QCoreApplication::exec();
    scanner.stop();
    if (!lostWhy.empty()) {
        WriteErr("qzconfig: cannot listen over the air: " + lostWhy + "\n");
        return SendFailed;
    }
    std::vector<air::HeardDevice> devices;
    for (const auto& [address, device] : heard)
        devices.push_back(device);
    return WriteOut(ScanText(devices, seconds, settings.json)) ? Listed : CannotWriteOutput();
}

} // namespace qz::cli
