#include "BatchPlan.h"

#include <algorithm>
#include <map>
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
    std::vector<Module> modules;
    for (std::size_t number = 1; number <= source.modules; ++number)
        modules.push_back({0, number, values});
    for (Field field : source.counted) {
        const FieldSpec* counted = FindField(page, field);
        if (counted == nullptr || counted->counting == Counting::None) {
            Refusal refused = refusal(Refusal::NotCountable);
            refused.field = field;
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
        varying.push_back(counted->field);
        for (std::size_t at = 0; at < modules.size(); ++at)
            modules[at].values[counted->field] = counting.values[at];
    }
    if (source.counted.empty())
        return refusal(Refusal::NotCountable);
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

bool setsIdentity(const PageSpec& page, std::string_view command)
{
    const auto& words = page.identity.commandWords;
    return std::any_of(words.begin(), words.end(),
                       [command](std::string_view word) { return command.substr(0, word.size()) == word; });
}

// How many commands a module takes before it carries its identity: up to the first that
// sets it.
int takenToCarry(const PageSpec& page, const std::vector<std::string>& commands)
{
    const auto first = std::find_if(commands.begin(), commands.end(),
                                    [&page](const std::string& command) { return setsIdentity(page, command); });
    return static_cast<int>(first - commands.begin()) + 1;
}

bool varies(const Plan& plan, Field field)
{
    return Counts(plan.varying, field);
}

// The identity's field that tells modules apart in words: the first that varies.
Field identityField(const PageSpec& page, const Plan& plan)
{
    for (Field field : page.identity.fields) {
        if (varies(plan, field))
            return field;
    }
    return page.identity.fields.front();
}

// No two modules of the plan get one identity: it must vary, and no two rows may repeat it.
std::optional<Refusal> identityRefusal(const PageSpec& page, const std::vector<Module>& modules, Plan& plan,
                                       std::map<std::string, std::size_t>& unitOfIdentity)
{
    const Identity& identity = page.identity;
    if (identity.fields.empty())
        return std::nullopt;
    const bool varying = std::any_of(identity.fields.begin(), identity.fields.end(),
                                     [&plan](Field field) { return varies(plan, field); });
    if (!varying && modules.size() > 1) {
        Refusal refused = refusal(Refusal::SameEverywhere);
        refused.field = identity.fields.front();
        refused.value = modules.front().values.at(refused.field);
        return refused;
    }
    for (std::size_t unit = 0; unit < modules.size(); ++unit) {
        const auto [earlier, added] = unitOfIdentity.emplace(IdentityOf(page, plan.commands[unit]), unit);
        if (!added) {
            Refusal refused = refusal(Refusal::SameIdentity, &modules[unit]);
            refused.field = identityField(page, plan);
            refused.value = modules[unit].values.at(refused.field);
            const Module& first = modules[earlier->second];
            refused.other = std::to_string(first.line != 0 ? first.line : first.number);
            return refused;
        }
        plan.takenToCarry.push_back(takenToCarry(page, plan.commands[unit]));
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

// What a row of the record says of its module, for a page with an identity: the unit of
// this plan with the same identity, set up or carried by a module that failed; the row's
// other values may be written otherwise (00254 for 00FE). taken is the row's count of
// commands taken, unknown for a row cut short. Whether the row's module carries its
// values; nothing when the page refuses them, so that nobody can tell which module it was.
std::optional<bool> readIdentityRow(const PageSpec& page, const Values& row, const std::optional<std::string>& taken,
                                    bool setUp, const std::map<std::string, std::size_t>& unitOfIdentity, Plan& plan)
{
    FieldValues values;
    for (std::size_t at = 0; at < page.fields.size(); ++at)
        values[page.fields[at].field] = row[at];
    const GeneratorResult result = page.generate(values);
    const auto* list = std::get_if<CommandList>(&result);
    if (list == nullptr)
        return std::nullopt;
    // A row cut short (taken unknown) may have carried them.
    const bool carried = !taken
        || (!taken->empty() && taken->size() < 6 && AllDecimalDigits(*taken)
            && static_cast<int>(DecimalValue(*taken)) >= takenToCarry(page, list->commands));
    const auto unit = unitOfIdentity.find(IdentityOf(page, list->commands));
    if (unit != unitOfIdentity.end() && setUp)
        plan.setUp.push_back(plan.units[unit->second]);
    else if (unit != unitOfIdentity.end() && carried)
        plan.carried.push_back(plan.units[unit->second]);
    return setUp || carried;
}

// The record's physical lines, each without its line break; a row is one line, so that a
// quote left open by a cut write ends with its line and hides nothing after it.
std::vector<std::string_view> physicalLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::vector<std::string> csvFields(std::string_view line)
{
    std::size_t offset = 0;
    std::vector<std::string> fields;
    ReadCsvRecord(line, offset, fields);
    return fields;
}

Refusal unreadable(std::size_t line, std::string_view text)
{
    Refusal refused = refusal(Refusal::RecordUnreadable);
    refused.line = line;
    refused.value = std::string(text);
    return refused;
}

// Reads the record back: which units it shows set up, or carried by modules that failed,
// after checking that it records this batch, its columns and the values that stay the
// same from module to module. Every line must be read: the module a line describes but
// cannot tell is unknown, and its values might be handed out again.
std::optional<Refusal> readRecord(const PageSpec& page, const FieldValues& values, std::string_view text,
                                  const std::map<std::string, std::size_t>& unitOfIdentity, Plan& plan)
{
    const std::vector<std::string_view> lines = physicalLines(text);
    std::size_t at = 0;
    while (at < lines.size() && isBlank(lines[at]))
        ++at;
    if (at == lines.size()) {
        plan.opening = (text.empty() || text.back() == '\n' ? "" : "\n") + RecordHeaderLine(page);
        return std::nullopt;
    }
    if (text.back() != '\n')
        plan.opening = "\n";
    const std::vector<std::string> header = recordHeader(page);
    const std::vector<std::string> fields = csvFields(lines[at]);
    if (fields != header) {
        Refusal refused = refusal(Refusal::RecordOfAnotherBatch);
        refused.value = CsvLine(fields).substr(0, CsvLine(fields).size() - 1);
        refused.other = CsvLine(header).substr(0, CsvLine(header).size() - 1);
        return refused;
    }
    const std::size_t first = std::size(recordLeadColumns);
    const std::size_t valuesEnd = first + page.fields.size();
    const std::size_t takenColumn = header.size() - 4;
    const std::size_t resultColumn = header.size() - 2;
    std::map<std::string, bool> lastTookValues; // by port: its last module took its values
    for (++at; at < lines.size(); ++at) {
        if (isBlank(lines[at]))
            continue;
        const std::vector<std::string> row = csvFields(lines[at]);
        // The last line, cut short by a crash: its module was in flight, and counts as
        // carrying whatever values the line shows whole.
        const bool cut = at + 1 == lines.size() && text.back() != '\n' && row.size() < header.size();
        if (cut && row.size() <= valuesEnd)
            continue;
        if (row.size() != header.size() && !cut)
            return unreadable(at + 1, lines[at]);
        const Values unit(row.begin() + static_cast<std::ptrdiff_t>(first), row.begin() + static_cast<std::ptrdiff_t>(valuesEnd));
        for (std::size_t column = 0; column < page.fields.size(); ++column) {
            const Field field = page.fields[column].field;
            if (!varies(plan, field) && unit[column] != values.at(field)) {
                Refusal refused = refusal(Refusal::RecordOtherValues);
                refused.field = field;
                refused.value = values.at(field);
                refused.other = unit[column];
                return refused;
            }
        }
        const bool setUp = !cut && row[resultColumn] == SetUpResult;
        bool tookValues = setUp;
        if (page.identity.fields.empty()) {
            if (setUp)
                plan.setUp.push_back(unit);
        } else if (const std::optional<bool> carries = readIdentityRow(
                       page, unit, cut ? std::nullopt : std::optional(row[takenColumn]), setUp, unitOfIdentity, plan)) {
            tookValues = *carries;
        } else {
            return unreadable(at + 1, lines[at]);
        }
        lastTookValues[row[1]] = tookValues;
    }
    for (const auto& [port, took] : lastTookValues) {
        if (took)
            plan.portsHoldingAModule.push_back(port);
    }
    return std::nullopt;
}

} // namespace

std::variant<Plan, Refusal> PlanBatch(const PageSpec& page, const FieldValues& given, const Source& givenSource,
                                      std::string_view recordText)
{
    // A spreadsheet may begin its CSV with a UTF-8 byte-order mark: it is no part of the text.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    Source source = givenSource;
    for (std::string_view* text : {&source.valuesText, &recordText}) {
        if (text->substr(0, byteOrderMark.size()) == byteOrderMark)
            text->remove_prefix(byteOrderMark.size());
    }
    FieldValues values = InitialValues(page);
    for (const auto& [field, value] : given)
        values[field] = value;
    Plan plan;
    std::variant<std::vector<Module>, Refusal> modules = source.fromValuesFile
        ? listedModules(page, values, source.valuesText, plan.varying)
        : countedModules(page, values, source, plan.varying);
    if (const auto* refused = std::get_if<Refusal>(&modules))
        return *refused;
    const std::vector<Module>& listed = std::get<std::vector<Module>>(modules);
    for (const Module& module : listed) {
        GeneratorResult result;
        if (std::optional<Refusal> refused = pageRefusal(page, module, result))
            return *refused;
        plan.units.push_back(unitOf(page, module.values));
        plan.commands.push_back(std::get<CommandList>(result).commands);
    }
    std::map<std::string, std::size_t> unitOfIdentity;
    if (std::optional<Refusal> refused = identityRefusal(page, listed, plan, unitOfIdentity))
        return *refused;
    if (std::optional<Refusal> refused = readRecord(page, values, recordText, unitOfIdentity, plan))
        return *refused;
    return plan;
}

bool Counts(const std::vector<Field>& fields, Field field)
{
    return std::find(fields.begin(), fields.end(), field) != fields.end();
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
    for (std::string& field : row)
        std::replace_if(field.begin(), field.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return CsvLine(row);
}

std::string IdentityOf(const PageSpec& page, const std::vector<std::string>& commands)
{
    std::string identity;
    for (const std::string& command : commands) {
        if (setsIdentity(page, command))
            identity += command + "\n";
    }
    return identity;
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
