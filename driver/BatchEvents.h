#pragma once

// What a batch tells its shell, one event at a time, in the order it happens: each shell
// puts the events into words with one std::visit.

#include "AirMatch.h"
#include "Batch.h"
#include "SendSession.h"

#include <cstddef>
#include <string>
#include <variant>

namespace qz::batchevent {

// The module on port told its address (or did not), and its unit is claimed: it gets unit.
struct ModuleStarted {
    std::string port;
    std::size_t unit;
};
struct Exchanged {
    std::string port;
    serial::Exchange exchange;
};
// The module did not tell its address (why): it is set up all the same.
struct ModuleUntold {
    std::string port;
    std::string why;
};
// What the owner should know of the unit the module on port got (words).
struct ModuleNote {
    std::string port;
    std::string words;
};
// The module on port failed before it was given its values (it did not answer AT, or its
// port failed meanwhile): nothing is recorded, its values go to the next module.
struct ModuleUnreached {
    std::string port;
    serial::Verdict verdict;
};
// The port could not be opened (why): no module was reached, and it tries again.
struct PortUnopened {
    std::string port;
    std::string why;
};
// The module is one the record shows (words say which): it was sent nothing of its list.
struct ModuleKnown {
    std::string port;
    std::string words;
};
// The module's session ended; its row is in the record by now.
struct ModuleEnded {
    std::string port;
    std::size_t unit;
    serial::Verdict verdict;
};
// present: the port is there, and its module may be swapped in place; otherwise the port
// is awaited.
struct WaitingForModule {
    std::string port;
    bool present;
};
// The record shows a module on port that took its values (set up, or carrying them): the
// port waits for a swap.
struct HeldFromRecord {
    std::string port;
    batch::KnownModules::State state;
};
// Listening for the module on port begins; advice is what its owner must do first.
struct Listening {
    std::string port;
    std::size_t unit;
    std::string advice;
    int seconds;
};
struct Heard {
    std::string port;
    std::size_t unit;
    air::Verdict verdict;
};
// Nothing can listen (why): no module is sent its list until it can again.
struct RadioPaused {
    std::string why;
};
struct RadioBack {};
// The record could not be written (why, in the system's words), and the batch stops.
struct RecordNotWritten {
    std::string why;
};
// The server that keeps a shared record cannot be reached (why): no module takes a unit
// until it answers again.
struct RecordPaused {
    std::string why;
};
struct RecordBack {};
struct Finished {};

} // namespace qz::batchevent

namespace qz {

using BatchEvent = std::variant<batchevent::ModuleStarted, batchevent::Exchanged, batchevent::ModuleUntold,
                                batchevent::ModuleKnown, batchevent::ModuleNote, batchevent::PortUnopened,
                                batchevent::ModuleUnreached,
                                batchevent::ModuleEnded, batchevent::WaitingForModule,
                                batchevent::HeldFromRecord, batchevent::Listening, batchevent::Heard,
                                batchevent::RadioPaused, batchevent::RadioBack, batchevent::RecordNotWritten,
                                batchevent::RecordPaused, batchevent::RecordBack, batchevent::Finished>;

// One handler per event kind, for std::visit.
template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace qz
