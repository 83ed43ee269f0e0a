#pragma once

// qzconfig console, discover and connect: talking with the module on its port.

#include "CommandLine.h"

namespace qz::cli {

int RunConsole(int argc, char** argv, const ConsoleRequest& request);
int RunDiscover(int argc, char** argv, const DiscoverRequest& request);
int RunConnect(int argc, char** argv, const ConnectRequest& request);

} // namespace qz::cli
