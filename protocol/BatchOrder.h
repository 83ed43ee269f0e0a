#pragma once

// What the user asks of a batch, and its options described once: qzconfig parses its
// options straight into a BatchOrder by this table, and the window labels and bounds its
// controls by it.

#include "PageModel.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// What a batch does when nothing can listen any more: stop, or wait for the radio.
enum class RadioLoss { Stop, Pause };

struct BatchOrder {
    const PageSpec* page = nullptr;
    FieldValues values;         // the page's values, given or initial
    std::vector<Field> counted; // counted up together, for modules modules; empty: the values file's rows
    std::size_t modules = 0;
    std::string valuesFile;
    std::string recordFile;            // may be empty for a dry run
    bool retryFailed = false;          // the modules the record shows failed are back on the bench
    std::size_t maxFailuresInARow = 0; // then the batch stops; 0: never
    bool verify = false;               // listen for each module over the air
    int listenSeconds = 0;             // 0: the matcher's default
    std::string adapter;               // empty: the first that is on
    RadioLoss onRadioLoss = RadioLoss::Stop;
    // A shared record's server gone: stop, or wait for it (the window does).
    RadioLoss onRecordLoss = RadioLoss::Stop;
};

enum class BatchOptionKind {
    Number,  // a whole number from least to most
    Counted, // the page's options counted up together, "name,address"
    File,    // a path
    Flag,    // given or not
};

// One option of a batch: qzconfig's --OPTION and its help, the window's caption and
// tooltip, and the member of BatchOrder it fills.
struct BatchOptionSpec {
    std::string_view option;
    BatchOptionKind kind;
    bool makesABatch; // given, the page's list goes to many modules, not one
    std::size_t least;
    std::size_t most;
    std::string_view help;
    std::string_view caption;
    std::string_view description;
    std::size_t BatchOrder::*number;
    std::string BatchOrder::*text;
    bool BatchOrder::*flag;
};

const std::vector<BatchOptionSpec>& BatchOptions();
const BatchOptionSpec& BatchOption(std::string_view option);

// The option's value given as text into order, as the table says; false when text is no
// such value (a number out of its bounds, an option that does not count up on the page).
bool FillBatchOption(const BatchOptionSpec& batchOption, const std::string& text, BatchOrder& order);
// "name,address" as the options it names, in order.
std::vector<std::string> CountedNames(const std::string& list);

} // namespace qz
