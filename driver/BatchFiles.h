#pragma once

// A batch's files, before any port opens: its values file and its record must be regular
// files that can be read (a record may also not exist yet, in a folder that does). A
// device, a FIFO or a folder would hang the batch or fill the memory.

#include "BatchReport.h"

#include <string>

namespace qz {

enum class BatchFile { Values, Record };

// Why the batch cannot take path as this file, in words ("a folder, not a file"); empty
// when it can. A values file that is missing or cannot be read is left to its reading.
std::string BatchFileProblem(const std::string& path, BatchFile kind);

// What a batch did, one row per module, from its record file or its database (record as
// a batch's --record takes it); why not, in words.
std::string ReadBatchReport(const std::string& record, batch::Report& report);

} // namespace qz
