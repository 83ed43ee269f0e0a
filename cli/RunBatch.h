#pragma once

#include "CommandLine.h"

namespace qz::cli {

// Sets up the batch's modules on its ports, records each module's result, prints every
// transcript (each line after its port when there are several) and the summary; gives the
// exit status.
int RunBatch(int argc, char** argv, const BatchRequest& request);

// qzconfig line: the shared batch's state, as text or JSON.
int RunLine(int argc, char** argv, const LineRequest& request);

// qzconfig report: one row per module of a batch, as CSV or JSON.
int RunReport(int argc, char** argv, const ReportRequest& request);

// status, once the run is over; should a call to the record's server have been given up
// (its thread may wait on it yet), the process ends here with it, its output flushed,
// before anything that thread uses is torn down.
int LeavingAbandonedCalls(int status);

} // namespace qz::cli
