#include "BatchSession.h"

#include "AirScanner.h"
#include "BatchFiles.h"

namespace qz {

namespace {

QString pathOf(const std::string& path)
{
    return QString::fromLocal8Bit(path.c_str());
}

std::string wordsOf(const QFile& file)
{
    return file.errorString().toLocal8Bit().toStdString();
}

// The whole file; why not, in the system's words. A missing record reads as empty.
std::optional<std::string> readWhole(const std::string& path, QByteArray& text)
{
    QFile file(pathOf(path));
    if (!file.open(QIODevice::ReadOnly))
        return wordsOf(file);
    text = file.readAll();
    return std::nullopt;
}

std::string_view viewOf(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
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
    if (withRecord) {
        if (const std::string problem = BatchFileProblem(order_.recordFile, BatchFile::Record); !problem.empty())
            return BatchProblem{BatchProblem::RecordFile, problem};
    }
    if (!dryRun) {
        if (const std::string held = lock_.take(order_.recordFile); !held.empty())
            return BatchProblem{BatchProblem::RecordHeld, held};
    }
    // Each read only as long as it is planned from: a values file may be large.
    std::optional<batch::Plan> planned;
    {
        QByteArray values;
        if (fromFile) {
            if (std::optional<std::string> problem = readWhole(order_.valuesFile, values))
                return BatchProblem{BatchProblem::ValuesUnread, *problem};
        }
        if (order_.verify && !dryRun) {
            if (const std::string why = AirScanner::CannotListen(order_.adapter); !why.empty())
                return BatchProblem{BatchProblem::CannotListen, why};
        }
        QByteArray recorded;
        if (withRecord && QFile::exists(pathOf(order_.recordFile)))
            readWhole(order_.recordFile, recorded); // readable, as checked above
        const batch::Source source{order_.counted, order_.modules, fromFile, viewOf(values)};
        auto result = batch::PlanBatch(*order_.page, order_.values, source, viewOf(recorded));
        if (auto* refusal = std::get_if<batch::Refusal>(&result)) {
            lock_.release();
            return BatchProblem{BatchProblem::Refused, {}, std::move(*refusal)};
        }
        planned = std::get<batch::Plan>(std::move(result));
    }
    plan_ = std::move(*planned);
    batch_ = std::make_unique<batch::Batch>(plan_.units.size(), plan_.recorded,
                                            batch::Carrying{plan_.takenToCarry, order_.retryFailed});
    batch_->StopAfterFailuresInARow(order_.maxFailuresInARow);
    return std::nullopt;
}

std::optional<BatchProblem> BatchSession::open(std::vector<std::string> ports, const serial::SessionSettings& settings)
{
    record_.setFileName(pathOf(order_.recordFile));
    if (!record_.open(QIODevice::Append) || (!plan_.opening.empty() && !write(plan_.opening))) {
        const std::string why = wordsOf(record_);
        record_.close();
        lock_.release();
        return BatchProblem{BatchProblem::RecordUnwritten, why};
    }
    const PageSpec& page = *order_.page;
    runner_ = std::make_unique<BatchRunner>(
        *batch_, [this, &page](std::size_t unit) { return batch::ListOf(page, plan_.units[unit]); },
        std::move(ports), settings);
    // The record's line is written before anybody hears of the module's end.
    connect(runner_.get(), &BatchRunner::moduleEnded, this, &BatchSession::moduleEnded);
    connect(runner_.get(), &BatchRunner::finished, this, [this] {
        record_.close();
        lock_.release();
    });
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

bool BatchSession::write(const std::string& line)
{
    return record_.write(line.data(), static_cast<qint64>(line.size())) == static_cast<qint64>(line.size())
        && record_.flush();
}

void BatchSession::moduleEnded(const std::string& port, std::size_t unit, const serial::Verdict& verdict)
{
    if (write(batch::RecordLine(UtcTimestamp(), port, plan_.units[unit], verdict.taken, verdict.total,
                                verdict.succeeded(), verdict.message))
        || !recordFailure_.empty())
        return;
    recordFailure_ = wordsOf(record_);
    runner_->stop();
    emit recordNotWritten(recordFailure_);
}

} // namespace qz
