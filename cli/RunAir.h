#pragma once

// Listening over the air from qzconfig: verify, scan, and --verify after a send.

#include "AirCheck.h"
#include "CommandLine.h"

namespace qz::cli {

// Listens with check (the caller's, so that an interruption can stop it) for the module
// the expectation describes, prints the verdict and gives the exit status: Listed when
// heard as set, NotHeardAsSet otherwise, SendFailed when nothing can listen. Needs a
// running application object.
int ListenAndTell(AirCheck& check, const air::Expectation& expectation, const AirSettings& settings);

int RunVerify(int argc, char** argv, const VerifyRequest& request);
int RunScan(int argc, char** argv, const AirSettings& settings);

} // namespace qz::cli
