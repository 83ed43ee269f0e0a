#include "Batch.h"

#include "BeaconList.h"
#include "FieldRules.h"
#include "SendSession.h"

#include <algorithm>

namespace qz::batch {

namespace {

// One digit of a counted value, upper case.
int digitValue(char c)
{
    return IsDecimalDigit(c) ? c - '0' : c - 'A' + 10;
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

// Counts digits (the counted part) up, modules - 1 times.
CountedValues countDigits(std::string digits, int base, std::size_t modules)
{
    CountedValues counting;
    for (std::size_t module = 0; module < modules; ++module) {
        if (module > 0 && !increment(digits, base)) {
            counting.values.clear();
            counting.top = std::string(digits.size(), base == 16 ? 'F' : '9');
            counting.problem = "counting up from it would pass " + counting.top;
            return counting;
        }
        counting.values.push_back(digits);
    }
    return counting;
}

} // namespace

CountedValues CountValues(qz::Counting form, std::string_view first, std::size_t modules)
{
    const std::string text(first);
    // Hex digits count in capitals, as the page writes them; a name keeps its case.
    const std::string capitals = UpperCase(text);
    switch (form) {
    case qz::Counting::BeaconNumber:
        if (capitals.size() == BeaconHexDigits && AllHexDigits(capitals))
            return countDigits(capitals, 16, modules);
        if (capitals.size() == BeaconDecimalDigits && AllDecimalDigits(capitals))
            return countDigits(capitals, 10, modules);
        return {{}, "only four hex digits (04D2) or five decimal digits (01234) can count up", {}};
    case qz::Counting::Address:
        if (IsDeviceAddress(capitals))
            return countDigits(capitals, 16, modules);
        return {{}, "only twelve hex digits (000E0B123456) can count up", {}};
    case qz::Counting::NameDigits: break;
    case qz::Counting::None: return {{}, "it does not count up", {}};
    }
    std::size_t digitsFrom = text.size();
    while (digitsFrom > 0 && IsDecimalDigit(text[digitsFrom - 1]))
        --digitsFrom;
    if (digitsFrom == text.size())
        return {{}, "a name counts up by the digits at its end (Lamp-01), and this one has none", {}};
    // A name may grow a digit (Lamp-9, Lamp-10): only its field's length limits it.
    CountedValues counting;
    std::string digits = text.substr(digitsFrom);
    for (std::size_t module = 0; module < modules; ++module) {
        if (module > 0 && !increment(digits, 10))
            digits.insert(0, 1, '1');
        counting.values.push_back(text.substr(0, digitsFrom) + digits);
    }
    return counting;
}

bool ReadCsvRecord(std::string_view text, std::size_t& offset, std::vector<std::string>& fields, char separator)
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
        } else if (c == separator) {
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

namespace {

// "1 (/dev/ttyUSB0) or 2 (/dev/ttyUSB1)": the waiting ports as a line can name them.
std::string waitingList(const std::vector<std::string>& ports, const std::vector<bool>& waiting)
{
    std::vector<std::string> named;
    for (std::size_t at = 0; at < ports.size(); ++at) {
        if (waiting[at])
            named.push_back(std::to_string(at + 1) + " (" + serial::EscapedBytes(ports[at]) + ")");
    }
    std::string list;
    for (std::size_t at = 0; at < named.size(); ++at)
        list += (at == 0 ? "" : at + 1 == named.size() ? " or " : ", ") + named[at];
    return list;
}

} // namespace

PortChoice ChoosePort(std::string_view line, const std::vector<std::string>& ports, const std::vector<bool>& waiting)
{
    const std::size_t first = line.find_first_not_of(" \t\r\n");
    line = first == std::string_view::npos ? std::string_view() : line.substr(first, line.find_last_not_of(" \t\r\n") + 1 - first);
    const auto waitingCount = static_cast<std::size_t>(std::count(waiting.begin(), waiting.end(), true));
    if (waitingCount == 0)
        return {std::nullopt, "no port is waiting for its next module"};
    const std::string choose = "type " + waitingList(ports, waiting) + ", then Enter";
    std::optional<std::size_t> named;
    if (line.empty() && waitingCount == 1)
        named = static_cast<std::size_t>(std::find(waiting.begin(), waiting.end(), true) - waiting.begin());
    else if (line.empty())
        return {std::nullopt, "several ports are waiting: " + choose};
    for (std::size_t at = 0; at < ports.size() && !named; ++at) {
        if (line == ports[at] || line == std::to_string(at + 1))
            named = at;
    }
    if (!named)
        return {std::nullopt, "no port is called " + serial::EscapedBytes(line) + ": " + choose};
    if (!waiting[*named])
        return {std::nullopt, "port " + std::to_string(*named + 1) + " (" + serial::EscapedBytes(ports[*named])
                                  + ") is not waiting for a module: " + choose};
    return {named, {}};
}

Units::Units(Values shared, std::vector<std::size_t> varying)
    : shared_(std::move(shared))
    , varying_(std::move(varying))
{
}

void Units::Add(const Values& unit)
{
    for (std::size_t column : varying_) {
        text_ += unit.at(column);
        ends_.push_back(text_.size());
    }
    ++count_;
}

Values Units::operator[](std::size_t unit) const
{
    Values values = shared_;
    std::size_t at = unit * varying_.size();
    std::size_t begin = at == 0 ? 0 : ends_[at - 1];
    for (std::size_t column : varying_) {
        values[column] = text_.substr(begin, ends_[at] - begin);
        begin = ends_[at++];
    }
    return values;
}

void KnownModules::Add(std::string_view address, Module module)
{
    if (address.empty())
        return;
    const std::string key = UpperCase(std::string(address));
    const auto found = modules_.find(key);
    // A module set up stays set up; a later row of it is a retry or a claim.
    if (found == modules_.end())
        modules_.emplace(key, std::move(module));
    else if (found->second.state != State::SetUp || module.state == State::SetUp)
        found->second = std::move(module);
}

void KnownModules::Forget(std::string_view address)
{
    const auto found = modules_.find(UpperCase(std::string(address)));
    if (found != modules_.end() && found->second.state != State::SetUp)
        modules_.erase(found);
}

const KnownModules::Module* KnownModules::Find(std::string_view address) const
{
    const auto found = modules_.find(UpperCase(std::string(address)));
    return found == modules_.end() ? nullptr : &found->second;
}

std::string KnownModules::Words(std::string_view address, const Module& module, std::string_view batch)
{
    // "14:03" of "2026-12-08T14:03:22Z"
    const std::string at = module.time.size() >= 16 ? module.time.substr(11, 5) : module.time;
    std::string state;
    switch (module.state) {
    case State::SetUp: state = "set up at " + at; break;
    case State::Carrying: state = "failed at " + at + " carrying its values"; break;
    case State::Started: state = "being set up at " + at + " when the batch stopped, carrying its values"; break;
    }
    const std::string of = batch.empty() ? "the record" : "batch " + std::string(batch);
    return "this is module " + std::to_string(module.unit + 1) + " of " + of + " (" + UpperCase(std::string(address)) + "), "
        + state + ": put the next one on";
}

Choice ChooseUnit(const std::vector<Candidate>& candidates, std::string_view module)
{
    Choice choice;
    for (const Candidate& candidate : candidates) {
        if (candidate.carried && !module.empty() && candidate.carrier == module)
            return {candidate.unit, false, std::nullopt};
    }
    for (const Candidate& candidate : candidates) {
        const bool anothers = candidate.carried && !candidate.carrier.empty();
        if (anothers && !choice.passedOver)
            choice.passedOver = candidate;
        if (!anothers && !choice.unit) {
            choice.unit = candidate.unit;
            choice.unknownCarrier = candidate.carried;
        }
    }
    return choice;
}

Claimed ClaimFromRecord(Batch& batch, const KnownModules& known, const std::string& port, std::string_view module,
                        bool retry)
{
    Claimed claimed;
    if (const KnownModules::Module* shown = known.Find(module);
        shown != nullptr && (shown->state == KnownModules::State::SetUp || !retry)) {
        claimed.kind = Claimed::Known;
        claimed.known = *shown;
        return claimed;
    }
    claimed.choice = batch.ModuleTold(port, module);
    claimed.kind = claimed.choice.unit ? Claimed::Unit : Claimed::CarriedElsewhere;
    return claimed;
}

Batch::Batch(std::size_t units, const std::vector<Recorded>& recorded, Carrying carrying)
    : total_(units)
    , takenToCarry_(std::move(carrying.takenToCarry))
    , carriers_(carrying.retry ? std::move(carrying.carriers) : std::map<std::size_t, std::string>())
{
    for (std::size_t unit = 0; unit < units; ++unit) {
        const Recorded shown = unit < recorded.size() ? recorded[unit] : Recorded::Nothing;
        if (shown == Recorded::SetUp) {
            ++setUpCount_;
            ++resumed_;
        } else if (shown == Recorded::Carried && carrying.retry) {
            retrying_.push_back(unit);
            retried_.push_back(unit);
        } else if (shown == Recorded::Carried) {
            ++carried_;
        } else if (shown == Recorded::InProgress) {
            ++inProgress_;
        } else {
            waiting_.push_back(unit);
        }
    }
}

bool Batch::Retried(std::size_t unit) const
{
    return std::binary_search(retried_.begin(), retried_.end(), unit);
}

// A unit back in its queue, first: a carried one stays carried.
void Batch::putBack(std::size_t unit)
{
    (Retried(unit) ? retrying_ : waiting_).push_front(unit);
}

std::optional<std::size_t> Batch::ModuleReady(const std::string& port)
{
    if (stopped_ || Busy(port) || (retrying_.empty() && waiting_.empty()))
        return std::nullopt;
    std::deque<std::size_t>& queue = retrying_.empty() ? waiting_ : retrying_;
    const std::size_t unit = queue.front();
    queue.pop_front();
    inFlight_[port] = unit;
    return unit;
}

Choice Batch::ModuleTold(const std::string& port, std::string_view module)
{
    const auto found = inFlight_.find(port);
    if (found == inFlight_.end())
        return {};
    putBack(found->second);
    inFlight_.erase(found);
    // Every carried unit that waits (few), then the first fresh one.
    std::vector<Candidate> candidates;
    for (std::size_t unit : retrying_) {
        const auto carrier = carriers_.find(unit);
        candidates.push_back({unit, true, carrier == carriers_.end() ? std::string() : carrier->second});
    }
    if (!waiting_.empty())
        candidates.push_back({waiting_.front(), false, {}});
    Choice choice = ChooseUnit(candidates, module);
    if (choice.unit) {
        std::deque<std::size_t>& queue = Retried(*choice.unit) ? retrying_ : waiting_;
        queue.erase(std::find(queue.begin(), queue.end(), *choice.unit));
        inFlight_[port] = *choice.unit;
    }
    return choice;
}

void Batch::Reassign(const std::string& port, std::size_t unit)
{
    const auto found = inFlight_.find(port);
    if (found == inFlight_.end() || found->second == unit)
        return;
    for (std::deque<std::size_t>* queue : {&retrying_, &waiting_}) {
        const auto given = std::find(queue->begin(), queue->end(), unit);
        if (given != queue->end())
            queue->erase(given);
    }
    putBack(found->second);
    found->second = unit;
}

void Batch::Exhausted(const std::string& port)
{
    Withdrawn(port);
    exhausted_ = true;
    stopped_ = true;
}

void Batch::Withdrawn(const std::string& port)
{
    const auto found = inFlight_.find(port);
    if (found == inFlight_.end())
        return;
    putBack(found->second);
    inFlight_.erase(found);
}

void Batch::SessionEnded(const std::string& port, bool setUp, int sent)
{
    const auto found = inFlight_.find(port);
    if (found == inFlight_.end())
        return;
    const std::size_t unit = found->second;
    const bool carried = unit < takenToCarry_.size() && sent >= takenToCarry_[unit];
    failedCount_ += setUp ? 0 : 1;
    if (setUp)
        ++setUpCount_;
    else if (carried)
        ++carried_;
    else
        putBack(unit);
    inFlight_.erase(found);
    if (setUp)
        failuresInARow_ = 0;
    else
        failed();
}

void Batch::ModuleUnreached(const std::string& port)
{
    if (!Busy(port))
        return;
    Withdrawn(port);
    ++failedCount_;
    failed();
}

void Batch::failed()
{
    ++failuresInARow_;
    if (maxFailuresInARow_ != 0 && failuresInARow_ >= maxFailuresInARow_ && !stopped_) {
        stoppedForFailures_ = true;
        stopped_ = true;
    }
}

} // namespace qz::batch
