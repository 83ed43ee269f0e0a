#pragma once

#include "BatchSession.h"
#include "PageValues.h"
#include "SerialLink.h"

#include <QWidget>

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSettings;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;
class TTranscript;

// The send dialog's "Several modules": one module after another, on one or more ports,
// each with its own values (a counted field, or the rows of a CSV file), and a record of
// each. It plans and runs the batch, and shows what the batch's events tell.
class TSeveralModules : public QWidget {
    Q_OBJECT
public:
    // cannotListen: why nothing can be heard over the air here, or empty.
    TSeveralModules(PageValues page, const QString& cannotListen, TakeLink takeLink, QWidget* parent);
    // The answer came: why nothing can be heard, or empty.
    void setCannotListen(const QString& cannotListen);
    bool canListen() const { return canListen_; }
    ~TSeveralModules() override;

    void stop();
    bool running() const;
    // The one port waiting for a swapped module, if exactly one is.
    std::optional<std::string> onlyWaitingPort() const;
    // Each module's values come from the values file, not from counting.
    bool valuesFromFile() const { return countedFields().empty(); }
    void keepChoices(QSettings& saved) const;
    void restoreChoices(const QSettings& saved);
    // The controls that say how the batch goes, all of them: none may change while it runs.
    const std::vector<QWidget*>& choices() const { return choices_; }

    QComboBox* cbEachGets;
    QSpinBox* spnModules;
    QSpinBox* spnMaxFailures;
    QLineEdit* edtValuesFile;
    QLineEdit* edtRecordFile;
    QLineEdit* edtMorePorts;
    QCheckBox* cbVerifyEach;
    QCheckBox* cbRetryFailed;
    QTreeWidget* tvModules;
    QLabel* lbLine; // the counts of a batch that benches share, beside the table
    QProgressBar* pbBatch;
    TTranscript* tvTranscript;
    QLabel* lbVerdict;
    QPushButton* btnStartBatch;
    QPushButton* btnNextModule;
    QPushButton* btnStopBatch;
    QPushButton* btnSaveReport;

    // Writes what the record named in the record field shows, one row per module, to path
    // as CSV; false (and the verdict says why) when it cannot.
    bool saveReport(const QString& path);

signals:
    // The batch began or ended, or a port began or ended waiting: what the dialog lets be
    // used has changed.
    void changed();

private:
    void start();
    void nextModule(const std::string& port);
    QLayout* layOutChoices(QPushButton* chooseValues, QPushButton* chooseRecord);
    void showProgress();
    // With several ports at once each line says its port, as qzconfig prints it.
    QString portPrefix(const std::string& port) const;
    void showLines(const std::string& port, const QStringList& lines);
    QString refusalWords(const qz::batch::Refusal& refusal) const;
    QString problemWords(const qz::BatchProblem& problem, const QString& valuesPath, const QString& recordPath) const;
    QString unitWords(std::size_t unit) const;
    void offerCounting(const qz::PageSpec& page);
    // The fields the choice counts up; none when the values come from a file.
    std::vector<qz::Field> countedFields() const;
    QString label(qz::Field field) const;
    QString identityLabels() const;
    void follow(const qz::BatchEvent& happened);
    void showExchange(const std::string& port, const qz::serial::Exchange& exchange);
    void showModuleStarted(const std::string& port, std::size_t unit);
    void showModuleEnded(const std::string& port, std::size_t unit, const qz::serial::Verdict& verdict);
    void showWaiting(const std::string& port, bool present);
    void showListening(const std::string& port, const std::string& advice, int seconds);
    void showHeard(const std::string& port, const qz::air::Verdict& verdict);
    void showFinished();

    PageValues page_;
    TakeLink takeLink_;
    std::vector<QWidget*> choices_; // what says how the batch goes
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
