#pragma once

// What a batch did, one row per module, its last word: the values it was given, its own
// address, where and when it was set up, the result and what listening found. Read from a
// record file's rows here; a shared record gives the same rows from its server. Written as
// CSV that a spreadsheet opens as it is.

#include "Batch.h"

#include <string>
#include <string_view>
#include <vector>

namespace qz::batch {

struct ReportRow {
    Values values;       // as the record's columns name them
    std::string module;  // its own address; empty when it did not tell it
    std::string bench;   // a shared record's bench; empty for a file
    std::string port;
    std::string started; // ISO 8601, UTC
    std::string ended;   // empty when it never ended (a crash, a kill): it may carry its values
    std::string result;  // set up, failed, started
    std::string message; // how its list went
    std::string air;     // what listening found, where it listened
};

struct Report {
    std::vector<std::string> fields; // the values' column names, in the page's order
    std::vector<ReportRow> rows;
};

// A record file's text as a report; why not, in words (it is no record).
std::string ReadReport(std::string_view recordText, Report& report);

// Splits a record's message into how the list went and what listening found.
void SplitMessage(std::string_view message, ReportRow& row);

// The report as CSV: a header, then a row per module, quoted where needed.
std::string ReportCsv(const Report& report);

} // namespace qz::batch
