#pragma once

// One batch, from its files to its record: the values file and the record checked, the
// record taken and read back, the batch planned, its runner made; each module's unit
// claimed in the record before the module is sent anything, and its row added as the
// module ends. The window and qzconfig only put its events into words.

#include "BatchOrder.h"
#include "BatchPlan.h"
#include "BatchRecord.h"
#include "BatchRunner.h"

#include <QObject>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qz {

// Why a batch did not begin. No port was opened.
struct BatchProblem {
    enum Kind {
        ValuesFile,       // detail: why the values file cannot be one ("a folder, not a CSV file")
        ValuesUnread,     // detail: why it could not be read, in the system's words
        RecordFile,       // detail: why the record cannot be one
        RecordUnwritten,  // detail: why it could not be opened to add to it, in the system's words
        RecordHeld,       // detail: who holds it ("another batch is using it (process 4242, qzconfig)")
        RecordBroken,     // detail: why it cannot be taken ("its lock file r.csv.lock is a folder, ...")
        RecordUnreachable, // detail: "cannot reach the record's database at db.line1:5432: ..."
        CannotListen,     // detail: why nothing can listen over the air
        Refused,          // refusal: what in the values, the values file or the record is at fault
    };
    Kind kind;
    std::string detail;
    batch::Refusal refusal{};
};

class BatchSession : public QObject {
    Q_OBJECT
public:
    explicit BatchSession(BatchOrder order, QObject* parent = nullptr);
    ~BatchSession() override;

    // Checks both files, takes the record for this batch, reads them and plans. A dry run
    // neither takes the record nor needs a radio.
    std::optional<BatchProblem> plan(bool dryRun = false);
    // Once planned: opens the record to add to it (its header first, or the line break a
    // line cut short lacks) and makes the batch and its runner, to be started once the
    // shell has connected to its signals.
    std::optional<BatchProblem> open(std::vector<std::string> ports, const serial::SessionSettings& settings);

    const batch::Plan& planned() const { return plan_; }
    batch::Batch& batch() { return *batch_; }
    BatchRunner& runner() { return *runner_; }
    batch::Values unit(std::size_t unit) const { return plan_.units[unit]; }
    // "00FF" or "Lamp-03, 000E0B000003": the unit's values of the fields that vary.
    std::vector<std::string> varyingValues(std::size_t unit) const;
    // The record could not be written, and the batch was stopped: why, in the system's words.
    const std::string& recordFailure() const { return recordFailure_; }
    // A record benches share, once the batch finished: "40 of 40 claimed, 38 set up, 2
    // failed"; empty for a file.
    const std::string& sharedCounts() const { return sharedCounts_; }
    // While it runs: the shared record's counts as they stand now ("12 of 60 claimed, ..."),
    // or empty for a file, or while its server cannot be reached.
    std::string lineCounts();
    // What the user should know of the record once it is taken (a lock file left over), or empty.
    const std::string& recordNote() const { return recordNote_; }

signals:
    // Everything the batch does, once open: the runner's events, each after the record has
    // what it says (a module's row is written before its end is told), and the record's
    // own failure.
    void event(const qz::BatchEvent& event);

private:
    BatchRunner::Claim claim(const std::string& port, const std::string& module);
    std::string moduleIdentity(const std::string& module) const;
    int commandCount(std::size_t unit) const;
    std::string unitNamed(std::size_t unit) const;
    std::string passedOverWords(const batch::Choice& choice) const;
    std::string unknownCarrierWords(std::size_t unit) const;
    void waitForRecord(const std::string& why);
    void askRecord();
    void runnerEvent(const BatchEvent& event);
    // Adds the module's final row; false when it could not be written.
    bool moduleEnded(const std::string& port, std::size_t unit, const serial::Verdict& verdict);
    // Whether the record took a row; if not (why), the batch hears of it once.
    bool recorded(const std::string& why);

    BatchOrder order_;
    std::unique_ptr<BatchRecord> record_;
    batch::Plan plan_;
    std::unique_ptr<batch::Batch> batch_;
    std::unique_ptr<BatchRunner> runner_;
    std::map<std::string, std::string> moduleOn_; // by port: the address its module told
    std::string recordFailure_;
    std::string recordNote_;
    std::string sharedCounts_;
    bool recordPaused_ = false;
    std::vector<batch::RecordRow> pendingEnds_; // ends to write once the server is back
};

} // namespace qz
