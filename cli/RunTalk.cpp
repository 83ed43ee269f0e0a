#include "RunTalk.h"

#include "ConsoleDriver.h"
#include "Output.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <thread>

namespace qz::cli {

namespace {

using serial::TalkEnd;

// Standard input, read on a thread of its own so that the event loop never waits on it:
// what comes reaches onBytes on the event loop as soon as it comes, and the end of input
// reaches onEnd.
void readInput(QObject* receiver, std::function<void(const std::string&)> onBytes, std::function<void()> onEnd)
{
    std::thread([receiver, onBytes = std::move(onBytes), onEnd = std::move(onEnd)] {
        char buffer[256];
        std::size_t count;
        while ((count = ReadStandardInput(buffer, sizeof buffer)) > 0)
            QMetaObject::invokeMethod(receiver, [onBytes, bytes = std::string(buffer, count)] { onBytes(bytes); },
                                      Qt::QueuedConnection);
        QMetaObject::invokeMethod(receiver, onEnd, Qt::QueuedConnection);
    }).detach();
}

// A line without its line break (LF, or CR LF), as a command.
std::string commandOf(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

void leave(int status)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
                              Qt::QueuedConnection);
}

// Ctrl-C ends what the module is doing (its outcome then ends the run), or the run itself.
void stopOnInterruption(ConsoleDriver& driver, int& interruptedStatus)
{
    WatchInterruptions([&driver, &interruptedStatus](int exitStatus) {
        interruptedStatus = exitStatus;
        if (driver.busy())
            driver.stop();
        else
            leave(0);
    });
}

// Runs the event loop until the run leaves it, gives the port back, and says how the run
// ended: an output failure first, then an interruption, then status.
int runUntilLeft(ConsoleDriver& driver, const int& interruptedStatus, const int& status)
{
    QCoreApplication::exec();
    driver.close();
    if (OutputFailed())
        return CannotWriteOutput();
    return interruptedStatus != 0 ? interruptedStatus : status;
}

// Opens the port, or says why not on standard error.
bool opened(ConsoleDriver& driver, const std::string& port, const serial::SessionSettings& settings)
{
    const std::string problem = driver.open(port, settings);
    if (!problem.empty())
        WriteErr("qzconfig: --port " + serial::EscapedBytes(port) + ": cannot open it: " + serial::EscapedBytes(problem)
                 + "\n");
    return problem.empty();
}

// A discovery's or connection's end that is the port's or the module's fault, on standard
// error, with its exit status; nothing for the others.
int failureStatus(const std::string& port, const serial::TalkOutcome& outcome)
{
    const std::string prefix = "qzconfig: --port " + serial::EscapedBytes(port) + ": ";
    switch (outcome.end) {
    // 3: the port or the module failed; 4: no reply, or nothing heard.
    case TalkEnd::PortFailed:
    case TalkEnd::DiscoveryRefused: WriteErr(prefix + outcome.message + "\n"); return SendFailed;
    case TalkEnd::NoReply:
    case TalkEnd::DiscoveryUnfinished:
    case TalkEnd::NotConnected: WriteErr(prefix + outcome.message + "\n"); return NotHeardAsSet;
    default: break;
    }
    return Listed;
}

std::string deviceLine(std::size_t number, const serial::FoundDevice& device)
{
    std::string line = std::to_string(number) + "  " + ColonAddress(device.address);
    if (device.name)
        line += "  \"" + serial::EscapedBytes(*device.name) + "\"";
    return line + "\n";
}

// The devices heard, and whether the list was cut at its bound.
std::string devicesJson(const std::vector<serial::FoundDevice>& devices, bool cut)
{
    nlohmann::json list = nlohmann::json::array();
    for (const serial::FoundDevice& device : devices)
        list.push_back({{"type", std::string(1, device.type)},
                        {"address", ColonAddress(device.address)},
                        {"name", device.name ? nlohmann::json(*device.name) : nlohmann::json(nullptr)}});
    const nlohmann::json answer = {{"devices", list}, {"cut", cut}};
    return answer.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// The last discovery on a port is kept a while, so that connect --to=NUMBER means the
// device discover showed under that number, not whatever a new scan hears first.
constexpr qint64 keptDiscoverySeconds = 600;

QString keptDiscoveryPath(const std::string& port)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = runtime.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(runtime);
    const QByteArray key = QCryptographicHash::hash(QByteArray::fromStdString(port), QCryptographicHash::Sha1).toHex();
    return folder + QStringLiteral("/qzconfig-discovery-") + QString::fromLatin1(key.left(16)) + QStringLiteral(".json");
}

void keepDiscovery(const std::string& port, const std::vector<serial::FoundDevice>& devices)
{
    nlohmann::json kept = {{"port", port}, {"time", QDateTime::currentSecsSinceEpoch()}, {"devices", nlohmann::json::array()}};
    for (const serial::FoundDevice& device : devices)
        kept["devices"].push_back({{"type", std::string(1, device.type)},
                                   {"address", device.address},
                                   {"name", device.name ? nlohmann::json(*device.name) : nlohmann::json(nullptr)}});
    QFile file(keptDiscoveryPath(port));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const std::string text = kept.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
}

// The devices of the last discovery on port, when it is recent; nothing otherwise.
std::optional<std::vector<serial::FoundDevice>> lastDiscovery(const std::string& port)
{
    QFile file(keptDiscoveryPath(port));
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1 << 20)
        return std::nullopt;
    const QByteArray text = file.readAll();
    const nlohmann::json kept = nlohmann::json::parse(text.constData(), text.constData() + text.size(), nullptr, false);
    if (!kept.is_object() || kept.value("port", "") != port || !kept["time"].is_number_integer()
        || QDateTime::currentSecsSinceEpoch() - kept["time"].get<qint64>() > keptDiscoverySeconds
        || !kept["devices"].is_array())
        return std::nullopt;
    std::vector<serial::FoundDevice> devices;
    for (const nlohmann::json& device : kept["devices"]) {
        if (!device.is_object() || !device["type"].is_string() || device["type"].get<std::string>().size() != 1
            || !device["address"].is_string())
            return std::nullopt;
        serial::FoundDevice found{device["type"].get<std::string>()[0], device["address"].get<std::string>(), {}};
        if (device["name"].is_string())
            found.name = device["name"].get<std::string>();
        devices.push_back(std::move(found));
    }
    return devices;
}

// Bytes of a scan that fit no answer are told, never dropped.
void tellUnparsed(const std::string& port, const serial::Exchange& exchange)
{
    if (exchange.kind == serial::Exchange::Replied && !exchange.taken)
        WriteErr("qzconfig: --port " + serial::EscapedBytes(port) + ": not understood in the scan: \""
                 + serial::EscapedBytes(exchange.bytes) + "\"\n");
}

} // namespace

int RunConsole(int argc, char** argv, const ConsoleRequest& request)
{
    QCoreApplication application(argc, argv);
    ConsoleDriver driver;
    std::deque<std::string> waiting;
    bool inputEnded = false;
    int status = Listed;
    int interruptedStatus = 0;
    const auto next = [&] {
        if (driver.busy())
            return;
        if (!driver.isOpen() || interruptedStatus != 0 || OutputFailed())
            return leave(0);
        if (!waiting.empty()) {
            const std::string command = waiting.front();
            waiting.pop_front();
            driver.command(command);
        } else if (inputEnded) {
            leave(0);
        }
    };
    stopOnInterruption(driver, interruptedStatus);
    QObject::connect(&driver, &ConsoleDriver::exchanged, [&](const serial::Exchange& exchange) {
        if (!WriteOut(serial::TranscriptLine(exchange) + "\n"))
            driver.stop();
    });
    QObject::connect(&driver, &ConsoleDriver::ended, [&](const serial::TalkOutcome& outcome) {
        if (outcome.end == TalkEnd::NoReply)
            status = NotHeardAsSet;
        if (outcome.end == TalkEnd::PortFailed)
            status = SendFailed;
        // No exit other than 0 without a line that says why: a command without a reply too.
        if (!outcome.message.empty() && outcome.end != TalkEnd::Stopped)
            WriteErr("qzconfig: --port " + serial::EscapedBytes(request.port) + ": " + outcome.message + "\n");
        QMetaObject::invokeMethod(&driver, next, Qt::QueuedConnection);
    });
    if (!opened(driver, request.port, request.settings))
        return SendFailed;
    std::string partLine; // input after the last line break
    const auto takeLine = [&](std::string line) {
        if (std::string command = commandOf(std::move(line)); !command.empty())
            waiting.push_back(std::move(command));
    };
    readInput(
        &driver,
        [&](const std::string& bytes) {
            partLine += bytes;
            // A line is one command, however it ends: LF, CR LF or a lone CR, so that
            // "AT\rAT+RENEW" is two commands, each sent after the reply before it. (A CR
            // LF split between two reads leaves an empty line, which sends nothing.)
            for (std::size_t end = partLine.find_first_of("\r\n"); end != std::string::npos;
                 end = partLine.find_first_of("\r\n")) {
                takeLine(partLine.substr(0, end));
                const bool crLf = partLine[end] == '\r' && end + 1 < partLine.size() && partLine[end + 1] == '\n';
                partLine.erase(0, end + (crLf ? 2 : 1));
            }
            next();
        },
        [&] {
            takeLine(std::move(partLine)); // the last line may lack its line break
            inputEnded = true;
            next();
        });
    return runUntilLeft(driver, interruptedStatus, status);
}

int RunDiscover(int argc, char** argv, const DiscoverRequest& request)
{
    QCoreApplication application(argc, argv);
    ConsoleDriver driver;
    std::vector<serial::FoundDevice> devices;
    int status = Listed;
    int interruptedStatus = 0;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        driver.stop();
    });
    // Bytes that come after the scan ended are no part of it, and follow no summary.
    bool over = false;
    QObject::connect(&driver, &ConsoleDriver::exchanged, [&](const serial::Exchange& exchange) {
        if (!over)
            tellUnparsed(request.port, exchange);
    });
    QObject::connect(&driver, &ConsoleDriver::found, [&](const serial::FoundDevice& device) {
        devices.push_back(device);
        if (!request.json && !WriteOut(deviceLine(devices.size(), device)))
            driver.stop();
    });
    QObject::connect(&driver, &ConsoleDriver::ended, [&](const serial::TalkOutcome& outcome) {
        over = true;
        status = failureStatus(request.port, outcome);
        // Only a scan that ran numbers devices; one the module refused or never answered does not.
        if (outcome.end == TalkEnd::Discovered || outcome.end == TalkEnd::DiscoveryUnfinished)
            keepDiscovery(request.port, devices);
        if (request.json && outcome.end != TalkEnd::PortFailed)
            WriteOut(devicesJson(devices, outcome.notListed > 0));
        if (outcome.notListed > 0)
            WriteErr("qzconfig: --port " + serial::EscapedBytes(request.port) + ": " + std::to_string(devices.size())
                     + " devices listed; more were heard\n");
        if (status == Listed && devices.empty()) {
            WriteErr("qzconfig: --port " + serial::EscapedBytes(request.port) + ": " + outcome.message + "\n");
            status = NotHeardAsSet;
        }
        leave(0);
    });
    if (!opened(driver, request.port, request.settings))
        return SendFailed;
    driver.discover(request.timeLimit);
    return runUntilLeft(driver, interruptedStatus, status);
}

int RunConnect(int argc, char** argv, const ConnectRequest& request)
{
    QCoreApplication application(argc, argv);
    ConsoleDriver driver;
    const std::string prefix = "qzconfig: --port " + serial::EscapedBytes(request.port) + ": ";
    int status = Listed;
    int interruptedStatus = 0;
    bool relaying = false;
    // Ctrl-C or the end of input (after the device had its time to answer) ends the link
    // the module holds: it must not stay connected once qzconfig is gone.
    const auto endLink = [&driver] {
        if (driver.connected())
            driver.disconnectLink();
        else
            leave(0);
    };
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        if (driver.busy())
            driver.stop();
        else
            endLink();
    });
    const auto connectTo = [&](const serial::FoundDevice& device) {
        WriteErr("qzconfig: connecting to " + ColonAddress(device.address) + " (type "
                 + serial::EscapedBytes(std::string(1, device.type))
                 + (device.name ? ", \"" + serial::EscapedBytes(*device.name) + "\"" : std::string()) + ")\n");
        driver.connectTo(device);
    };
    // Which device of the discovery the user meant, or why none.
    const auto chosen = [&](const std::vector<serial::FoundDevice>& heard) -> std::optional<serial::FoundDevice> {
        const std::string count = std::to_string(heard.size()) + (heard.size() == 1 ? " device" : " devices");
        if (request.number != 0) {
            if (request.number <= heard.size())
                return heard[request.number - 1];
            WriteErr(prefix + "there is no device " + std::to_string(request.number) + ": the last discovery heard "
                     + count + "\n");
            return std::nullopt;
        }
        std::vector<serial::FoundDevice> named;
        for (const serial::FoundDevice& device : heard) {
            if (request.name.empty() ? device.address == request.address : device.name == request.name)
                named.push_back(device);
        }
        if (named.size() == 1)
            return named.front();
        const std::string wanted = request.name.empty() ? ColonAddress(request.address)
                                                        : "\"" + serial::EscapedBytes(request.name) + "\"";
        if (named.empty())
            WriteErr(prefix + wanted + " was not heard: the scan heard " + count + "\n");
        else
            WriteErr(prefix + std::to_string(named.size()) + " devices are called " + wanted
                     + ": give the address of the one meant\n");
        return std::nullopt;
    };
    // Bytes that fit no answer are the scan's to tell; the connection's own words follow.
    bool scanning = false;
    QObject::connect(&driver, &ConsoleDriver::exchanged, [&](const serial::Exchange& exchange) {
        if (scanning)
            tellUnparsed(request.port, exchange);
    });
    QObject::connect(&driver, &ConsoleDriver::relayed, [&](const std::string& bytes) {
        if (!WriteOut(bytes))
            leave(0);
    });
    QObject::connect(&driver, &ConsoleDriver::ended, [&](const serial::TalkOutcome& outcome) {
        if (outcome.end == TalkEnd::Disconnected || outcome.end == TalkEnd::StillConnected) {
            WriteErr("qzconfig: " + outcome.message + "\n");
            return leave(0);
        }
        scanning = false;
        if (relaying || outcome.end == TalkEnd::Stopped) { // the port failed while relaying, or Ctrl-C
            if (outcome.end == TalkEnd::Stopped && !relaying)
                WriteErr(prefix + outcome.message + "\n"); // "Stopped while connecting to ..."
            status = failureStatus(request.port, outcome);
            return leave(0);
        }
        if (outcome.end == TalkEnd::Discovered || outcome.end == TalkEnd::DiscoveryUnfinished) {
            const std::optional<serial::FoundDevice> device = chosen(driver.devices());
            if (!device) {
                status = NotHeardAsSet;
                return leave(0);
            }
            // A scan still running takes no AT+CO; the unfinished one is over on our side only.
            return connectTo(*device);
        }
        if (outcome.end != TalkEnd::Connected) {
            status = failureStatus(request.port, outcome);
            return leave(0);
        }
        WriteErr("qzconfig: " + outcome.message + "\n");
        relaying = true;
        readInput(
            &driver, [&](const std::string& bytes) { driver.relay(bytes); },
            [&] {
                const auto lingerMs = std::chrono::duration_cast<std::chrono::milliseconds>(request.linger).count();
                QTimer::singleShot(static_cast<int>(lingerMs), &driver, endLink);
            });
    });
    if (!opened(driver, request.port, request.settings))
        return SendFailed;
    // A number means the device the last discover showed under it: no new scan, whose
    // order may differ. A name or an address is looked up there first too.
    const std::optional<std::vector<serial::FoundDevice>> kept = lastDiscovery(request.port);
    if (request.number != 0 && !kept) {
        WriteErr(prefix + "--to=" + std::to_string(request.number) + " numbers a device of the last discovery, and "
                 "there is none from the last 10 minutes: run qzconfig discover --port="
                 + serial::EscapedBytes(request.port) + " first, or give the device's address\n");
        return UsageError;
    }
    std::optional<serial::FoundDevice> known;
    if (request.type) {
        known = serial::FoundDevice{*request.type, request.address, std::nullopt};
    } else if (kept && request.number != 0) {
        known = chosen(*kept);
        if (!known)
            return NotHeardAsSet;
    } else if (kept) {
        for (const serial::FoundDevice& device : *kept) {
            const bool meant = request.name.empty() ? device.address == request.address : device.name == request.name;
            const bool alone = request.name.empty()
                || std::count_if(kept->begin(), kept->end(), [&](const serial::FoundDevice& other) {
                       return other.name == request.name;
                   }) == 1;
            if (meant && alone)
                known = device;
        }
    }
    if (known) {
        connectTo(*known);
    } else {
        scanning = true;
        driver.discover(request.timeLimit);
    }
    return runUntilLeft(driver, interruptedStatus, status);
}

} // namespace qz::cli
