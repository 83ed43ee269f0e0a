#pragma once

#include "FieldRules.h"

#include <string_view>

namespace qz {

// The broadcast list from the device name, the 12-digit address and the advertising and
// scan-response packages. With sameAsAdvert the scan-response text is neither tested nor
// used. The packages must come from edits of at most 64 characters: padding relies on it.
GeneratorResult BuildBroadcastList(std::string_view name, std::string_view address, std::string_view advert,
                                   std::string_view scan, bool sameAsAdvert);

} // namespace qz
