#include "BatchPlan.h"

#include "StudyList.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

namespace qz::batch {

namespace {

// A record's columns: the page's options between these. Records written before modules
// were asked their address, and before a row said what was sent, have the older columns.
struct RecordLayout {
    std::vector<std::string_view> lead;
    std::vector<std::string_view> trail;
};
const RecordLayout currentLayout{{"time", "port", "module"}, {"sent", "taken", "total", "result", "message"}};
const RecordLayout olderLayout{{"time", "port"}, {"taken", "total", "result", "message"}};

// One module's values before the page has looked at them: where they came from, and what
// they are.
struct Module {
    std::size_t line; // of the values file; 0 for a counted module
    std::size_t number;
    FieldValues values;
};

Refusal refusal(Refusal::Reason reason, const Module* module = nullptr)
{
    Refusal refused{reason, 0, 0, Field::None, {}, {}, {}, {}};
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

// Hands each module's values to take, one module at a time, so that a values file of
// millions of rows is never held as millions of maps; stops at take's first refusal.
using TakeModule = std::function<std::optional<Refusal>(const Module&)>;

std::optional<Refusal> countedModules(const PageSpec& page, const FieldValues& values, const Source& source,
                                      std::vector<Field>& varying, const TakeModule& take)
{
    std::vector<std::pair<Field, std::vector<std::string>>> counts;
    for (Field field : source.counted) {
        const FieldSpec* counted = FindField(page, field);
        if (counted == nullptr || counted->counting == Counting::None) {
            Refusal refused = refusal(Refusal::NotCountable);
            refused.field = field;
            return refused;
        }
        const std::string& first = values.at(counted->field);
        CountedValues counting = CountValues(counted->counting, first, source.modules);
        if (!counting.problem.empty()) {
            Refusal refused = refusal(counting.top.empty() ? Refusal::CannotCount : Refusal::PassesTheTop);
            refused.field = counted->field;
            refused.value = first;
            refused.other = counting.top;
            refused.message = counting.problem;
            return refused;
        }
        varying.push_back(counted->field);
        counts.emplace_back(counted->field, std::move(counting.values));
    }
    if (source.counted.empty())
        return refusal(Refusal::NotCountable);
    Module module{0, 0, values};
    for (std::size_t at = 0; at < source.modules; ++at) {
        module.number = at + 1;
        for (const auto& [field, counted] : counts)
            module.values[field] = counted[at];
        if (std::optional<Refusal> refused = take(module))
            return refused;
    }
    return std::nullopt;
}

// A spreadsheet writes its CSV with semicolons where a comma is the decimal mark: a header
// with semicolons and no comma says so.
char separatorOf(std::string_view text)
{
    std::size_t offset = 0;
    std::vector<std::string> header;
    ReadCsvRecord(text, offset, header);
    return header.size() == 1 && header[0].find(';') != std::string::npos ? ';' : ',';
}

std::optional<Refusal> listedModules(const PageSpec& page, const FieldValues& values, std::string_view text,
                                     std::vector<Field>& varying, const TakeModule& take)
{
    std::size_t offset = 0;
    std::vector<std::string> columns;
    const char separator = separatorOf(text);
    if (!ReadCsvRecord(text, offset, columns, separator) || isBlankRecord(columns))
        return refusal(Refusal::ValuesFileEmpty);
    // A header is matched without regard to case: "Name,Address" names name and address.
    std::vector<std::string> names;
    std::transform(columns.begin(), columns.end(), std::back_inserter(names), LowerCase);
    for (std::size_t at = 0; at < columns.size(); ++at) {
        const FieldSpec* field = FindField(page, names[at]);
        Refusal refused = refusal(Refusal::UnknownColumn);
        refused.value = columns[at];
        if (field == nullptr || field->kind == FieldKind::Flag)
            return refused;
        if (std::count(names.begin(), names.end(), names[at]) > 1) {
            refused.reason = Refusal::ColumnTwice;
            return refused;
        }
        varying.push_back(field->field);
    }
    // The file's shape first, every row of it, then each row's values.
    const std::size_t rowsFrom = offset;
    Module module{0, 0, values};
    std::vector<std::string> row;
    for (bool shapeOnly : {true, false}) {
        offset = rowsFrom;
        module.number = 0;
        for (std::size_t line = 2; ReadCsvRecord(text, offset, row, separator); ++line) {
            if (isBlankRecord(row))
                continue;
            module.line = line;
            ++module.number;
            if (row.size() != columns.size()) {
                Refusal refused = refusal(Refusal::RowLength, &module);
                refused.value = std::to_string(row.size());
                refused.other = std::to_string(columns.size());
                return refused;
            }
            if (shapeOnly)
                continue;
            for (std::size_t at = 0; at < row.size(); ++at)
                module.values[varying[at]] = std::move(row[at]);
            if (std::optional<Refusal> refused = take(module))
                return refused;
        }
        if (module.number == 0)
            return refusal(Refusal::NoRows);
    }
    return std::nullopt;
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
        if (field.kind == FieldKind::UUIDType && !IsUUIDTypeText(value)) {
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
        if (const FieldSpec* field = FindField(page, rejection->field); field != nullptr && field->explain != nullptr) {
            const FieldExplanation explained = field->explain(module.values);
            if (explained.verdict == FieldVerdict::Refused && explained.about == Field::None)
                refused.mend = explained.text;
        }
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

Values unitOf(const PageSpec& page, const FieldValues& values)
{
    Values unit;
    for (const FieldSpec& field : page.fields)
        unit.push_back(values.at(field.field));
    return unit;
}

// What tells one unit from another: its identity, by meaning (the commands that set it),
// on a page that has one; every value elsewhere.
std::string keyOf(const PageSpec& page, const Values& unit, const std::vector<std::string>& commands)
{
    return page.identity.fields.empty() ? CsvLine(unit) : IdentityOf(page, commands);
}

std::string keyOf(const PageSpec& page, const Values& unit)
{
    return keyOf(page, unit, page.identity.fields.empty() ? std::vector<std::string>() : CommandsOf(page, unit));
}

// The units by their keys' hashes, sorted: a few bytes a unit, where a set of the keys
// themselves would take many times the values file. A hash found is checked against the
// unit's key made anew.
class UnitsByKey {
public:
    void add(const std::string& key, std::size_t unit) { hashes_.push_back({std::hash<std::string>()(key), unit}); }
    void sort() { std::sort(hashes_.begin(), hashes_.end()); }

    // The units whose key is key, in their order.
    std::vector<std::size_t> find(const PageSpec& page, const Plan& plan, const std::string& key) const
    {
        std::vector<std::size_t> units;
        const std::size_t hash = std::hash<std::string>()(key);
        for (auto at = std::lower_bound(hashes_.begin(), hashes_.end(), std::pair(hash, std::size_t(0)));
             at != hashes_.end() && at->first == hash; ++at) {
            if (keyOf(page, plan.units[at->second]) == key)
                units.push_back(at->second);
        }
        return units;
    }

    // The first unit whose key an earlier unit has, with that earlier unit.
    std::optional<std::pair<std::size_t, std::size_t>> firstRepeated(const PageSpec& page, const Plan& plan) const
    {
        std::optional<std::pair<std::size_t, std::size_t>> first;
        for (std::size_t run = 0; run < hashes_.size();) {
            std::size_t end = run + 1;
            while (end < hashes_.size() && hashes_[end].first == hashes_[run].first)
                ++end;
            for (std::size_t later = run + 1; later < end; ++later) {
                for (std::size_t earlier = run; earlier < later; ++earlier) {
                    const std::size_t unit = hashes_[later].second;
                    if ((!first || unit < first->first)
                        && keyOf(page, plan.units[unit]) == keyOf(page, plan.units[hashes_[earlier].second])) {
                        first = std::pair(unit, hashes_[earlier].second);
                        break;
                    }
                }
            }
            run = end;
        }
        return first;
    }

private:
    std::vector<std::pair<std::size_t, std::size_t>> hashes_;
};

// Takes each module's values into the plan, once the page made its commands of them.
class UnitTaker {
public:
    UnitTaker(const PageSpec& page, Plan& plan, bool fromValuesFile)
        : page_(page), plan_(plan), fromValuesFile_(fromValuesFile)
    {
    }

    std::optional<Refusal> operator()(const Module& module)
    {
        GeneratorResult result;
        if (std::optional<Refusal> refused = pageRefusal(page_, module, result))
            return refused;
        const Values unit = unitOf(page_, module.values);
        const std::vector<std::string>& commands = std::get<CommandList>(result).commands;
        if (plan_.units.size() == 0)
            plan_.units = Units(unit, varyingColumns());
        plan_.units.Add(unit);
        byKey.add(keyOf(page_, unit, commands), plan_.units.size() - 1);
        if (!page_.identity.fields.empty())
            plan_.takenToCarry.push_back(takenToCarry(page_, commands));
        if (fromValuesFile_)
            lines_.push_back(module.line);
        return std::nullopt;
    }

    // No two modules of the plan get one identity: it must vary, and no two rows may repeat it.
    std::optional<Refusal> identityRefusal()
    {
        byKey.sort();
        const Identity& identity = page_.identity;
        if (identity.fields.empty())
            return std::nullopt;
        const bool varying = std::any_of(identity.fields.begin(), identity.fields.end(),
                                         [this](Field field) { return varies(plan_, field); });
        if (!varying && plan_.units.size() > 1) {
            Refusal refused = refusal(Refusal::SameEverywhere);
            refused.field = identity.fields.front();
            refused.value = ValueOf(page_, plan_.units[0], refused.field);
            return refused;
        }
        const auto repeated = byKey.firstRepeated(page_, plan_);
        if (!repeated)
            return std::nullopt;
        const auto [later, earlier] = *repeated;
        Refusal refused = refusal(Refusal::SameIdentity);
        refused.line = fromValuesFile_ ? lines_[later] : 0;
        refused.module = fromValuesFile_ ? 0 : later + 1;
        refused.field = identityField(page_, plan_);
        refused.value = ValueOf(page_, plan_.units[later], refused.field);
        refused.other = std::to_string(fromValuesFile_ ? lines_[earlier] : earlier + 1);
        return refused;
    }

    UnitsByKey byKey;

private:
    std::vector<std::size_t> varyingColumns() const
    {
        std::vector<std::size_t> columns;
        for (std::size_t at = 0; at < page_.fields.size(); ++at) {
            if (varies(plan_, page_.fields[at].field))
                columns.push_back(at);
        }
        return columns;
    }

    const PageSpec& page_;
    Plan& plan_;
    bool fromValuesFile_;
    std::vector<std::size_t> lines_; // of the values file, per unit
};

std::vector<std::string> recordHeader(const PageSpec& page, const RecordLayout& layout = currentLayout)
{
    std::vector<std::string> header(layout.lead.begin(), layout.lead.end());
    for (const FieldSpec& field : page.fields)
        header.emplace_back(field.option);
    header.insert(header.end(), layout.trail.begin(), layout.trail.end());
    return header;
}

// The units of this plan a row of the record names: on a page with an identity, the units
// with the same identity, whose other values may be written otherwise (00254 for 00FE);
// elsewhere, the units with every value the same. Nothing when the page refuses the row's
// values, so that nobody can tell which module it was.
std::optional<std::vector<std::size_t>> unitsOfRow(const PageSpec& page, const Values& row, const UnitsByKey& byKey,
                                                   const Plan& plan, int& toCarry)
{
    if (page.identity.fields.empty())
        return byKey.find(page, plan, keyOf(page, row));
    FieldValues values;
    for (std::size_t at = 0; at < page.fields.size(); ++at)
        values[page.fields[at].field] = row[at];
    const GeneratorResult result = page.generate(values);
    const auto* list = std::get_if<CommandList>(&result);
    if (list == nullptr)
        return std::nullopt;
    toCarry = takenToCarry(page, list->commands);
    return byKey.find(page, plan, IdentityOf(page, list->commands));
}

std::optional<int> countOf(std::string_view text)
{
    if (text.empty() || text.size() >= 6 || !AllDecimalDigits(std::string(text)))
        return std::nullopt;
    return static_cast<int>(DecimalValue(std::string(text)));
}

// A text's physical lines, one at a time, each without its line break; a record's row is
// one line, so that a quote left open by a cut write ends with its line and hides nothing
// after it. CR LF, LF and a lone CR each end a line.
class PhysicalLines {
public:
    explicit PhysicalLines(std::string_view text) : rest_(text) {}

    bool next(std::string_view& line)
    {
        if (rest_.empty())
            return false;
        const std::size_t end = std::min(rest_.find_first_of("\r\n"), rest_.size());
        line = rest_.substr(0, end);
        const std::size_t breakLength = end + 1 < rest_.size() && rest_[end] == '\r' && rest_[end + 1] == '\n' ? 2 : 1;
        rest_.remove_prefix(std::min(end + breakLength, rest_.size()));
        ++number_;
        return true;
    }
    // Of the line last read, from 1.
    std::size_t number() const { return number_; }
    bool atEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
    std::size_t number_ = 0;
};

bool endsWithLineBreak(std::string_view text)
{
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
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
    refused.value = QuotedLine(text);
    return refused;
}

// Reads a record's rows, in order, into what it shows of each unit. A unit's rows say, one
// after another, that a module was about to be set up with it (started), then how that
// ended; a unit whose last row is "started" may be carried by a module the batch never
// heard of again.
class RecordReader {
public:
    RecordReader(const PageSpec& page, const UnitsByKey& byKey, Plan& plan)
        : page_(page), byKey_(byKey), plan_(plan), started_(plan.units.size(), false)
    {
    }

    // A row whose columns are layout's; false when it names no module.
    bool read(const std::vector<std::string>& row, const RecordLayout& layout, bool cut)
    {
        const std::size_t first = layout.lead.size();
        const Values unit(row.begin() + static_cast<std::ptrdiff_t>(first),
                          row.begin() + static_cast<std::ptrdiff_t>(first + page_.fields.size()));
        const auto column = [&](std::string_view name) -> std::string {
            const auto at = std::find(layout.trail.begin(), layout.trail.end(), name);
            const std::size_t index = first + page_.fields.size() + static_cast<std::size_t>(at - layout.trail.begin());
            return at != layout.trail.end() && index < row.size() ? row[index] : std::string();
        };
        int toCarry = 0;
        const std::optional<std::vector<std::size_t>> units = unitsOfRow(page_, unit, byKey_, plan_, toCarry);
        if (!units)
            return false;
        const std::string result = cut ? std::string() : column("result");
        bool carries = false;
        if (result == SetUpResult) {
            setUp(*units);
        } else if (result == StartedResult) {
            carries = !page_.identity.fields.empty();
            for (std::size_t at : *units)
                started_[at] = true;
        } else {
            // A row cut short by a crash may have carried them; a failed module carries them
            // once it was sent the command that sets them (told by taken in older records).
            const std::optional<int> sent = countOf(column(layout.lead.size() == 3 ? "sent" : "taken"));
            carries = !page_.identity.fields.empty() && (cut || (sent && *sent >= toCarry));
            for (std::size_t at : *units) {
                started_[at] = false;
                if (carries && plan_.recorded[at] == Recorded::Nothing)
                    plan_.recorded[at] = Recorded::Carried;
            }
        }
        const bool tookValues = result == SetUpResult || carries;
        if (tookValues && !units->empty())
            know(row, layout, unit, units->front(), stateOf(result));
        else if (layout.lead.size() == 3)
            plan_.known.Forget(row[2]);
        lastTookValues_[row[1]] = tookValues ? std::optional(stateOf(result)) : std::nullopt;
        return true;
    }

    void finish()
    {
        for (std::size_t unit = 0; unit < started_.size(); ++unit) {
            if (started_[unit] && plan_.recorded[unit] == Recorded::Nothing)
                plan_.recorded[unit] = Recorded::Carried;
        }
        for (const auto& [port, held] : lastTookValues_) {
            if (held)
                plan_.portsHoldingAModule.push_back({port, *held});
        }
    }

private:
    void setUp(const std::vector<std::size_t>& units)
    {
        // On a page without an identity, each row is one module: it takes the first unit
        // alike that no earlier row took.
        for (std::size_t at : units) {
            started_[at] = false;
            if (!page_.identity.fields.empty() || plan_.recorded[at] == Recorded::Nothing) {
                plan_.recorded[at] = Recorded::SetUp;
                plan_.carriers.erase(at);
                if (page_.identity.fields.empty())
                    break;
            }
        }
    }

    // What a row that took its values shows of its module.
    static KnownModules::State stateOf(const std::string& result)
    {
        using State = KnownModules::State;
        return result == SetUpResult ? State::SetUp : result == StartedResult ? State::Started : State::Carrying;
    }

    // The module by its own address, and, where the identity is its address, by that too.
    void know(const std::vector<std::string>& row, const RecordLayout& layout, const Values& unit, std::size_t index,
              KnownModules::State state)
    {
        const KnownModules::Module module{index, row[0], state};
        if (layout.lead.size() == 3)
            plan_.known.Add(row[2], module);
        if (layout.lead.size() == 3 && state != KnownModules::State::SetUp && !row[2].empty())
            plan_.carriers[index] = UpperCase(row[2]);
        if (page_.identity.isModuleAddress)
            plan_.known.Add(ValueOf(page_, unit, page_.identity.fields.front()), module);
    }

    const PageSpec& page_;
    const UnitsByKey& byKey_;
    Plan& plan_;
    std::vector<bool> started_; // per unit: its last row says started
    // By port: what the record shows of its last module, when it took its values.
    std::map<std::string, std::optional<KnownModules::State>> lastTookValues_;
};

// The layout whose header line this is, if it is one.
const RecordLayout* layoutOfHeader(const PageSpec& page, const std::vector<std::string>& fields)
{
    for (const RecordLayout* layout : {&currentLayout, &olderLayout}) {
        if (fields == recordHeader(page, *layout))
            return layout;
    }
    return nullptr;
}

// Reads the record back: which units it shows set up, or carried by modules that failed,
// after checking that it records this batch, its columns and the values that stay the
// same from module to module. Every line must be read: the module a line describes but
// cannot tell is unknown, and its values might be handed out again.
std::optional<Refusal> readRecord(const PageSpec& page, const FieldValues& values, std::string_view text,
                                  const UnitsByKey& byKey, Plan& plan)
{
    PhysicalLines lines(text);
    std::string_view line;
    bool any = false;
    while ((any = lines.next(line)) && isBlank(line)) {
    }
    const std::string lineBreak = endsWithLineBreak(text) || text.empty() ? "" : "\n";
    if (!any) {
        plan.opening = lineBreak + RecordHeaderLine(page);
        return std::nullopt;
    }
    if (line.size() > LongestRecordLine)
        return unreadable(lines.number(), line);
    const RecordLayout* layout = layoutOfHeader(page, csvFields(line));
    if (layout == nullptr) {
        const std::vector<std::string> fields = csvFields(line);
        const std::string header = RecordHeaderLine(page);
        Refusal refused = refusal(Refusal::RecordOfAnotherBatch);
        refused.value = CsvLine(fields).substr(0, CsvLine(fields).size() - 1);
        refused.other = header.substr(0, header.size() - 1);
        return refused;
    }
    RecordReader reader(page, byKey, plan);
    while (lines.next(line)) {
        if (isBlank(line))
            continue;
        if (line.size() > LongestRecordLine)
            return unreadable(lines.number(), line);
        const std::vector<std::string> row = csvFields(line);
        if (const RecordLayout* next = layoutOfHeader(page, row)) {
            layout = next;
            continue;
        }
        const std::size_t columns = layout->lead.size() + page.fields.size() + layout->trail.size();
        const std::size_t valuesEnd = layout->lead.size() + page.fields.size();
        // The last line, cut short by a crash: its module was in flight, and counts as
        // carrying whatever values the line shows whole.
        const bool cut = lines.atEnd() && !endsWithLineBreak(text) && row.size() < columns;
        if (cut && row.size() <= valuesEnd)
            continue;
        if (row.size() != columns && !cut)
            return unreadable(lines.number(), line);
        for (std::size_t column = 0; column < page.fields.size(); ++column) {
            const Field field = page.fields[column].field;
            const std::string& recorded = row[layout->lead.size() + column];
            if (!varies(plan, field) && recorded != values.at(field)) {
                Refusal refused = refusal(Refusal::RecordOtherValues);
                refused.field = field;
                refused.value = values.at(field);
                refused.other = recorded;
                return refused;
            }
        }
        if (!reader.read(row, *layout, cut))
            return unreadable(lines.number(), line);
    }
    reader.finish();
    // Rows are added in the current columns, under their own header.
    plan.opening = lineBreak + (layout == &currentLayout ? std::string() : RecordHeaderLine(page));
    return std::nullopt;
}

// The first line of a values file too long to be a row, refused unread.
std::optional<Refusal> overlongLine(std::string_view text)
{
    PhysicalLines lines(text);
    std::string_view line;
    while (lines.next(line)) {
        if (line.size() > LongestValuesLine) {
            Refusal refused = refusal(Refusal::LineTooLong);
            refused.line = lines.number();
            refused.value = QuotedLine(line);
            return refused;
        }
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
    if (source.fromValuesFile) {
        if (std::optional<Refusal> overlong = overlongLine(source.valuesText))
            return *overlong;
    }
    Plan plan;
    UnitTaker taker(page, plan, source.fromValuesFile);
    const TakeModule take = [&taker](const Module& module) { return taker(module); };
    const std::optional<Refusal> refused = source.fromValuesFile
        ? listedModules(page, values, source.valuesText, plan.varying, take)
        : countedModules(page, values, source, plan.varying, take);
    if (refused)
        return *refused;
    if (std::optional<Refusal> repeated = taker.identityRefusal())
        return *repeated;
    plan.recorded.assign(plan.units.size(), Recorded::Nothing);
    if (std::optional<Refusal> unreadable = readRecord(page, values, recordText, taker.byKey, plan))
        return *unreadable;
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

std::string RecordLine(const RecordRow& written)
{
    std::vector<std::string> row = {written.time, written.port, written.module};
    row.insert(row.end(), written.unit.begin(), written.unit.end());
    row.insert(row.end(), {std::to_string(written.sent), std::to_string(written.taken), std::to_string(written.total),
                           std::string(written.result), written.message});
    for (std::string& field : row)
        std::replace_if(field.begin(), field.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return CsvLine(row);
}

std::string QuotedLine(std::string_view line)
{
    return line.size() <= LongestQuote ? std::string(line) : std::string(line.substr(0, LongestQuote)) + "\u2026";
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

CommandList ListOf(const PageSpec& page, const Values& unit)
{
    FieldValues values;
    for (std::size_t at = 0; at < page.fields.size(); ++at)
        values[page.fields[at].field] = unit.at(at);
    GeneratorResult result = page.generate(values);
    auto* list = std::get_if<CommandList>(&result);
    return list != nullptr ? std::move(*list) : CommandList();
}

std::vector<std::string> CommandsOf(const PageSpec& page, const Values& unit)
{
    return ListOf(page, unit).commands;
}

std::string ValueOf(const PageSpec& page, const Values& unit, Field field)
{
    for (std::size_t at = 0; at < page.fields.size(); ++at) {
        if (page.fields[at].field == field)
            return unit.at(at);
    }
    return {};
}

} // namespace qz::batch
