#pragma once

// What qzconfig needs of its process from the operating system: its standard descriptors,
// broken pipes and interruptions. One implementation per system, chosen by CMake.

#include <cstddef>
#include <functional>

namespace qz::cli {

inline constexpr int InterruptStatus = 128 + 2;   // SIGINT, or Ctrl-C on Windows
inline constexpr int TerminationStatus = 128 + 15; // SIGTERM

// A descriptor closed by whoever started us would be taken by the next file opened (the
// port's lock file, say), and the transcript would land there: /dev/null takes its place.
void OpenMissingStandardDescriptors();
// While sending, a closed pipe is an output failure like any other: the session stops
// cleanly instead of the program dying in the middle of it.
void IgnoreBrokenPipes();
// Ctrl-C (and, on Unix, SIGTERM) reach onInterrupt on the Qt event loop, with the exit
// status the program should end with: InterruptStatus or TerminationStatus. A second
// Ctrl-C ends the program at once. Call once, after the application object exists.
void WatchInterruptions(std::function<void(int exitStatus)> onInterrupt);
// Waits for standard input and takes what has come, up to size bytes, as soon as there is
// any: the count, 0 at the end of input (or on a read error).
std::size_t ReadStandardInput(char* buffer, std::size_t size);

} // namespace qz::cli
