#include "BatchSession.h"

#include "AirScanner.h"
#include "BatchFiles.h"
#include "BatchWords.h"
#include "RecordAddress.h"

#include <QFile>
#include <QTimer>


namespace qz {

namespace {

constexpr int recordPollMs = 2000;

QString pathOf(const std::string& path)
{
    return QString::fromLocal8Bit(path.c_str());
}

std::string wordsOf(const QFile& file)
{
    return file.errorString().toLocal8Bit().toStdString();
}

// The whole file; why not, in the system's words. A missing record reads as empty.
std::optional<std::string> readWhole(const std::string& path, std::string& text)
{
    QFile file(pathOf(path));
    if (!file.open(QIODevice::ReadOnly))
        return wordsOf(file);
    const QByteArray bytes = file.readAll();
    text.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return std::nullopt;
}

// How a batch is written down for every bench to give the same.
enum class DefinitionForm {
    Commands, // the first module's commands: they say each value as the page means it
    Values,   // each value as it was typed, as the version before this one wrote it
};

// What makes a batch the same on every bench: its page, the first module's commands (00FE
// and 00254 are one minor), what counts, in the page's order, or which rows, and how many
// modules. A line each, so that the first that differs can be named.
std::string definitionOf(const BatchOrder& order, const batch::Plan& plan, DefinitionForm form = DefinitionForm::Commands)
{
    const PageSpec& page = *order.page;
    const batch::Values first = plan.units[0];
    std::string definition = "page " + std::string(page.name) + "\n";
    if (form == DefinitionForm::Commands) {
        for (const std::string& command : batch::CommandsOf(page, first))
            definition += command + "\n";
    } else {
        for (const FieldSpec& field : page.fields) {
            if (!batch::Counts(plan.varying, field.field))
                definition += std::string(field.option) + " " + batch::ValueOf(page, first, field.field) + "\n";
        }
    }
    if (!order.counted.empty()) {
        if (form == DefinitionForm::Commands) {
            for (const FieldSpec& field : page.fields) {
                if (batch::Counts(order.counted, field.field))
                    definition += "counting " + std::string(field.option) + "\n";
            }
        } else {
            for (Field field : order.counted)
                definition += "counting " + std::string(FindField(page, field)->option) + " from "
                    + batch::ValueOf(page, first, field) + "\n";
        }
        return definition + "modules " + std::to_string(plan.units.size()) + "\n";
    }
    // A values file's rows, by a digest of them all (FNV-1a).
    std::uint64_t digest = 14695981039346656037ull;
    for (std::size_t unit = 0; unit < plan.units.size(); ++unit) {
        for (const char c : batch::CsvLine(plan.units[unit]) + "\n")
            digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return definition + "values file of " + std::to_string(plan.units.size()) + " rows, digest "
        + std::to_string(digest) + "\n";
}

} // namespace

BatchSession::BatchSession(BatchOrder order, QObject* parent)
    : QObject(parent)
    , order_(std::move(order))
{
}

BatchSession::~BatchSession() = default;

std::optional<BatchProblem> BatchSession::plan(bool dryRun)
{
    const bool fromFile = order_.counted.empty();
    if (fromFile) {
        if (const std::string problem = BatchFileProblem(order_.valuesFile, BatchFile::Values); !problem.empty())
            return BatchProblem{BatchProblem::ValuesFile, problem};
    }
    const bool withRecord = !order_.recordFile.empty();
    const bool shared = IsDatabaseAddress(order_.recordFile);
    if (shared) {
        if (const auto address = ReadDatabaseAddress(order_.recordFile); std::holds_alternative<std::string>(address))
            return BatchProblem{BatchProblem::RecordFile, std::get<std::string>(address)};
    } else if (withRecord) {
        if (const std::string problem = BatchFileProblem(order_.recordFile, BatchFile::Record); !problem.empty())
            return BatchProblem{BatchProblem::RecordFile, problem};
    }
    // A dry run reads a shared record too, to show what it says of each module; a file it
    // reads without taking it.
    if (withRecord && (shared || !dryRun)) {
        record_ = MakeRecord(order_.recordFile, order_.retryFailed);
        // Stop and Ctrl-C are not held up by a server that stopped answering.
        record_->stopWhen([this] { return batch_ && batch_->StopAsked(); });
    }
    if (record_) {
        std::string words;
        switch (record_->take(words)) {
        case BatchRecord::Taken::Yes: recordNote_ = words; break;
        case BatchRecord::Taken::Held: return BatchProblem{BatchProblem::RecordHeld, words};
        case BatchRecord::Taken::Broken: return BatchProblem{BatchProblem::RecordBroken, words};
        case BatchRecord::Taken::Unwritten: return BatchProblem{BatchProblem::RecordUnwritten, words};
        case BatchRecord::Taken::Unreachable: return BatchProblem{BatchProblem::RecordUnreachable, words};
        }
    }
    // Each read only as long as it is planned from: a values file may be large.
    std::optional<batch::Plan> planned;
    {
        std::string values;
        if (fromFile) {
            if (std::optional<std::string> problem = readWhole(order_.valuesFile, values))
                return BatchProblem{BatchProblem::ValuesUnread, *problem};
        }
        if (order_.verify && !dryRun) {
            if (const std::string why = AirScanner::CannotListen(order_.adapter); !why.empty())
                return BatchProblem{BatchProblem::CannotListen, why};
        }
        // What the record shows is read from the very file that is held.
        std::string recorded;
        if (record_) {
            if (const std::string why = record_->read(recorded); !why.empty())
                return BatchProblem{BatchProblem::RecordFile, "cannot read it: " + why};
        } else if (withRecord && !shared && QFile::exists(pathOf(order_.recordFile))) {
            readWhole(order_.recordFile, recorded); // readable, as checked above
        }
        const batch::Source source{order_.counted, order_.modules, fromFile, values};
        auto result = batch::PlanBatch(*order_.page, order_.values, source, recorded);
        if (auto* refusal = std::get_if<batch::Refusal>(&result)) {
            if (record_)
                record_->release();
            return BatchProblem{BatchProblem::Refused, {}, std::move(*refusal)};
        }
        planned = std::get<batch::Plan>(std::move(result));
    }
    plan_ = std::move(*planned);
    if (record_) {
        bool lost = false;
        // A batch the version before this one began goes on as the same, once it is the same.
        const BatchRecord::Definition definition{definitionOf(order_, plan_),
                                                 definitionOf(order_, plan_, DefinitionForm::Values)};
        if (const std::string why = record_->adopt(*order_.page, plan_, definition, dryRun, lost); !why.empty()) {
            record_->release();
            // A server lost meanwhile is no refusal of the batch.
            return BatchProblem{lost ? BatchProblem::RecordUnreachable : BatchProblem::RecordBroken, why};
        }
    }
    batch_ = std::make_unique<batch::Batch>(plan_.units.size(), plan_.recorded,
                                            batch::Carrying{plan_.takenToCarry, order_.retryFailed, plan_.carriers});
    batch_->StopAfterFailuresInARow(order_.maxFailuresInARow);
    return std::nullopt;
}

std::optional<BatchProblem> BatchSession::open(std::vector<std::string> ports, const serial::SessionSettings& settings)
{
    if (record_) {
        if (const std::string why = record_->open(plan_.opening); !why.empty()) {
            record_->release();
            return BatchProblem{BatchProblem::RecordUnwritten, why};
        }
    }
    const PageSpec& page = *order_.page;
    serial::SessionSettings asking = settings;
    asking.askModuleAddress = true;
    runner_ = std::make_unique<BatchRunner>(
        *batch_, [this, &page](std::size_t unit) { return batch::ListOf(page, plan_.units[unit]); },
        [this](const std::string& port, const std::string& module) { return claim(port, module); },
        std::move(ports), asking);
    connect(runner_.get(), &BatchRunner::event, this, &BatchSession::runnerEvent);
    runner_->holdingAModule(plan_.portsHoldingAModule);
    if (order_.verify)
        runner_->verifyOverTheAir(order_.listenSeconds, order_.adapter, order_.onRadioLoss);
    return std::nullopt;
}

std::vector<std::string> BatchSession::varyingValues(std::size_t unit) const
{
    const batch::Values values = plan_.units[unit];
    std::vector<std::string> varying;
    for (Field field : plan_.varying)
        varying.push_back(batch::ValueOf(*order_.page, values, field));
    return varying;
}

bool BatchSession::recorded(const std::string& why)
{
    if (why.empty())
        return true;
    if (recordFailure_.empty()) {
        recordFailure_ = why;
        emit event(batchevent::RecordNotWritten{why});
    }
    return false;
}

void BatchSession::runnerEvent(const BatchEvent& happened)
{
    // The record's row is written before anybody hears of the module's end.
    const auto* ended = std::get_if<batchevent::ModuleEnded>(&happened);
    const bool recorded = ended == nullptr || moduleEnded(ended->port, ended->unit, ended->verdict);
    if (std::holds_alternative<batchevent::Finished>(happened) && record_) {
        // What the line's batch stands at, read while the record is still held.
        sharedCounts_ = record_->counts();
        record_->release();
    }
    emit event(happened);
    // Its started row carries the values already: a final row that cannot be written
    // loses nothing, but the batch stops, since the next claim could not be written either.
    if (!recorded)
        runner_->stop();
}

// A module told its address (or did not): the record, the ledger, answers which unit it
// gets (and has it on the disk or the server first), or why none; this puts the answer
// into what the runner does.
BatchRunner::Claim BatchSession::claim(const std::string& port, const std::string& module)
{
    using Claimed = batch::Claimed;
    BatchRecord::ClaimAsk ask{port, module, moduleIdentity(module), order_.retryFailed, [this, &port, &module](std::size_t unit) {
                                  return batch::RecordRow{UtcTimestamp(), port, module, plan_.units[unit], 0, 0,
                                                          commandCount(unit), batch::StartedResult, {}};
                              }};
    const Claimed claimed = record_->claim(ask, *batch_, plan_);
    if (claimed.kind == Claimed::Unit) {
        const std::size_t unit = *claimed.choice.unit;
        moduleOn_[port] = module;
        return {BatchRunner::Claim::Go, unit, claimed.choice.unknownCarrier ? unknownCarrierWords(unit) : std::string()};
    }
    batch_->Withdrawn(port); // its unit, if it held one, waits for the next module
    switch (claimed.kind) {
    case Claimed::Unit: break;
    case Claimed::Known:
        return {BatchRunner::Claim::KnownModule, 0, batch::KnownModules::Words(module, claimed.known, claimed.knownBatch)};
    case Claimed::CarriedElsewhere: return {BatchRunner::Claim::Held, 0, passedOverWords(claimed.choice)};
    case Claimed::NoneLeft: return {BatchRunner::Claim::NoneLeft, 0, {}};
    case Claimed::Refused:
        recorded(claimed.why);
        runner_->stop();
        return {BatchRunner::Claim::NotRecorded, 0, claimed.why};
    case Claimed::Busy:
    case Claimed::Unreachable: break;
    }
    // A claim given up since a stop was asked: the stop says all there is to say.
    if (batch_->StopAsked())
        return {BatchRunner::Claim::Held, 0, {}};
    if (order_.onRecordLoss == RadioLoss::Pause) {
        waitForRecord(claimed.why);
        return {BatchRunner::Claim::Held, 0, {}};
    }
    recorded(claimed.why);
    runner_->stop();
    return {BatchRunner::Claim::NotRecorded, 0, claimed.why};
}

// Where the page's identity is the module's own address, that address as an identity: a
// module known by the address its list gave it.
std::string BatchSession::moduleIdentity(const std::string& module) const
{
    const Identity& identity = order_.page->identity;
    if (!identity.isModuleAddress || module.empty())
        return {};
    batch::Values values = plan_.units[0];
    const FieldSpec* address = FindField(*order_.page, identity.fields.front());
    values[static_cast<std::size_t>(address - order_.page->fields.data())] = module;
    return batch::IdentityOf(*order_.page, batch::CommandsOf(*order_.page, values));
}

int BatchSession::commandCount(std::size_t unit) const
{
    return static_cast<int>(batch::CommandsOf(*order_.page, plan_.units[unit]).size());
}

// "minor 10127": a unit by the values that tell it from the others.
std::string BatchSession::unitNamed(std::size_t unit) const
{
    const std::vector<std::string> values = varyingValues(unit);
    std::string named;
    for (std::size_t at = 0; at < values.size(); ++at)
        named += (at == 0 ? "" : ", ") + std::string(FindField(*order_.page, plan_.varying[at])->option) + " " + values[at];
    return named;
}

std::string BatchSession::passedOverWords(const batch::Choice& choice) const
{
    if (!choice.passedOver)
        return {};
    return batch::CarriedElsewhereWords(unitNamed(choice.passedOver->unit), choice.passedOver->carrier);
}

std::string BatchSession::unknownCarrierWords(std::size_t unit) const
{
    return batch::UnknownCarrierWords(unitNamed(unit));
}

std::string BatchSession::lineCounts()
{
    return record_ && !recordPaused_ ? record_->counts() : std::string();
}

// The window's batch waits for the record's server: asked every few seconds, and the batch
// goes on by itself once it answers.
void BatchSession::waitForRecord(const std::string& why)
{
    runner_->holdTaking();
    if (recordPaused_)
        return;
    recordPaused_ = true;
    emit event(batchevent::RecordPaused{why});
    askRecord();
}

void BatchSession::askRecord()
{
    if (batch_->Finished())
        return; // stopped meanwhile
    // The record waits for its server within a bound, the event loop answering meanwhile.
    if (!record_->probe().empty()) {
        QTimer::singleShot(recordPollMs, this, &BatchSession::askRecord);
        return;
    }
    while (!pendingEnds_.empty()) {
        if (!record_->end(pendingEnds_.front()).empty()) {
            QTimer::singleShot(recordPollMs, this, &BatchSession::askRecord);
            return;
        }
        pendingEnds_.erase(pendingEnds_.begin());
    }
    recordPaused_ = false;
    emit event(batchevent::RecordBack{});
    runner_->resumeTaking();
}

bool BatchSession::moduleEnded(const std::string& port, std::size_t unit, const serial::Verdict& verdict)
{
    using State = batch::KnownModules::State;
    const std::string module = moduleOn_[port];
    moduleOn_.erase(port);
    const batch::Values values = plan_.units[unit];
    batch::RecordRow row{UtcTimestamp(), port, module, values, verdict.sent, verdict.taken, verdict.total,
                               verdict.succeeded() ? batch::SetUpResult : batch::FailedResult, verdict.message};
    const bool carries = unit < plan_.takenToCarry.size() && verdict.sent >= plan_.takenToCarry[unit];
    row.carries = carries;
    if (verdict.succeeded() || carries) {
        const batch::KnownModules::Module known{unit, row.time, verdict.succeeded() ? State::SetUp : State::Carrying};
        plan_.known.Add(module, known);
        const Identity& identity = order_.page->identity;
        if (identity.isModuleAddress)
            plan_.known.Add(batch::ValueOf(*order_.page, values, identity.fields.front()), known);
    } else {
        plan_.known.Forget(module);
    }
    if (!record_)
        return true;
    const std::string why = record_->end(row);
    // The window's batch waits for a lost server: the claim carries the values meanwhile,
    // and the module's end is written once the server answers.
    if (!why.empty() && order_.onRecordLoss == RadioLoss::Pause && !record_->probe().empty()) {
        pendingEnds_.push_back(row);
        waitForRecord(why);
        return true;
    }
    return recorded(why);
}

} // namespace qz
