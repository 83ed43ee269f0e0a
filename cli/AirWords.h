#pragma once

// What qzconfig prints of a check over the air and of a scan: the matcher's words, or the
// same as JSON for scripts.

#include "AirMatch.h"

#include <string>
#include <vector>

namespace qz::cli {

std::string AirVerdictText(const air::Verdict& verdict, int seconds, bool json);
std::string ScanText(const std::vector<air::HeardDevice>& devices, int seconds, bool json);

} // namespace qz::cli
