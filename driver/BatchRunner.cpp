#include "BatchRunner.h"

#include "PortSystem.h"

#include <QDateTime>

#include <algorithm>

namespace qz {

std::string UtcTimestamp()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}

BatchRunner::BatchRunner(batch::Batch& batch, UnitCommands commandsOf, ClaimUnit claim,
                         std::vector<std::string> ports, serial::SessionSettings settings, QObject* parent)
    : QObject(parent)
    , batch_(batch)
    , commandsOf_(std::move(commandsOf))
    , claim_(std::move(claim))
    , settings_(settings)
    , ports_(ports)
{
    for (const std::string& port : ports) {
        auto fixture = std::make_unique<Fixture>();
        fixture->port = port;
        fixture->driver = std::make_unique<SerialDriver>();
        Fixture* raw = fixture.get();
        connect(raw->driver.get(), &SerialDriver::exchanged, this,
                [this, raw](const serial::Exchange& exchange) { emit event(batchevent::Exchanged{raw->port, exchange}); });
        connect(raw->driver.get(), &SerialDriver::finished, this,
                [this, raw](const serial::Verdict& verdict) { sessionEnded(*raw, verdict); });
        connect(raw->driver.get(), &SerialDriver::identified, this,
                [this, raw](const serial::ModuleAddress& told) { identified(*raw, told); });
        fixtures_.push_back(std::move(fixture));
    }
    connect(&check_, &AirCheck::finished, this, &BatchRunner::heard);
    connect(&check_, &AirCheck::failed, this, [this](const std::string& why) { radioGone(why); });
    radioPoll_.setInterval(radioPollMs);
    connect(&radioPoll_, &QTimer::timeout, this, [this] {
        AirScanner::AskCannotListen(air_->adapter, this, [this](const std::string& why) {
            if (why.empty() && paused_)
                resume();
        });
    });
    portsystem::WatchPorts(this, ports, [this] { portsChanged(); });
}

BatchRunner::~BatchRunner() = default;

void BatchRunner::start()
{
    for (const auto& fixture : fixtures_) {
        fixture->device = portsystem::DeviceBehind(fixture->port);
        const auto held = std::find_if(holding_.begin(), holding_.end(),
                                       [&fixture](const batch::HeldPort& port) { return port.port == fixture->port; });
        fixture->waiting = fixture->device.empty() || held != holding_.end();
        if (held != holding_.end() && !fixture->device.empty())
            emit event(batchevent::HeldFromRecord{fixture->port, held->state});
        if (fixture->waiting)
            emit event(batchevent::WaitingForModule{fixture->port, !fixture->device.empty()});
        else
            take(*fixture);
    }
    finishIfDone();
}

void BatchRunner::take(Fixture& fixture)
{
    // While nothing can listen, no module is sent a list it could not be heard with; while
    // the shared record cannot be reached, none takes a unit.
    if (paused_ || recordPaused_) {
        fixture.ready = true;
        return;
    }
    fixture.ready = false;
    // The unit held for the port until its module tells who it is: only then is it claimed.
    const std::optional<std::size_t> unit = batch_.ModuleReady(fixture.port);
    if (!unit)
        return;
    fixture.waiting = false;
    fixture.unit = unit;
    fixture.claimed = false;
    fixture.total = static_cast<int>(commandsOf_(*unit).commands.size());
    if (!settings_.askModuleAddress && !claimed(fixture, {}))
        return;
    const std::string problem = fixture.driver->start(fixture.port, commandsOf_(*fixture.unit).commands, settings_);
    if (!problem.empty())
        portUnopened(fixture, problem);
}

// No module was reached: no unit is used and nothing is recorded. The port tries again by
// itself (a lock a stopped run left may take a moment to go), and says why once.
void BatchRunner::portUnopened(Fixture& fixture, const std::string& why)
{
    batch_.Withdrawn(fixture.port);
    fixture.unit.reset();
    fixture.waiting = true;
    if (fixture.unopened != why) {
        fixture.unopened = why;
        emit event(batchevent::PortUnopened{fixture.port, why});
    }
    Fixture* again = &fixture;
    QTimer::singleShot(reopenMs, this, [this, again] {
        if (!stopping_ && again->waiting && !again->unit && !portsystem::DeviceBehind(again->port).empty())
            take(*again);
    });
    finishIfDone();
}

bool BatchRunner::claimed(Fixture& fixture, const std::string& module)
{
    // A claim may wait for the record's server, the event loop answering meanwhile: the
    // session may end (a stop) before it is answered.
    fixture.claiming = true;
    const Claim claim = claim_(fixture.port, module);
    fixture.claiming = false;
    const bool sessionGone = !fixture.unit || (settings_.askModuleAddress && !fixture.driver->running());
    if (claim.answer == Claim::Go) {
        fixture.unit = claim.unit;
        fixture.claimed = true;
        fixture.total = static_cast<int>(commandsOf_(claim.unit).commands.size());
        emit event(batchevent::ModuleStarted{fixture.port, claim.unit});
        if (!claim.words.empty())
            emit event(batchevent::ModuleNote{fixture.port, claim.words});
        if (!sessionGone)
            return true;
        // Its unit was claimed, and its module sent nothing: the record ends the unit.
        emit event(batchevent::ModuleEnded{fixture.port, claim.unit,
                                           {serial::Ending::Stopped, 0, fixture.total, "Stopped before the list was sent"}});
        fixture.unit.reset();
        fixture.claimed = false;
        finishIfDone();
        return false;
    }
    if (sessionGone) {
        finishIfDone();
        return false;
    }
    fixture.known = claim.answer == Claim::KnownModule || claim.answer == Claim::Held ? claim.words : std::string();
    if (fixture.driver->running())
        fixture.driver->withdraw(claim.words);
    else
        withdrawn(fixture);
    return false;
}

// The module told its address, or did not: its unit is claimed before it is sent anything
// of its list.
void BatchRunner::identified(Fixture& fixture, const serial::ModuleAddress& told)
{
    if (!fixture.unit)
        return;
    fixture.unopened.clear();
    if (told.address.empty())
        emit event(batchevent::ModuleUntold{fixture.port, told.why});
    if (claimed(fixture, told.address))
        fixture.driver->proceed(commandsOf_(*fixture.unit).commands);
}

// The module was sent nothing of its list: its unit goes to the next module. One the
// record shows stays on its port until it is swapped.
void BatchRunner::withdrawn(Fixture& fixture)
{
    batch_.Withdrawn(fixture.port);
    fixture.unit.reset();
    fixture.waiting = true;
    // Held back while the record's server is away, it takes its module once it answers.
    fixture.ready = recordPaused_;
    if (!fixture.known.empty())
        emit event(batchevent::ModuleKnown{fixture.port, fixture.known});
    fixture.known.clear();
    if (!batch_.Finished() && !stopping_ && !recordPaused_)
        emit event(batchevent::WaitingForModule{fixture.port, !portsystem::DeviceBehind(fixture.port).empty()});
    finishIfDone();
}

void BatchRunner::sessionEnded(Fixture& fixture, const serial::Verdict& verdict)
{
    if (!fixture.unit)
        return;
    // A session that ended before its unit was claimed reached no list: no row, no unit used.
    if (verdict.ending == serial::Ending::Withdrawn || verdict.ending == serial::Ending::Stopped) {
        if (!fixture.claimed) {
            withdrawn(fixture);
            return;
        }
    } else if (!fixture.claimed) {
        batch_.ModuleUnreached(fixture.port);
        emit event(batchevent::ModuleUnreached{fixture.port, verdict});
        if (batch_.StoppedForFailures() && !stopping_)
            stop();
        withdrawn(fixture);
        return;
    }
    if (verdict.ending == serial::Ending::Withdrawn) {
        withdrawn(fixture);
        return;
    }
    if (verdict.succeeded() && air_) {
        fixture.taken = verdict;
        toHear_.push_back(&fixture);
        listenForNext();
        return;
    }
    moduleDone(fixture, verdict);
}

// Asked to verify, a module is set up only once heard: one whose listening a stop came
// before has failed, its values taken.
serial::Verdict BatchRunner::stoppedBeforeHeard(const serial::Verdict& taken)
{
    serial::Verdict stopped = taken;
    stopped.ending = serial::Ending::Stopped;
    stopped.message = "Stopped before it was heard over the air; " + taken.message;
    return stopped;
}

void BatchRunner::moduleDone(Fixture& fixture, const serial::Verdict& verdict)
{
    const std::size_t unit = *fixture.unit;
    fixture.unit.reset();
    fixture.claimed = false;
    batch_.SessionEnded(fixture.port, verdict.succeeded(), verdict.sent);
    emit event(batchevent::ModuleEnded{fixture.port, unit, verdict});
    if (batch_.StoppedForFailures() && !stopping_) {
        stop(); // the other ports end after the reply in flight
        return;
    }
    // The module just done stays on its port until it is swapped.
    fixture.waiting = true;
    if (!batch_.Finished() && !stopping_)
        emit event(batchevent::WaitingForModule{fixture.port, !portsystem::DeviceBehind(fixture.port).empty()});
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
    stopping_ = true;
    paused_ = false;
    radioPoll_.stop();
    batch_.Stop();
    for (const auto& fixture : fixtures_)
        fixture->driver->stop();
    check_.stop();
    finishIfDone();
}

void BatchRunner::verifyOverTheAir(int seconds, std::string adapter, RadioLoss onLoss)
{
    air_ = AirSettings{seconds, std::move(adapter), onLoss};
}

void BatchRunner::listenForNext()
{
    // Once a stop is asked, no listening starts: whoever waits for it is done with.
    while (stopping_ && !toHear_.empty()) {
        Fixture& fixture = *toHear_.front();
        toHear_.erase(toHear_.begin());
        const serial::Verdict stopped = stoppedBeforeHeard(*fixture.taken);
        fixture.taken.reset();
        moduleDone(fixture, stopped);
    }
    if (check_.running() || toHear_.empty())
        return;
    Fixture& fixture = *toHear_.front();
    const air::Expectation expectation = air::ExpectedOnAir(commandsOf_(*fixture.unit).advertised);
    const int seconds = air_->seconds > 0 ? air_->seconds : air::DefaultListeningSeconds(expectation);
    if (paused_)
        return;
    // Should it not start, the check fails, and the radio is gone.
    check_.start(expectation, seconds, air_->adapter);
    emit event(batchevent::Listening{fixture.port, *fixture.unit, air::RestartAdvice(expectation, seconds), seconds});
}

// The radio went away: the module listened for has failed, not heard, and no further
// module is sent its list. qzconfig stops; the window waits for the radio to come back.
void BatchRunner::radioGone(const std::string& why)
{
    if (toHear_.empty() || paused_)
        return;
    Fixture& fixture = *toHear_.front();
    toHear_.erase(toHear_.begin());
    serial::Verdict failed = *fixture.taken;
    fixture.taken.reset();
    failed.ending = serial::Ending::NotHeardAsSet;
    failed.message += "; cannot listen over the air: " + why;
    if (air_->onLoss == RadioLoss::Pause) {
        paused_ = true;
        emit event(batchevent::RadioPaused{why});
        radioPoll_.start();
    } else {
        radioLost_ = true;
        stopping_ = true;
        batch_.Stop();
        for (const auto& other : fixtures_)
            other->driver->stop();
    }
    moduleDone(fixture, failed);
    listenForNext();
}

void BatchRunner::resumeTaking()
{
    recordPaused_ = false;
    for (const auto& fixture : fixtures_) {
        if (fixture->ready && !fixture->unit)
            take(*fixture);
    }
    finishIfDone();
}

void BatchRunner::resume()
{
    paused_ = false;
    radioPoll_.stop();
    emit event(batchevent::RadioBack{});
    listenForNext();
    for (const auto& fixture : fixtures_) {
        if (fixture->ready && !fixture->unit)
            take(*fixture);
    }
    finishIfDone();
}

void BatchRunner::heard(const air::Verdict& verdict)
{
    if (toHear_.empty())
        return;
    Fixture& fixture = *toHear_.front();
    toHear_.erase(toHear_.begin());
    serial::Verdict ended = *fixture.taken;
    fixture.taken.reset();
    if (stopping_) {
        // Cut short by the user: not heard is no finding about the module.
        ended = stoppedBeforeHeard(ended);
    } else {
        emit event(batchevent::Heard{fixture.port, *fixture.unit, verdict});
        // The record says that the module was heard, and how, whatever the outcome.
        ended.message += "; " + air::VerdictLine(verdict);
        if (verdict.outcome != air::Outcome::HeardAsSet)
            ended.ending = serial::Ending::NotHeardAsSet;
    }
    moduleDone(fixture, ended);
    listenForNext();
}

void BatchRunner::finishIfDone()
{
    const bool claiming = std::any_of(fixtures_.begin(), fixtures_.end(), [](const auto& fixture) { return fixture->claiming; });
    if (finished_ || claiming || !batch_.Finished())
        return;
    finished_ = true;
    emit event(batchevent::Finished{});
}

} // namespace qz
