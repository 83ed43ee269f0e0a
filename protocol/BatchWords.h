#pragma once

// The batch's sentences that both shells say, each written once. A shell escapes what it
// shows, adds its own full stop and names a module's values as its user knows them
// (qzconfig: --minor=00FF; the window: iBeacon Minor 00FF).

#include "Batch.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace qz::batch {

// "Module on /dev/ttyUSB0: --minor=00FF"
std::string ModuleOnWords(std::string_view port, std::string_view values);
// "The module did not tell its own address (it did not answer ...): the record cannot
// tell it from another"
std::string UntoldWords(std::string_view why);
// "Sent nothing: this is module 2 of the record (...), set up at 14:03: put the next one on"
std::string SentNothingWords(std::string_view why);
// "Cannot open /dev/ttyUSB0: busy: another program holds it; trying again every second"
std::string PortUnopenedWords(std::string_view port, std::string_view why);
// "The record shows a module on /dev/ttyUSB0 that failed, carrying its values"
std::string HeldWords(std::string_view port, KnownModules::State state);
// "The record shows 2 more taken by modules that failed or were cut short: ..."
std::string LeftOutWords(std::size_t carried, std::string_view retryOption);
// "The record shows 1 more being set up on other benches now"
std::string InProgressWords(std::size_t units);
// "40 of 40 claimed, 38 set up, 1 failed, 1 cut short (their modules may carry them)": a
// shared batch's counts; cut short and in progress only where there are some.
std::string LineCountsWords(int claimed, int total, int setUp, int failed, int cutShort, int inProgress);
// "minor 10127 is carried by 000E0B12345E: put it on to finish it"
std::string CarriedElsewhereWords(std::string_view values, std::string_view carrier);
// "minor 10127 was left carried by a module that did not tell its address: this module
// takes it, as retrying the failed modules asks"
std::string UnknownCarrierWords(std::string_view values);

} // namespace qz::batch
