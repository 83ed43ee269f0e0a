#pragma once

// What qzconfig prints of a check over the air and of a scan: the matcher's words, or the
// same as JSON for scripts.

#include "AirMatch.h"

#include <string>
#include <vector>

namespace qz::cli {

std::string AirVerdictText(const air::Verdict& verdict, int seconds, bool json);
// Why nothing could be heard: for standard error, or as the JSON answer a script reads
// whatever the end.
std::string CannotListenText(const std::string& why, bool json);
// Says it where a script looks for it (standard output for JSON, standard error else):
// the exit status.
int TellCannotListen(const std::string& why, bool json);
std::string ScanText(const std::vector<air::HeardDevice>& devices, int seconds, bool json);

} // namespace qz::cli
