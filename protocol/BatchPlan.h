#pragma once

// Planning a batch before any port opens: every module's values, counted ones too, pass
// the page's field limits and its generator; the record, read back, says which modules are
// set up already and must belong to this very batch. Its rows are made here too, so that
// the window and qzconfig write the same bytes. A refusal is a value that each front end
// words for its own user.

#include "Batch.h"
#include "PageModel.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qz::batch {

// Where each module's values come from: fields counted up together from the page's
// values (Lamp-01 with 000E0B000001, Lamp-02 with 000E0B000002), or the rows of a values
// file (a header of option names, then one row per module).
struct Source {
    std::vector<Field> counted;
    std::size_t modules = 0;
    bool fromValuesFile = false;
    std::string_view valuesText;
};

struct Refusal {
    enum Reason {
        ValuesFileEmpty,      // no header line
        UnknownColumn,        // value: the column's name
        ColumnTwice,          // value: the column's name
        NoRows,               // a header and nothing under it
        RowLength,            // line; value: the row's count of values; other: the header's
        NotCountable,         // field: the one asked to count (None when the page counts none)
        CannotCount,          // field, value: its first value; message: which forms count
        PassesTheTop,         // field, value: its first value; other: the largest value of its form
        TooLong,              // line or module, field, value; other: the field's limit in bytes
        PageRefused,          // line or module, field, value; message: the page's own
        RecordOfAnotherBatch, // value: the record's columns; other: this batch's
        RecordOtherValues,    // field, value: this batch's; other: the record's
        SameEverywhere,       // field: the identity's first; value: its value on every module
        SameIdentity,         // line or module, field, value: the later's; other: the earlier's line or module
        RecordUnreadable,     // line: of the record; value: the line as it stands (its first LongestQuote bytes, then "…")
        LineTooLong,          // line: of the values file; value: its first LongestQuote bytes, then "…"
    };
    Reason reason;
    std::size_t line = 0;   // of the values file, from 1; 0 where no line is at fault
    std::size_t module = 0; // of the counted batch, from 1; 0 where no module is at fault
    Field field = Field::None;
    std::string value;
    std::string other;
    std::string message;
    // PageRefused: how to mend the value, as the field's explanation says ("lower-case
    // letters: the address is written in capitals, 000E0B123456"); empty where it says none.
    std::string mend;
};

// No row of a values file or a record comes near these: a longer line is refused by its
// number without being kept, however long (a file of commas, say).
inline constexpr std::size_t LongestValuesLine = 4096;
inline constexpr std::size_t LongestRecordLine = 16384;
// A message quotes this many bytes of a line at most, then "…".
inline constexpr std::size_t LongestQuote = 80;
std::string QuotedLine(std::string_view line);

// A port whose last module in the record took its values, and what the record shows of it.
struct HeldPort {
    std::string port;
    KnownModules::State state;

    bool operator==(const HeldPort& other) const { return port == other.port && state == other.state; }
};

struct Plan {
    std::vector<Field> varying; // the counted fields, or the values file's columns
    Units units;                // each module's values, every field in the page's order
    // Per unit: what the record shows of it, and how many of its commands a module takes
    // before it carries the unit's identity (see Carrying).
    std::vector<Recorded> recorded;
    std::vector<int> takenToCarry;
    // Ports whose last module in the record took its values: it may be on the port still,
    // and must be swapped before the port takes its next.
    std::vector<HeldPort> portsHoldingAModule;
    // The modules the record shows set up or carrying values, by their own address.
    KnownModules known;
    // Per unit the record shows carried: the module that carries it, where it told its address.
    std::map<std::size_t, std::string> carriers;
    // What goes into the record before the first module's line: the header of a new or
    // empty record (or of one whose rows have the columns of an older version), or the
    // line break that a line cut short by a crash lacks.
    std::string opening;
};

std::variant<Plan, Refusal> PlanBatch(const PageSpec& page, const FieldValues& values, const Source& source,
                                      std::string_view recordText);

// Whether field is among fields.
bool Counts(const std::vector<Field>& fields, Field field);

// The fields whose value can count up on this page.
std::vector<const FieldSpec*> CountedFields(const PageSpec& page);

// One module's row: written "started" before it is sent anything, and again as it ends.
struct RecordRow {
    std::string time;
    std::string port;
    std::string module; // the module's own address, as it told it; empty when it did not
    Values unit;
    int sent = 0;  // commands of its list that left the port
    int taken = 0; // of them, the ones the module acknowledged
    int total = 0;
    std::string_view result = StartedResult;
    std::string message;
    bool carries = false; // failed, its module was sent its identity and keeps it
};

// The record's bytes: its header line, and one module's line. A row is one physical line:
// a line break in a field is written as a space.
std::string RecordHeaderLine(const PageSpec& page);
std::string RecordLine(const RecordRow& row);

// A module's identity as its commands set it: the lines of its page's identity commands;
// empty on a page without one.
std::string IdentityOf(const PageSpec& page, const std::vector<std::string>& commands);

// A unit's list, as its page makes it of its values (planning checked that it does), and
// the commands alone.
CommandList ListOf(const PageSpec& page, const Values& unit);
std::vector<std::string> CommandsOf(const PageSpec& page, const Values& unit);

// A unit's value of one field.
std::string ValueOf(const PageSpec& page, const Values& unit, Field field);

} // namespace qz::batch
