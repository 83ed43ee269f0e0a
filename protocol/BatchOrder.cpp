#include "BatchOrder.h"

#include "FieldRules.h"

#include <algorithm>

namespace qz {

const std::vector<BatchOptionSpec>& BatchOptions()
{
    using K = BatchOptionKind;
    using O = BatchOrder;
    static const std::vector<BatchOptionSpec> options = {
        {"modules", K::Number, true, 1, 99999, "set up this many modules, one after another", "Modules",
         "How many modules to set up", &O::modules, nullptr, nullptr},
        {"count", K::Counted, true, 0, 0, "count up per module:", "Each module gets",
         "What makes each module differ: a field counted up, or a row of a CSV file", nullptr, nullptr, nullptr},
        {"values", K::File, true, 0, 0, "each module's values from this CSV file", "Values file",
         "A CSV file: a header of options (name,address), then a row per module", nullptr, &O::valuesFile, nullptr},
        {"record", K::File, true, 0, 0, "append each module's result to this CSV file (or postgresql://...)", "Record file",
         "Each module's result is added to this CSV file; run the same batch again to finish it. A line of benches "
         "gives all its benches one postgresql://HOST/DBNAME?batch=NAME instead", nullptr,
         &O::recordFile, nullptr},
        {"retry-failed", K::Flag, false, 0, 0, "the modules the record shows failed are back: set them up again",
         "Retry failed modules",
         "The modules the record shows failed after taking their values are back on the bench: set them up again, "
         "first. Unticked, their values are left out, so that no two modules carry them.",
         nullptr, nullptr, &O::retryFailed},
        {"max-failures", K::Number, false, 1, 99999, "stop the batch once this many modules in a row failed",
         "Stop after failures in a row",
         "A bad lot, a loose fixture or a wrong setting fails every module: stop the batch once this many modules in "
         "a row failed",
         &O::maxFailuresInARow, nullptr, nullptr},
    };
    return options;
}

const BatchOptionSpec& BatchOption(std::string_view option)
{
    const auto& options = BatchOptions();
    return *std::find_if(options.begin(), options.end(),
                         [option](const BatchOptionSpec& batchOption) { return batchOption.option == option; });
}

std::vector<std::string> CountedNames(const std::string& list)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t comma = list.find(',');; comma = list.find(',', start)) {
        names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return names;
        start = comma + 1;
    }
}

bool FillBatchOption(const BatchOptionSpec& batchOption, const std::string& text, BatchOrder& order)
{
    switch (batchOption.kind) {
    case BatchOptionKind::Number: {
        if (text.empty() || text.size() > 5 || !AllDecimalDigits(text))
            return false;
        const std::size_t number = DecimalValue(text);
        order.*batchOption.number = number;
        return number >= batchOption.least && number <= batchOption.most;
    }
    case BatchOptionKind::Counted:
        order.counted.clear();
        for (const std::string& name : CountedNames(text)) {
            const FieldSpec* field = order.page != nullptr ? FindField(*order.page, std::string_view(name)) : nullptr;
            if (field == nullptr || field->counting == Counting::None)
                return false;
            order.counted.push_back(field->field);
        }
        return true;
    case BatchOptionKind::File: order.*batchOption.text = text; return !text.empty();
    case BatchOptionKind::Flag: order.*batchOption.flag = true; return true;
    }
    return false;
}

} // namespace qz
