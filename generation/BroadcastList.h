#pragma once

#include "FieldRules.h"

#include <string_view>

namespace qz {

inline constexpr std::string_view DeviceAddressMessage = "Please input correct MAC value!";

// The device name as the broadcast button reads it, trimmed: Empty, or Characters when it
// holds a line break, which would split the name command in two.
FieldCheck CheckDeviceName(std::string_view text);
// The device address, trimmed: Length unless 12 characters, then Characters unless they
// are all hex digits; lower-case letters are not.
FieldCheck CheckDeviceAddress(std::string_view text);

// The broadcast list from the device name, the 12-digit address and the advertising and
// scan-response packages. With sameAsAdvert the scan-response text is neither tested nor
// used. The packages must come from edits of at most 64 characters: padding relies on it.
GeneratorResult BuildBroadcastList(std::string_view name, std::string_view address, std::string_view advert,
                                   std::string_view scan, bool sameAsAdvert);

} // namespace qz
