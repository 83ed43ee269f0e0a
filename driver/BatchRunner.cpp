#include "BatchRunner.h"

#include "PortSystem.h"

#include <QDateTime>

namespace qz {

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
    , ports_(ports)
{
    for (const std::string& port : ports) {
        auto fixture = std::make_unique<Fixture>();
        fixture->port = port;
        fixture->driver = std::make_unique<SerialDriver>();
        Fixture* raw = fixture.get();
        connect(raw->driver.get(), &SerialDriver::exchanged, this,
                [this, raw](const serial::Exchange& exchange) { emit exchanged(raw->port, exchange); });
        connect(raw->driver.get(), &SerialDriver::finished, this,
                [this, raw](const serial::Verdict& verdict) { sessionEnded(*raw, verdict); });
        fixtures_.push_back(std::move(fixture));
    }
    portsystem::WatchPorts(this, ports, [this] { portsChanged(); });
}

BatchRunner::~BatchRunner() = default;

void BatchRunner::start()
{
    for (const auto& fixture : fixtures_) {
        fixture->device = portsystem::DeviceBehind(fixture->port);
        fixture->waiting = fixture->device.empty();
        if (fixture->waiting)
            emit waitingForModule(fixture->port, false);
        else
            take(*fixture);
    }
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
        emit waitingForModule(fixture.port, !portsystem::DeviceBehind(fixture.port).empty());
    finishIfDone();
}

void BatchRunner::nextModule(const std::string& port)
{
    for (const auto& fixture : fixtures_) {
        if (fixture->port == port && fixture->waiting && !fixture->unit
            && !portsystem::DeviceBehind(fixture->port).empty())
            take(*fixture);
    }
}

std::vector<bool> BatchRunner::waitingForSwap() const
{
    std::vector<bool> waiting;
    for (const auto& fixture : fixtures_)
        waiting.push_back(fixture->waiting && !fixture->unit && !fixture->device.empty());
    return waiting;
}

void BatchRunner::portsChanged()
{
    for (const auto& fixture : fixtures_) {
        const std::string device = portsystem::DeviceBehind(fixture->port);
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
    emit finished();
}

} // namespace qz
