#pragma once

// Many modules set up one after another, on one or several ports at once. The batch
// decides; it does no input or output. It knows which values each module gets (a counter
// or a list of rows), which of them a record shows set up already or carried, and which go
// to the next module that is ready. A failed module that was sent the command setting its
// identity keeps its values (a gap in the count); one that was not gives them to the next,
// so that no identity ever reaches two modules.

#include "PageModel.h"

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::batch {

// A unit's values, one per field of its page, in the page's order.
using Values = std::vector<std::string>;

// Every unit of a batch, kept compactly, since a values file may hold millions of rows:
// the values all units share once, and the ones that vary from unit to unit in one block.
class Units {
public:
    Units() = default;
    // shared: a unit's values where nothing varies; varying: the columns that do.
    Units(Values shared, std::vector<std::size_t> varying);

    // Adds a unit: its values of the varying columns are taken from unit, the rest are shared.
    void Add(const Values& unit);
    std::size_t size() const { return count_; }
    Values operator[](std::size_t unit) const;

private:
    Values shared_;
    std::vector<std::size_t> varying_;
    std::string text_;              // the varying values of every unit, one after another
    std::vector<std::size_t> ends_; // where each of them ends in text_
    std::size_t count_ = 0;
};

// The values a counted field takes, one per module, the first as given: four hex digits
// stay four hex digits (00FE, 00FF, 0100), five decimal digits stay five, an address stays
// twelve upper-case hex digits, and a name counts its trailing digits, their width kept
// (Lamp-09, Lamp-10). problem says why it cannot count; top, when it is set, is the
// largest value of the form that counting would pass.
struct CountedValues {
    std::vector<std::string> values;
    std::string problem;
    std::string top;
};
CountedValues CountValues(qz::Counting form, std::string_view first, std::size_t modules);

// One line of a CSV file (RFC 4180): fields split at commas, quoted fields may hold
// commas, line breaks and doubled quotes. Reads from text at offset, which it moves past
// the record's line end; false at the end of the text.
// separator: ',' as RFC 4180 has it, or ';' as spreadsheets in many languages write it.
bool ReadCsvRecord(std::string_view text, std::size_t& offset, std::vector<std::string>& fields,
                   char separator = ',');
// A field as CSV writes it: quoted when it holds a comma, a quote or a line break.
std::string CsvField(std::string_view text);
std::string CsvLine(const std::vector<std::string>& fields);

inline constexpr std::string_view SetUpResult = "set up";
inline constexpr std::string_view FailedResult = "failed";
// Written, and on the disk, before a module is sent anything: should nothing follow it (a
// crash, a power cut), the module may carry the row's values.
inline constexpr std::string_view StartedResult = "started";

// A line typed while ports wait for their next module names the port whose module was
// swapped: its number (from 1, in the batch's order) or its name; an empty line names the
// one port waiting. ports are all the batch's ports, waiting says which wait.
struct PortChoice {
    std::optional<std::size_t> port; // an index into ports
    std::string problem;             // why none is chosen, in words
};
PortChoice ChoosePort(std::string_view line, const std::vector<std::string>& ports, const std::vector<bool>& waiting);

// What a record shows of a unit before the batch begins: nothing, a module set up with
// it, or a module that may carry its identity still (it failed after being sent the
// command that sets it, or the batch stopped while it was being set up).
// A record that benches share shows a unit in progress too: another bench is setting up a
// module with it now.
enum class Recorded : unsigned char { Nothing, SetUp, Carried, InProgress };

// A unit a module could be given, in the order units are handed out: a fresh one, or (the
// failed modules back on the bench) one a module carries, and which module that is as the
// record shows it (empty: the record knows none).
struct Candidate {
    std::size_t unit;
    bool carried = false;
    std::string carrier;
};

// Which unit a module that told its address (empty: it did not) is given. Carried values
// go back only to the module that carries them: that module gets its own unit first; no
// other module gets a unit whose carrier the record names. A carried unit whose carrier
// the record does not know may go to any module, said so (unknownCarrier). One store or
// another, every ledger decides by this rule.
struct Choice {
    std::optional<std::size_t> unit;
    bool unknownCarrier = false;
    // A carried unit that waits for the module that carries it, when one was passed over.
    std::optional<Candidate> passedOver;
};
Choice ChooseUnit(const std::vector<Candidate>& candidates, std::string_view module);

// Which values identify a module, so that no two modules get them. A unit's identity is
// carried by a module once it was sent the command that sets it, whatever came back.
struct Carrying {
    // Per unit: how many of its commands a module is sent before it carries the unit's
    // identity. Empty: the page has none, and a failed module's values go to the next.
    std::vector<int> takenToCarry;
    // The units a record shows carried are never handed out again, unless retry (the
    // failed modules are back on the bench): then they go first, each to its own module.
    bool retry = false;
    // Per carried unit: the module the record shows carrying it, by its own address.
    std::map<std::size_t, std::string> carriers;
};

// Modules a record shows, by their own address (12 upper-case hex digits, as the module
// tells it), so that one set up before is not given a second identity when it is still on
// the bench.
class KnownModules {
public:
    enum class State { SetUp, Carrying, Started };
    struct Module {
        std::size_t unit; // of the batch, from 0
        std::string time; // the record's, 2026-12-08T14:03:22Z
        State state;
    };

    void Add(std::string_view address, Module module);
    // The module failed before it was sent its identity: it carries nothing (unless it was
    // set up before).
    void Forget(std::string_view address);
    const Module* Find(std::string_view address) const;
    // "this is module 2 of the record (000E0B000002), set up at 14:03: put the next one on";
    // of another batch of a shared record: "this is module 2 of batch lot41 (...)".
    static std::string Words(std::string_view address, const Module& module, std::string_view batch = {});

private:
    std::map<std::string, Module, std::less<>> modules_;
};

class Batch;

// A ledger's answer to a module that told its address (or did not), whatever keeps it.
struct Claimed {
    enum Kind {
        Unit,             // choice.unit is the module's, recorded as started
        Known,            // the module is one the ledger shows set up or carrying values: known, knownBatch
        CarriedElsewhere, // only units that wait for their own modules are left: choice.passedOver
        NoneLeft,         // every unit is taken
        Busy,             // free units are held by another session now: why
        Unreachable,      // the ledger's server cannot be had: why
        Refused,          // the ledger will not take the claim (a right, a full disk): why
    };
    Kind kind = Unreachable;
    Choice choice;
    KnownModules::Module known{};
    std::string knownBatch; // Known: another batch of the ledger's, or empty for this one
    std::string why;
};

// The ledger's rule over what a record shows: a module the record shows set up is sent
// nothing again, nor one carrying values unless retry; any other gets its unit by
// ChooseUnit, held for it in batch.
Claimed ClaimFromRecord(Batch& batch, const KnownModules& known, const std::string& port, std::string_view module,
                        bool retry);

class Batch {
public:
    // units: how many modules the batch sets up, each with a unit of values of its own.
    // recorded: per unit, what a record shows of it (empty: a new record).
    Batch(std::size_t units, const std::vector<Recorded>& recorded = {}, Carrying carrying = {});

    // A module is ready on port (its port appeared, or the user said so): the index of the
    // unit it gets, or nothing when every unit is set up or in flight, or the port is busy.
    std::optional<std::size_t> ModuleReady(const std::string& port);
    // The module on port told its address (empty: it did not): the unit it is given by
    // ChooseUnit, in place of the one ModuleReady held for the port; none when only units
    // that wait for their own modules are left (then the port holds nothing).
    Choice ModuleTold(const std::string& port, std::string_view module);
    // The session on port ended after sent commands (answered or not). A unit that was not
    // set up goes to the next module first, unless its failed module carries its identity:
    // then it is left out, a gap.
    void SessionEnded(const std::string& port, bool setUp, int sent = 0);
    // The module on port failed before it was given its unit (it did not answer AT, its
    // port failed): the unit goes to the next module, and the module counts as failed.
    void ModuleUnreached(const std::string& port);
    // The module on port was sent none of its list (it is one set up before): its unit
    // goes to the next module, and nothing failed.
    void Withdrawn(const std::string& port);
    // A record that benches share gave the module on port another unit than the one
    // offered: the offered one waits for the next module.
    void Reassign(const std::string& port, std::size_t unit);
    // A record that benches share has no unit left for the module on port: nothing more
    // is handed out here.
    void Exhausted(const std::string& port);
    bool Exhausted() const { return exhausted_; }
    // The user stops the batch: nothing more is handed out.
    void Stop() { stopped_ = stopAsked_ = true; }
    bool StopAsked() const { return stopAsked_; }
    // A bad lot: after this many modules in a row failed, the batch stops (0: never).
    void StopAfterFailuresInARow(std::size_t failures) { maxFailuresInARow_ = failures; }
    bool StoppedForFailures() const { return stoppedForFailures_; }

    bool Busy(const std::string& port) const { return inFlight_.count(port) != 0; }
    // The unit held for, or given to, the module on port.
    std::optional<std::size_t> InFlight(const std::string& port) const
    {
        const auto found = inFlight_.find(port);
        return found == inFlight_.end() ? std::nullopt : std::optional<std::size_t>(found->second);
    }
    bool Finished() const { return inFlight_.empty() && (stopped_ || (waiting_.empty() && retrying_.empty())); }
    std::size_t SetUpCount() const { return setUpCount_; }
    std::size_t Total() const { return total_; }
    // Units the record had set up before this run began.
    std::size_t Resumed() const { return resumed_; }
    // Units left out since a module that failed carries them: from the record, and this run.
    std::size_t Carried() const { return carried_; }
    // Modules of this run that failed.
    std::size_t FailedCount() const { return failedCount_; }
    // Units another bench was setting up as this run began.
    std::size_t InProgress() const { return inProgress_; }

private:
    std::size_t total_;
    bool Retried(std::size_t unit) const;
    void putBack(std::size_t unit);
    void failed();

    std::deque<std::size_t> waiting_;  // fresh units
    std::deque<std::size_t> retrying_; // carried units handed out again, each to its own module
    std::map<std::string, std::size_t> inFlight_;
    std::size_t setUpCount_ = 0;
    std::size_t resumed_ = 0;
    std::size_t carried_ = 0;
    std::size_t failedCount_ = 0;
    std::size_t inProgress_ = 0;
    std::vector<int> takenToCarry_;
    std::map<std::size_t, std::string> carriers_; // of the carried units handed out again
    std::vector<std::size_t> retried_;            // carried units handed out again, sorted: they stay carried
    std::size_t failuresInARow_ = 0;
    std::size_t maxFailuresInARow_ = 0;
    bool stoppedForFailures_ = false;
    bool stopped_ = false;
    bool stopAsked_ = false;
    bool exhausted_ = false;
};

} // namespace qz::batch
