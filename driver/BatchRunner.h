#pragma once

#include "AirCheck.h"
#include "Batch.h"
#include "BatchPlan.h"
#include "BatchEvents.h"
#include "BatchOrder.h"
#include "SerialDriver.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qz {

// Now, in UTC, as ISO 8601 writes it: 2026-12-07T14:55:03Z.
std::string UtcTimestamp();

// Runs a batch on its ports, one send session per port at a time, all ports at once. A
// port takes its next module when the module is new: the port appeared (an adapter is
// plugged in, or a link now names another device), or the user says so (nextModule). It
// learns from the system when ports come and go.
class BatchRunner : public QObject {
    Q_OBJECT
public:
    // A unit's list, made when its module starts (a batch of millions keeps none): its
    // commands, and what the module then advertises.
    using UnitCommands = std::function<CommandList(std::size_t unit)>;
    // Once a module told its address (or did not), its unit is claimed before it is sent
    // anything of its list: the unit it gets (words: what its owner should know of it), or
    // it is one set up before, or it gets none (words say why: its values wait for another
    // module, none is left, or the record cannot take the claim now).
    struct Claim {
        enum Answer { Go, KnownModule, NotRecorded, NoneLeft, Held };
        Answer answer;
        std::size_t unit = 0;
        std::string words;
    };
    using ClaimUnit = std::function<Claim(const std::string& port, const std::string& module)>;

    // settings.askModuleAddress: each module is asked its address before its unit is claimed.
    BatchRunner(batch::Batch& batch, UnitCommands commandsOf, ClaimUnit claim, std::vector<std::string> ports,
                serial::SessionSettings settings, QObject* parent = nullptr);
    ~BatchRunner() override;

    // The shared record cannot be reached: ports that are ready wait, taking no unit, until
    // resumeTaking().
    void holdTaking() { recordPaused_ = true; }
    void resumeTaking();

    // Ports whose last module in the record took its values, and may be there still: they
    // wait for a swap (or Enter) before their first module.
    void holdingAModule(std::vector<batch::HeldPort> ports) { holding_ = std::move(ports); }

    // Every port that is there now takes a module.
    void start();
    // The module on this waiting port was swapped by hand: it takes the next values. A port
    // that is not waiting, or not there, takes nothing.
    void nextModule(const std::string& port);
    // The batch's ports, in order, and which of them wait, with a module in place, for the
    // user to say that it was swapped.
    const std::vector<std::string>& ports() const { return ports_; }
    std::vector<bool> waitingForSwap() const;
    // Stops the sessions in flight (after their replies) and hands out nothing more.
    void stop();
    // The batch stopped since nothing could listen over the air any more.
    bool radioLost() const { return radioLost_; }
    using RadioLoss = qz::RadioLoss;
    // Each module that took its list is then listened for over the air, one at a time,
    // since one adapter hears them all; one not heard as set has failed. seconds: 0 for
    // the matcher's default.
    void verifyOverTheAir(int seconds, std::string adapter, RadioLoss onLoss = RadioLoss::Stop);

signals:
    // What happens, in order; a module's end comes before the waiting for the next.
    void event(const qz::BatchEvent& event);

private:
    struct Fixture {
        std::string port;
        std::unique_ptr<SerialDriver> driver;
        std::optional<std::size_t> unit;
        int total = 0;      // commands in its unit's list
        std::string known;  // why its module was sent nothing: the record shows it
        std::string unopened; // why the port could not be opened, said once
        std::string device; // what the port names now; empty while it is not there
        bool waiting = false; // for a new module
        bool ready = false;   // a new module is there, held while the radio is away
        bool claiming = false; // its unit is being claimed now
        bool claimed = false;  // its unit is its own: how its session ends goes into the record
        std::optional<serial::Verdict> taken; // its list was taken; it waits to be heard
    };
    struct AirSettings {
        int seconds;
        std::string adapter;
        RadioLoss onLoss;
    };
    static constexpr int radioPollMs = 2000;
    static constexpr int reopenMs = 1000;

    void take(Fixture& fixture);
    bool claimed(Fixture& fixture, const std::string& module);
    void identified(Fixture& fixture, const serial::ModuleAddress& told);
    void sessionEnded(Fixture& fixture, const serial::Verdict& verdict);
    void withdrawn(Fixture& fixture);
    void portUnopened(Fixture& fixture, const std::string& why);
    void moduleDone(Fixture& fixture, const serial::Verdict& verdict);
    void listenForNext();
    static serial::Verdict stoppedBeforeHeard(const serial::Verdict& taken);
    void heard(const air::Verdict& verdict);
    void radioGone(const std::string& why);
    void resume();
    void portsChanged();
    void finishIfDone();

    batch::Batch& batch_;
    UnitCommands commandsOf_;
    ClaimUnit claim_;
    bool recordPaused_ = false;
    serial::SessionSettings settings_;
    std::vector<std::unique_ptr<Fixture>> fixtures_;
    std::vector<std::string> ports_;
    bool finished_ = false;
    std::optional<AirSettings> air_;
    AirCheck check_;
    std::vector<Fixture*> toHear_; // in the order their lists were taken
    bool stopping_ = false;
    bool radioLost_ = false;
    bool paused_ = false;
    QTimer radioPoll_;
    std::vector<batch::HeldPort> holding_;
};

} // namespace qz
