#pragma once

#include <functional>

namespace qz::cli {

// Ctrl-C (and, on Unix, SIGTERM) reach onInterrupt on the Qt event loop, with the exit
// status the program should end with: 130 for an interrupt, 143 for a termination. A
// second Ctrl-C ends the program at once. Call once, after the application object exists.
void WatchInterruptions(std::function<void(int exitStatus)> onInterrupt);

} // namespace qz::cli
