#pragma once

#include "FieldRules.h"

#include <string>
#include <string_view>

namespace qz {

inline constexpr std::size_t BeaconUUIDDigits = 32;
// A major or minor is written in one of two forms, told apart by its length alone.
inline constexpr std::size_t BeaconHexDigits = 4;
inline constexpr std::size_t BeaconDecimalDigits = 5;
inline constexpr std::string_view BeaconMajorMessage = "Please input correct iBeacon Major value!";
inline constexpr std::string_view BeaconMinorMessage = "Please input correct iBeacon Minor value!";

// The beacon UUID as the iBeacon button reads it: 32 hex digits.
UUIDReading ReadBeaconUUID(std::string_view text);

// The iBeacon list from the beacon UUID and the major and minor values (four hex digits,
// or five decimal digits).
GeneratorResult BuildBeaconList(std::string_view uuidText, std::string_view majorText, std::string_view minorText);

// How the iBeacon button reads one major or minor text. Four decimal digits are read as
// hex, which is rarely what was meant, so they are told apart from a plain hex value.
enum class ValueReading { Hex, Decimal, FourDecimalDigits, Refused };

struct ValueExplanation {
    ValueReading reading;
    std::string text; // "04D2 is read as hex: 1234, sent as 0x04D2", or why it is refused
};

ValueExplanation ExplainBeaconValue(std::string_view text);

} // namespace qz
