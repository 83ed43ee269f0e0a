#include "BatchRunner.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#endif

namespace qz {

namespace {

// What a port's name stands for now: the device it resolves to, or empty when there is
// none. A new device behind the same name (a link moved to another adapter) is a new module.
std::string deviceBehind(const std::string& port)
{
#ifdef Q_OS_UNIX
    const std::string spelled = port.find('/') == std::string::npos ? "/dev/" + port : port;
    char resolved[PATH_MAX];
    struct stat status {};
    if (realpath(spelled.c_str(), resolved) == nullptr || stat(resolved, &status) != 0)
        return {};
    return std::string(resolved) + "@" + std::to_string(status.st_rdev) + ":" + std::to_string(status.st_ino);
#else
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(QString::fromStdString(port), Qt::CaseInsensitive) == 0
            || info.systemLocation().compare(QString::fromStdString(port), Qt::CaseInsensitive) == 0)
            return info.systemLocation().toStdString();
    }
    return {};
#endif
}

#ifdef Q_OS_UNIX
// The folder to watch for a port to come and go.
QString folderOf(const std::string& port)
{
    const QString path = QString::fromLocal8Bit(port.data(), static_cast<int>(port.size()));
    return path.contains(QLatin1Char('/')) ? QFileInfo(path).absolutePath() : QStringLiteral("/dev");
}
#endif

} // namespace

std::string UtcTimestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}

BatchRunner::BatchRunner(batch::Batch& batch, std::vector<std::vector<std::string>> commands,
                         std::vector<std::string> ports, serial::SessionSettings settings, QObject* parent)
    : QObject(parent)
    , batch_(batch)
    , commands_(std::move(commands))
    , settings_(settings)
{
    for (std::string& port : ports) {
        auto fixture = std::make_unique<Fixture>();
        fixture->port = std::move(port);
        fixture->driver = std::make_unique<SerialDriver>();
        Fixture* raw = fixture.get();
        connect(raw->driver.get(), &SerialDriver::exchanged, this,
                [this, raw](const serial::Exchange& exchange) { emit exchanged(raw->port, exchange); });
        connect(raw->driver.get(), &SerialDriver::finished, this,
                [this, raw](const serial::Verdict& verdict) { sessionEnded(*raw, verdict); });
#ifdef Q_OS_UNIX
        watcher_.addPath(folderOf(raw->port));
#endif
        fixtures_.push_back(std::move(fixture));
    }
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &BatchRunner::portsChanged);
#ifndef Q_OS_UNIX
    // COM ports are no files to watch; asking Windows once a second costs next to nothing.
    presenceCheck_.setInterval(1000);
    connect(&presenceCheck_, &QTimer::timeout, this, &BatchRunner::portsChanged);
#endif
}

BatchRunner::~BatchRunner() = default;

void BatchRunner::start()
{
    for (const auto& fixture : fixtures_) {
        fixture->device = deviceBehind(fixture->port);
        fixture->waiting = fixture->device.empty();
        if (fixture->waiting)
            emit waitingForModule(fixture->port);
        else
            take(*fixture);
    }
#ifndef Q_OS_UNIX
    presenceCheck_.start();
#endif
    finishIfDone();
}

void BatchRunner::take(Fixture& fixture)
{
    const std::optional<std::size_t> unit = batch_.ModuleReady(fixture.port);
    if (!unit)
        return;
    fixture.waiting = false;
    fixture.unit = unit;
    emit moduleStarted(fixture.port, *unit);
    const std::string problem = fixture.driver->start(fixture.port, commands_[*unit], settings_);
    if (!problem.empty()) {
        const int total = static_cast<int>(commands_[*unit].size());
        sessionEnded(fixture, {serial::Ending::PortFailed, 0, total, "cannot open it: " + problem});
    }
}

void BatchRunner::sessionEnded(Fixture& fixture, const serial::Verdict& verdict)
{
    if (!fixture.unit)
        return;
    const std::size_t unit = *fixture.unit;
    fixture.unit.reset();
    batch_.SessionEnded(fixture.port, verdict.succeeded());
    emit moduleEnded(fixture.port, unit, verdict);
    // The module just done stays on its port until it is swapped.
    fixture.waiting = true;
    if (!batch_.Finished())
        emit waitingForModule(fixture.port);
    finishIfDone();
}

void BatchRunner::nextModule()
{
    for (const auto& fixture : fixtures_) {
        if (fixture->waiting && !fixture->unit && !deviceBehind(fixture->port).empty())
            take(*fixture);
    }
}

void BatchRunner::portsChanged()
{
    for (const auto& fixture : fixtures_) {
        const std::string device = deviceBehind(fixture->port);
        if (device == fixture->device)
            continue;
        fixture->device = device;
        // A port that came back, or now names another device, holds a new module.
        if (!device.empty() && fixture->waiting && !fixture->unit)
            take(*fixture);
    }
}

void BatchRunner::stop()
{
    batch_.Stop();
    for (const auto& fixture : fixtures_)
        fixture->driver->stop();
    finishIfDone();
}

void BatchRunner::finishIfDone()
{
    if (finished_ || !batch_.Finished())
        return;
    finished_ = true;
    presenceCheck_.stop();
    emit finished();
}

} // namespace qz
