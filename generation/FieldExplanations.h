#pragma once

// How each field's text will be read, in words, as the user types it: taken, taken but in
// a way people often misread, or refused, with the reason and the mend. The verdict comes
// from the same check the page's button makes, so a field explained as taken is never the
// one the button refuses, and the other way round.

#include "FieldRules.h"

#include <string>
#include <string_view>
#include <vector>

namespace qz {

// Taken, Notice and Refused are a text's; Setting is the state of a choice or a check box;
// Unused says that another control's state keeps the field from being read.
enum class FieldVerdict { Taken, Notice, Refused, Setting, Unused };

struct FieldExplanation {
    FieldVerdict verdict;
    std::string text;                 // one line
    std::vector<std::string> details; // more lines, where there is more to show (a package)
    // The field the text speaks of, which each front end names in its own words: the
    // text then follows that name ("is sent as the scan response").
    Field about = Field::None;
};

// The notify or write characteristic in the form the UUID type index chooses.
FieldExplanation ExplainCharacteristic(int uuidTypeIndex, std::string_view text);
FieldExplanation ExplainBeaconUUID(std::string_view text);
// A major or minor value.
FieldExplanation ExplainBeaconNumber(std::string_view text);
FieldExplanation ExplainDeviceName(std::string_view text);
FieldExplanation ExplainDeviceAddress(std::string_view text);
// An advertising or scan-response package: its structures are the details.
FieldExplanation ExplainPackage(std::string_view text);

} // namespace qz
