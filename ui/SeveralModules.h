#pragma once

#include "BatchSession.h"
#include "PageValues.h"

#include <QGroupBox>

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSettings;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

// The send dialog's "Several modules": one module after another, on one or more ports,
// each with its own values (a counted field, or the rows of a CSV file), and a record of
// each. It plans and runs the batch; the dialog shows its transcript.
class TSeveralModules : public QGroupBox {
    Q_OBJECT
public:
    // cannotListen: why nothing can be heard over the air here, or empty.
    TSeveralModules(PageValues page, const QString& cannotListen, QWidget* parent);
    // The answer came: why nothing can be heard, or empty.
    void setCannotListen(const QString& cannotListen);
    ~TSeveralModules() override;

    // Plans the batch over these ports and starts it; the refusal in words when it cannot,
    // with nothing opened.
    QString start(std::vector<std::string> ports, const qz::serial::SessionSettings& settings);
    void stop();
    bool running() const;
    // The batch runs on more than one port: each line of its transcript names its port.
    bool severalPorts() const { return session_ && session_->runner().ports().size() > 1; }
    // The one port waiting for a swapped module, if exactly one is.
    std::optional<std::string> onlyWaitingPort() const;
    void nextModule(const std::string& port);
    // While a session runs its choices stand; its table, and the rows' buttons, work on.
    void lockChoices(bool locked);
    void keepChoices(QSettings& saved) const;
    // A part of the dialog that serves one module only: hidden while several are set up.
    void showOnlyForOne(QWidget* widget);
    void restoreChoices(const QSettings& saved);

    QComboBox* cbEachGets;
    QSpinBox* spnModules;
    QSpinBox* spnMaxFailures;
    QLineEdit* edtValuesFile;
    QLineEdit* edtRecordFile;
    QLineEdit* edtMorePorts;
    QCheckBox* cbVerifyEach;
    QCheckBox* cbRetryFailed;
    QTreeWidget* tvModules;

signals:
    void exchanged(const std::string& port, const qz::serial::Exchange& exchange);
    // heading: the module's port and values, a line of the transcript before its own.
    void moduleStarted(const std::string& port, const QString& heading);
    void moduleEnded(const std::string& port, const qz::serial::Verdict& verdict);
    void progressed(int setUp, int total);
    void status(const QString& words);
    // A line for the transcript about the module on port (empty: about the batch).
    void note(const std::string& port, const QString& words);
    // The module on port was listened for: the verdict, a line each.
    void heard(const std::string& port, const QStringList& lines);
    void finished(const QString& verdictLine);

private:
    QString refusalWords(const qz::batch::Refusal& refusal) const;
    QString problemWords(const qz::BatchProblem& problem, const QString& valuesPath, const QString& recordPath) const;
    QString unitWords(std::size_t unit) const;
    void offerCounting(const qz::PageSpec& page);
    // The fields the choice counts up; none when the values come from a file.
    std::vector<qz::Field> countedFields() const;
    QString label(qz::Field field) const;
    QString identityLabels() const;
    void showEvent(const qz::BatchEvent& happened);
    void showExchange(const std::string& port, const qz::serial::Exchange& exchange);
    void showModuleStarted(const std::string& port, std::size_t unit);
    void showModuleEnded(const std::string& port, std::size_t unit, const qz::serial::Verdict& verdict);
    void showWaiting(const std::string& port, bool present);
    void showListening(const std::string& port, const std::string& advice, int seconds);
    void showHeard(const std::string& port, const qz::air::Verdict& verdict);
    void showFinished();

    PageValues page_;
    std::vector<QWidget*> choices_; // what says how the batch goes
    std::vector<QWidget*> singleOnly_;
    bool canListen_ = false;
    bool verifyWanted_ = false; // "verify each module", as the user left it
    std::unique_ptr<qz::BatchSession> session_;
    std::map<std::string, QTreeWidgetItem*> rows_; // each port's latest module
    std::map<std::string, bool> waiting_;          // the ports waiting: present or awaited
    // Waiting for the module the record shows to be swapped, and what it shows of it.
    std::map<std::string, qz::batch::KnownModules::State> heldFromRecord_;
    QString paused_;                               // why the batch waits for the radio, in words
    QString recordPath_;                           // as the user gave it, for messages
};
