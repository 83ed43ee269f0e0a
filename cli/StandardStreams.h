#pragma once

// qzconfig's own standard output and error: written at once, and a failure of standard
// output remembered with its reason.

#include <string>

namespace qz::cli {

// Writes and flushes text on standard output; false once a write has failed.
bool WriteOut(const std::string& text);
// Writes and flushes text on standard error.
void WriteErr(const std::string& text);
// Whether a write to standard output failed.
bool OutputFailed();
// Says why standard output failed, on standard error, and gives exit status 3.
int CannotWriteOutput();

} // namespace qz::cli
