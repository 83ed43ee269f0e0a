#include "BatchPlan.h"

#include <algorithm>
#include <optional>

namespace qz::batch {

namespace {

constexpr const char* recordLeadColumns[] = {"time", "port"};
constexpr const char* recordTrailColumns[] = {"taken", "total", "result", "message"};

// One module's values before the page has looked at them: where they came from, and what
// they are.
struct Module {
    std::size_t line; // of the values file; 0 for a counted module
    std::size_t number;
    FieldValues values;
};

Refusal refusal(Refusal::Reason reason, const Module* module = nullptr)
{
    Refusal refused{reason, 0, 0, Field::None, {}, {}, {}};
    if (module != nullptr) {
        refused.line = module->line;
        refused.module = module->line == 0 ? module->number : 0;
    }
    return refused;
}

bool isBlankRecord(const std::vector<std::string>& fields)
{
    return fields.size() == 1 && fields[0].empty();
}

std::variant<std::vector<Module>, Refusal> countedModules(const PageSpec& page, const FieldValues& values,
                                                          const Source& source, std::vector<Field>& varying)
{
    const FieldSpec* counted = FindField(page, source.counted);
    if (counted == nullptr || counted->counting == Counting::None) {
        Refusal refused = refusal(Refusal::NotCountable);
        refused.field = source.counted;
        return refused;
    }
    const std::string& first = values.at(counted->field);
    const CountedValues counting = CountValues(counted->counting, first, source.modules);
    if (!counting.problem.empty()) {
        Refusal refused = refusal(counting.top.empty() ? Refusal::CannotCount : Refusal::PassesTheTop);
        refused.field = counted->field;
        refused.value = first;
        refused.other = counting.top;
        refused.message = counting.problem;
        return refused;
    }
    varying = {counted->field};
    std::vector<Module> modules;
    for (const std::string& value : counting.values) {
        modules.push_back({0, modules.size() + 1, values});
        modules.back().values[counted->field] = value;
    }
    return modules;
}

std::variant<std::vector<Module>, Refusal> listedModules(const PageSpec& page, const FieldValues& values,
                                                         std::string_view text, std::vector<Field>& varying)
{
    std::size_t offset = 0;
    std::vector<std::string> columns;
    if (!ReadCsvRecord(text, offset, columns) || isBlankRecord(columns))
        return refusal(Refusal::ValuesFileEmpty);
    for (const std::string& column : columns) {
        const FieldSpec* field = FindField(page, column);
        Refusal refused = refusal(Refusal::UnknownColumn);
        refused.value = column;
        if (field == nullptr || field->kind == FieldKind::Flag)
            return refused;
        if (std::count(columns.begin(), columns.end(), column) > 1) {
            refused.reason = Refusal::ColumnTwice;
            return refused;
        }
        varying.push_back(field->field);
    }
    std::vector<Module> modules;
    std::vector<std::string> row;
    for (std::size_t line = 2; ReadCsvRecord(text, offset, row); ++line) {
        if (isBlankRecord(row))
            continue;
        Module module{line, modules.size() + 1, values};
        if (row.size() != columns.size()) {
            Refusal refused = refusal(Refusal::RowLength, &module);
            refused.value = std::to_string(row.size());
            refused.other = std::to_string(columns.size());
            return refused;
        }
        for (std::size_t at = 0; at < row.size(); ++at)
            module.values[varying[at]] = row[at];
        modules.push_back(std::move(module));
    }
    if (modules.empty())
        return refusal(Refusal::NoRows);
    return modules;
}

// What the page's button and its edits say of one module's values, as the window would.
std::optional<Refusal> pageRefusal(const PageSpec& page, const Module& module, GeneratorResult& result)
{
    for (const FieldSpec& field : page.fields) {
        const std::string& value = module.values.at(field.field);
        Refusal refused = refusal(Refusal::TooLong, &module);
        refused.field = field.field;
        refused.value = value;
        if (field.kind == FieldKind::Text && value.size() > field.maxBytes) {
            refused.other = std::to_string(field.maxBytes);
            return refused;
        }
        if (field.kind == FieldKind::UUIDType && value != "16" && value != "128") {
            refused.reason = Refusal::PageRefused;
            refused.message = "the UUID type is 16 or 128";
            return refused;
        }
    }
    result = page.generate(module.values);
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        Refusal refused = refusal(Refusal::PageRefused, &module);
        refused.field = rejection->field;
        const auto value = module.values.find(rejection->field);
        refused.value = value != module.values.end() ? value->second : std::string();
        refused.message = rejection->message;
        return refused;
    }
    return std::nullopt;
}

Values unitOf(const PageSpec& page, const FieldValues& values)
{
    Values unit;
    for (const FieldSpec& field : page.fields)
        unit.push_back(values.at(field.field));
    return unit;
}

std::vector<std::string> recordHeader(const PageSpec& page)
{
    std::vector<std::string> header(std::begin(recordLeadColumns), std::end(recordLeadColumns));
    for (const FieldSpec& field : page.fields)
        header.emplace_back(field.option);
    header.insert(header.end(), std::begin(recordTrailColumns), std::end(recordTrailColumns));
    return header;
}

// Reads the record back: which units it shows set up, after checking that it records
// this batch, its columns and the values that stay the same from module to module.
std::optional<Refusal> readRecord(const PageSpec& page, const FieldValues& values, std::string_view text, Plan& plan)
{
    if (text.find_first_not_of(" \r\n") == std::string_view::npos) {
        plan.opening = RecordHeaderLine(page);
        return std::nullopt;
    }
    if (text.back() != '\n')
        plan.opening = "\n";
    const std::vector<std::string> header = recordHeader(page);
    std::size_t offset = 0;
    std::vector<std::string> fields;
    ReadCsvRecord(text, offset, fields);
    if (fields != header) {
        Refusal refused = refusal(Refusal::RecordOfAnotherBatch);
        refused.value = CsvLine(fields).substr(0, CsvLine(fields).size() - 1);
        refused.other = CsvLine(header).substr(0, CsvLine(header).size() - 1);
        return refused;
    }
    const std::size_t first = std::size(recordLeadColumns);
    const std::size_t resultColumn = header.size() - 2;
    while (ReadCsvRecord(text, offset, fields)) {
        if (fields.size() != header.size())
            continue; // a line cut short by a crash: the module in flight, never recorded
        const Values unit(fields.begin() + static_cast<std::ptrdiff_t>(first),
                          fields.begin() + static_cast<std::ptrdiff_t>(first + page.fields.size()));
        for (std::size_t at = 0; at < page.fields.size(); ++at) {
            const Field field = page.fields[at].field;
            const bool varies = std::find(plan.varying.begin(), plan.varying.end(), field) != plan.varying.end();
            if (!varies && unit[at] != values.at(field)) {
                Refusal refused = refusal(Refusal::RecordOtherValues);
                refused.field = field;
                refused.value = values.at(field);
                refused.other = unit[at];
                return refused;
            }
        }
        if (fields[resultColumn] == SetUpResult)
            plan.setUp.push_back(unit);
    }
    return std::nullopt;
}

} // namespace

std::variant<Plan, Refusal> PlanBatch(const PageSpec& page, const FieldValues& given, const Source& source,
                                      std::string_view recordText)
{
    FieldValues values = InitialValues(page);
    for (const auto& [field, value] : given)
        values[field] = value;
    Plan plan;
    std::variant<std::vector<Module>, Refusal> modules = source.fromValuesFile
        ? listedModules(page, values, source.valuesText, plan.varying)
        : countedModules(page, values, source, plan.varying);
    if (const auto* refused = std::get_if<Refusal>(&modules))
        return *refused;
    for (const Module& module : std::get<std::vector<Module>>(modules)) {
        GeneratorResult result;
        if (std::optional<Refusal> refused = pageRefusal(page, module, result))
            return *refused;
        plan.units.push_back(unitOf(page, module.values));
        plan.commands.push_back(std::get<CommandList>(result).commands);
    }
    if (std::optional<Refusal> refused = readRecord(page, values, recordText, plan))
        return *refused;
    return plan;
}

std::vector<const FieldSpec*> CountedFields(const PageSpec& page)
{
    std::vector<const FieldSpec*> counted;
    for (const FieldSpec& field : page.fields) {
        if (field.counting != Counting::None)
            counted.push_back(&field);
    }
    return counted;
}

std::string RecordHeaderLine(const PageSpec& page)
{
    return CsvLine(recordHeader(page));
}

std::string RecordLine(const std::string& time, const std::string& port, const Values& unit, int taken, int total,
                       bool setUp, const std::string& message)
{
    std::vector<std::string> row = {time, port};
    row.insert(row.end(), unit.begin(), unit.end());
    row.insert(row.end(), {std::to_string(taken), std::to_string(total),
                           std::string(setUp ? SetUpResult : FailedResult), message});
    return CsvLine(row);
}

const std::string& ValueOf(const PageSpec& page, const Values& unit, Field field)
{
    for (std::size_t at = 0; at < page.fields.size(); ++at) {
        if (page.fields[at].field == field)
            return unit.at(at);
    }
    static const std::string none;
    return none;
}

} // namespace qz::batch
