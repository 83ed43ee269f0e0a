#include "Batch.h"

#include <algorithm>
#include <set>

namespace qz::batch {

namespace {

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDecimal(char c)
{
    return c >= '0' && c <= '9';
}

int digitValue(char c)
{
    if (isDecimal(c))
        return c - '0';
    return (c >= 'a' ? c - 'a' : c - 'A') + 10;
}

// Adds one to digits in the given base, upper case, width kept; false when it overflows.
bool increment(std::string& digits, int base)
{
    static const char symbols[] = "0123456789ABCDEF";
    for (std::size_t at = digits.size(); at-- > 0;) {
        const int next = digitValue(digits[at]) + 1;
        digits[at] = symbols[next % base];
        if (next < base)
            return true;
    }
    return false;
}

bool all(std::string_view text, bool (*test)(char))
{
    return !text.empty() && std::all_of(text.begin(), text.end(), test);
}

// Counts digits (the counted part) up, modules - 1 times, behind a fixed prefix.
Counting countDigits(std::string prefix, std::string digits, int base, std::size_t modules)
{
    Counting counting;
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    for (std::size_t module = 0; module < modules; ++module) {
        if (module > 0 && !increment(digits, base)) {
            counting.values.clear();
            counting.passesTheTop = true;
            counting.problem = "counting up from it would pass " + prefix + std::string(digits.size(), base == 16 ? 'F' : '9');
            return counting;
        }
        counting.values.push_back(prefix + digits);
    }
    return counting;
}

} // namespace

bool IsCountable(std::string_view option)
{
    return option == "major" || option == "minor" || option == "address" || option == "name";
}

Counting CountValues(std::string_view option, std::string_view first, std::size_t modules)
{
    const std::string text(first);
    if (option == "major" || option == "minor") {
        if (text.size() == 4 && all(text, isHex))
            return countDigits({}, text, 16, modules);
        if (text.size() == 5 && all(text, isDecimal))
            return countDigits({}, text, 10, modules);
        return {{}, "only four hex digits (04D2) or five decimal digits (01234) can count up", false};
    }
    if (option == "address") {
        if (text.size() == 12 && all(text, isHex))
            return countDigits({}, text, 16, modules);
        return {{}, "only twelve hex digits (000E0B123456) can count up", false};
    }
    if (option == "name") {
        std::size_t digitsFrom = text.size();
        while (digitsFrom > 0 && isDecimal(text[digitsFrom - 1]))
            --digitsFrom;
        if (digitsFrom == text.size())
            return {{}, "a name counts up by the digits at its end (Lamp-01), and this one has none", false};
        // A name may grow a digit (Lamp-9, Lamp-10): only its field's length limits it.
        Counting counting;
        std::string digits = text.substr(digitsFrom);
        for (std::size_t module = 0; module < modules; ++module) {
            if (module > 0 && !increment(digits, 10))
                digits.insert(0, 1, '1');
            counting.values.push_back(text.substr(0, digitsFrom) + digits);
        }
        return counting;
    }
    return {{}, "only --major, --minor, --address and --name can count up", false};
}

bool ReadCsvRecord(std::string_view text, std::size_t& offset, std::vector<std::string>& fields)
{
    fields.clear();
    if (offset >= text.size())
        return false;
    std::string field;
    bool quoted = false;
    while (offset < text.size()) {
        const char c = text[offset++];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (offset < text.size() && text[offset] == '"')
                field += text[offset++];
            else
                quoted = false;
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && offset < text.size() && text[offset] == '\n')
                ++offset;
            break;
        } else {
            field += c;
        }
    }
    fields.push_back(std::move(field));
    return true;
}

std::string CsvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string field = "\"";
    for (char c : text)
        field.append(c == '"' ? 2 : 1, c);
    return field + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t at = 0; at < fields.size(); ++at)
        line += (at == 0 ? "" : ",") + CsvField(fields[at]);
    return line + "\n";
}

std::vector<std::string> RecordHeader(const std::vector<std::string>& varying)
{
    std::vector<std::string> header = {"time", "port"};
    header.insert(header.end(), varying.begin(), varying.end());
    for (const char* column : {"taken", "total", "result", "message"})
        header.emplace_back(column);
    return header;
}

std::vector<std::string> RecordRow(std::string time, std::string port, const std::vector<std::string>& values,
                                   int taken, int total, bool setUp, std::string message)
{
    std::vector<std::string> row = {std::move(time), std::move(port)};
    row.insert(row.end(), values.begin(), values.end());
    row.insert(row.end(), {std::to_string(taken), std::to_string(total),
                           std::string(setUp ? SetUpResult : FailedResult), std::move(message)});
    return row;
}

Batch::Batch(std::vector<std::vector<std::string>> units, const std::vector<std::vector<std::string>>& setUp)
    : units_(std::move(units))
{
    // Each row of the record set up one unit; a value listed twice is set up twice over.
    std::multiset<std::vector<std::string>> recorded(setUp.begin(), setUp.end());
    for (std::size_t unit = 0; unit < units_.size(); ++unit) {
        const auto found = recorded.find(units_[unit]);
        if (found == recorded.end()) {
            waiting_.push_back(unit);
            continue;
        }
        recorded.erase(found);
        ++setUpCount_;
        ++resumed_;
    }
}

std::optional<std::size_t> Batch::ModuleReady(const std::string& port)
{
    if (stopped_ || waiting_.empty() || Busy(port))
        return std::nullopt;
    const std::size_t unit = waiting_.front();
    waiting_.pop_front();
    inFlight_[port] = unit;
    return unit;
}

void Batch::SessionEnded(const std::string& port, bool setUp)
{
    const auto found = inFlight_.find(port);
    if (found == inFlight_.end())
        return;
    if (setUp)
        ++setUpCount_;
    else
        waiting_.push_front(found->second);
    inFlight_.erase(found);
}

} // namespace qz::batch
