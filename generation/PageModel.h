#pragma once

// Each page of the program, described once: its fields in order, what each holds, its
// option name on the command line, its initial text and limit, how it counts from one
// module to the next in a batch, how it is explained, and the page's generator. The
// window and qzconfig both read their fields, options, marks and batch columns from here.

#include "FieldExplanations.h"
#include "FieldRules.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

enum class FieldKind {
    Text,     // an edit
    UUIDType, // the study page's drop-down list: "16" or "128"
    Flag,     // a check box: "yes" or "no"
};

// How a counted field's value goes from one module to the next.
enum class Counting {
    None,
    BeaconNumber, // four hex digits (00FE, 00FF, 0100) or five decimal digits
    Address,      // twelve hex digits
    NameDigits,   // the digits at the end of a name (Lamp-09, Lamp-10)
};

inline constexpr std::string_view FlagOn = "yes";
inline constexpr std::string_view FlagOff = "no";

// A page's values, every field's text as it stands (not yet trimmed).
using FieldValues = std::map<Field, std::string>;

struct FieldSpec {
    Field field;
    FieldKind kind;
    std::string_view option;  // qzconfig's --OPTION, and the record's column
    std::string_view initial; // the control's initial text or state
    std::size_t maxBytes;     // what the edit holds; 0 for a choice or a check box
    std::string_view help;    // a few words for qzconfig's option list
    Counting counting;
    std::string_view countingWords; // "the major value": what counts up, for the window's list
    FieldExplanation (*explain)(const FieldValues& values);
};

// What tells one set-up module from another, so that no two get it: these fields, read as
// the commands that set them write them (00FE and 00254 are one minor). None on a page
// whose modules are told nothing to tell them apart.
struct Identity {
    std::vector<Field> fields;
    std::vector<std::string_view> commandWords; // the commands that set them
    // The identity is the module's own address: asked its address once set up, the
    // module answers the value it was given.
    bool isModuleAddress = false;
};

struct PageSpec {
    std::string_view name; // qzconfig's subcommand
    std::string_view summary;
    std::vector<FieldSpec> fields;
    GeneratorResult (*generate)(const FieldValues& values);
    std::string_view example; // a qzconfig command line
    // The module advertises once set up; the study page's becomes a central and does not.
    bool advertises = true;
    Identity identity = {};
};

// The pages' names: qzconfig's subcommands, and what the window's buttons look up.
inline constexpr std::string_view StudyPage = "study";
inline constexpr std::string_view BeaconPage = "ibeacon";
inline constexpr std::string_view BroadcastPage = "broadcast";

// The three pages, in qzconfig's order: study, ibeacon, broadcast.
const std::vector<PageSpec>& Pages();
const PageSpec* FindPage(std::string_view name);
const FieldSpec* FindField(const PageSpec& page, std::string_view option);
const FieldSpec* FindField(const PageSpec& page, Field field);
// Every field at its initial text or state.
FieldValues InitialValues(const PageSpec& page);
// Whether a check box's value is on ("yes"); a missing value is off.
bool IsFlagOn(const FieldValues& values, Field field);

} // namespace qz
