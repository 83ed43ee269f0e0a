#include "AirCheck.h"

#include <algorithm>

namespace qz {

AirCheck::AirCheck(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<qz::air::Verdict>();
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (listening_)
            finish(listening_->timedOut());
    });
    connect(&scanner_, &AirScanner::heard, this, &AirCheck::heard);
    connect(&scanner_, &AirScanner::patternsActive, this, [this] {
        if (listening_)
            listening_->patternsActive();
    });
    // Queued, as lost: the monitor that tells goes when listening ends.
    connect(
        &scanner_, &AirScanner::patternsUnavailable, this,
        [this](const std::string& why) {
            if (!listening_)
                return;
            if (std::optional<air::Verdict> verdict = listening_->patternsUnavailable(why))
                finish(*verdict);
        },
        Qt::QueuedConnection);
    // Queued: the scanner's listener, which tells, goes when listening ends.
    connect(&scanner_, &AirScanner::lost, this, &AirCheck::lose, Qt::QueuedConnection);
    connect(&scanner_, &AirScanner::failed, this, &AirCheck::lose);
    connect(&scanner_, &AirScanner::started, this, [this] {
        deadline_.start(seconds_ * 1000);
        emit started();
    });
}

void AirCheck::start(const air::Expectation& expectation, int seconds, const std::string& adapter)
{
    listening_.emplace(expectation);
    seconds_ = seconds;
    // bluetoothd's monitor listens alone for half the time, three seconds at most: long
    // enough to hear a module that advertises every second, and then BlueZ discovers.
    const int monitorAloneMs = std::min(seconds * 1000 / 2, 3000);
    scanner_.start(adapter, {expectation.address, false, air::ProofPatterns(expectation), false, monitorAloneMs});
}

void AirCheck::stop()
{
    if (listening_)
        finish(listening_->stopped());
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

void AirCheck::lose(const std::string& why)
{
    if (!listening_)
        return;
    end();
    emit failed(why);
}

void AirCheck::finish(const air::Verdict& verdict)
{
    end();
    emit finished(verdict);
}

// Listening ends before anyone hears how, so that a caller may start the next check.
void AirCheck::end()
{
    deadline_.stop();
    scanner_.stop();
    listening_.reset();
}

} // namespace qz
