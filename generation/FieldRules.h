#pragma once

// The text operations that every generator builds on. Texts are byte strings as the
// edits deliver them; every operation returns a new text and leaves its argument alone.
// Bytes are compared as unsigned values and no locale is consulted anywhere: a byte
// 0xA0 is never white space and a byte 0xE9 is never a letter.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qz {

// What a module that took a list advertises, as the generator that wrote the list knows
// it: what to listen for, kept beside the list rather than read back out of its commands.
struct Advertised {
    enum class Kind { Nothing, Beacon, Broadcast };
    Kind kind = Kind::Nothing;
    // An iBeacon: its UUID as 32 hex digits, its major and minor as sent.
    std::string beaconUUID;
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    // A broadcast module: its address (12 hex digits), its own name, and its advertising
    // package and scan response as hex digits, as AT+Z carries them.
    std::string address;
    std::string name;
    std::string advertPackage;
    std::string scanResponse;
    // The list ends without AT+RESET: some settings take effect only after a restart.
    bool restartNeeded = false;
};

// The lines a generator produces, first line first. An empty line is an empty entry;
// no entry holds a line break. Beside the lines it keeps, in order, the commands that go
// to the module: each command line's command without its note, and nothing of the
// comments, separators or guides. The generator that writes a line knows whether it is a
// command, so nothing has to be guessed from the text later. Comparing two lists
// compares their lines.
struct CommandList : std::vector<std::string> {
    using std::vector<std::string>::vector;

    std::vector<std::string> commands;
    Advertised advertised;
};

// The fields of the pages, named for what they hold. A Rejection names one of the edits;
// the window maps each field to its control, and qzconfig to its option.
enum class Field {
    None,
    StudyUUIDType,
    StudyNotify,
    StudyWrite,
    BeaconUUID,
    BeaconMajor,
    BeaconMinor,
    DeviceName,
    DeviceAddress,
    AdvertPackage,
    ScanPackage,
    SameAsAdvert,
};

// A generator's refusal: the fixed message shown to the user and the edit to focus.
struct Rejection {
    std::string message;
    Field field = Field::None;

    bool operator==(const Rejection& other) const
    {
        return message == other.message && field == other.field;
    }
};

using GeneratorResult = std::variant<CommandList, Rejection>;

// How far one field's text gets through its own checks, in the order its page's button
// makes them. A generator reads each field through its check and refuses the first
// failure in the page's order; an explanation of one field reads it through the same
// check, so the two can never disagree.
enum class FieldCheck { Empty, Characters, Length, Value, Passed };

// A UUID field as a button reads it: trimmed, upper-cased, without its dashes, then hex
// digits of the wanted count (Empty, Characters, Length or Passed).
struct UUIDReading {
    FieldCheck check;
    std::string digits;
};
UUIDReading ReadUUID(std::string_view text, std::size_t digitCount);

// Passes over every byte of code 32 or below at both ends; inner bytes stay.
std::string TrimField(std::string_view text);
// The same cut as a view into text, for callers that only read the result.
std::string_view TrimmedView(std::string_view text);

// "a" to "z" become "A" to "Z"; every other byte, 128 to 255 included, stays.
// Takes its text by value, so that a caller done with its copy can hand it over.
std::string UpperCase(std::string text);
// "A" to "Z" become "a" to "z", as UpperCase does the other way.
std::string LowerCase(std::string text);

// Takes out every "-" and closes up the rest. By value, as UpperCase.
std::string RemoveDashes(std::string text);

// "0" to "9" and upper-case "A" to "F" only.
bool IsHexDigit(char c);
// "0" to "9" only.
bool IsDecimalDigit(char c);

bool AllHexDigits(std::string_view text);
bool AllDecimalDigits(std::string_view text);

// A Bluetooth device address as the modules write it: twelve hex digits in capitals.
inline constexpr std::size_t DeviceAddressDigits = 12;
bool IsDeviceAddress(std::string_view digits);
// An address as a person or a module may write it (12 hex digits, in pairs with colons or
// without, in any case): its 12 digits in capitals, or nothing.
std::optional<std::string> AddressDigitsOf(std::string_view text);
// "00:17:EA:09:43:AE", the way BlueZ and most tools show an address.
std::string ColonAddress(std::string_view digits);

// Base-16 value of one to eight hex digits. Callers test the text first; anything else
// is their fault and throws std::invalid_argument.
std::uint32_t HexValue(std::string_view digits);

// Base-10 value of decimal digits up to 2147483647; the same contract as HexValue.
std::uint32_t DecimalValue(std::string_view digits);

// Upper-case base-16 digits of value, zero-padded to at least minDigits (0 to 32; any
// other count is taken as 0). A value that needs more digits is written in full.
std::string HexText(std::uint32_t value, int minDigits);

// At most count bytes from the 1-based start position; out-of-range parts are clipped.
std::string SubText(std::string_view text, int start, int count);
// The same cut as a view into text.
std::string_view SubTextView(std::string_view text, int start, int count);

} // namespace qz
