#include "AirCheck.h"

namespace qz {

AirCheck::AirCheck(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<qz::air::Verdict>();
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &AirCheck::stop);
    connect(&scanner_, &AirScanner::heard, this, &AirCheck::heard);
}

std::string AirCheck::start(const air::Expectation& expectation, int seconds, const std::string& adapter)
{
    if (std::string problem = scanner_.start(adapter, expectation.address); !problem.empty())
        return problem;
    listening_.emplace(expectation);
    deadline_.start(seconds * 1000);
    return {};
}

void AirCheck::stop()
{
    if (listening_)
        finish(listening_->timedOut());
}

bool AirCheck::running() const
{
    return listening_.has_value();
}

void AirCheck::heard(const air::HeardDevice& device)
{
    if (!listening_)
        return;
    if (std::optional<air::Verdict> verdict = listening_->heard(device))
        finish(*verdict);
}

void AirCheck::finish(const air::Verdict& verdict)
{
    // Listening ends before anyone hears the verdict, so that a caller may start the next check.
    deadline_.stop();
    scanner_.stop();
    listening_.reset();
    emit finished(verdict);
}

} // namespace qz
