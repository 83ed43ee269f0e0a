#pragma once

#include "FieldRules.h"

#include <string_view>

namespace qz {

// The iBeacon list from the beacon UUID and the major and minor values (four hex digits,
// or five decimal digits).
GeneratorResult BuildBeaconList(std::string_view uuidText, std::string_view majorText, std::string_view minorText);

} // namespace qz
