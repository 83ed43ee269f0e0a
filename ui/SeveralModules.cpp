// The send dialog's "Several modules": one module after another, on one or more ports,
// each with its own values, and a record of each.

#include "SendToModule.h"

#include "CommandLine.h"
#include "WindowStyle.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeWidget>

namespace {

using qz::named;

// How the dialog names an option that counts up from module to module.
QString countedCaption(const std::string& option)
{
    static const std::map<std::string, const char*> captions = {
        {"major", "Counting up the major value"},
        {"minor", "Counting up the minor value"},
        {"name", "Counting up the device name's digits"},
        {"address", "Counting up the device address"},
    };
    const auto found = captions.find(option);
    return QLatin1String(found != captions.end() ? found->second : option.c_str());
}

QByteArray wholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList morePorts(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts);
}

} // namespace

QWidget* TfrmSend::createSeveralModules()
{
    gbSeveral->setCheckable(true);
    gbSeveral->setChecked(false);
    gbSeveral->setVisible(!page_.subcommand.empty()); // a list from no page has no values to vary
    gbSeveral->setToolTip(QStringLiteral("Set up one module after another, each with its own values"));
    for (const std::string& option : page_.countable)
        cbEachGets->addItem(countedCaption(option), QString::fromStdString(option));
    cbEachGets->addItem(QStringLiteral("Values from a CSV file"), QString());
    spnModules->setRange(1, 99999);
    spnModules->setValue(10);
    edtValuesFile->setPlaceholderText(QStringLiteral("A CSV file: a header of options (name,address), then a row per module"));
    edtRecordFile->setText(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                           + QStringLiteral("/kavrel-modules.csv"));
    edtRecordFile->setToolTip(QStringLiteral("Each module's result is added to this CSV file; run the same batch "
                                             "again to finish it"));
    edtMorePorts->setPlaceholderText(QStringLiteral("More ports at once, like /dev/ttyUSB1, /dev/ttyUSB2"));
    auto* chooseValues = named(new QPushButton(QStringLiteral("Choose..."), gbSeveral), "btnValuesFile");
    auto* chooseRecord = named(new QPushButton(QStringLiteral("Choose..."), gbSeveral), "btnRecordFile");
    connect(chooseValues, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Each module's values"),
                                                          edtValuesFile->text(), QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!path.isEmpty())
            edtValuesFile->setText(path);
    });
    connect(chooseRecord, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Record of the modules"), edtRecordFile->text(),
                                                          QStringLiteral("CSV files (*.csv)"), nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty())
            edtRecordFile->setText(path);
    });
    const auto fromFile = [this] { return cbEachGets->currentData().toString().isEmpty(); };
    const auto showChoice = [this, fromFile] {
        spnModules->setEnabled(!fromFile());
        edtValuesFile->setEnabled(fromFile());
    };
    connect(cbEachGets, qOverload<int>(&QComboBox::currentIndexChanged), this, showChoice);
    connect(gbSeveral, &QGroupBox::toggled, this, [showChoice](bool on) {
        if (on)
            showChoice();
    });

    tvModules->setColumnCount(4);
    tvModules->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Values"), QStringLiteral("Progress"),
                                QStringLiteral("Result")});
    tvModules->setRootIsDecorated(false);
    tvModules->setFixedHeight(110);
    tvModules->header()->resizeSection(0, 110);
    tvModules->header()->resizeSection(1, 160);

    auto* valuesRow = new QHBoxLayout;
    valuesRow->addWidget(edtValuesFile, 1);
    valuesRow->addWidget(chooseValues);
    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(edtRecordFile, 1);
    recordRow->addWidget(chooseRecord);
    auto* form = new QFormLayout(gbSeveral);
    form->addRow(QStringLiteral("Each module gets:"), cbEachGets);
    form->addRow(QStringLiteral("Modules:"), spnModules);
    form->addRow(QStringLiteral("Values file:"), valuesRow);
    form->addRow(QStringLiteral("Record file:"), recordRow);
    form->addRow(QStringLiteral("More ports:"), edtMorePorts);
    form->addRow(tvModules);
    return gbSeveral;
}

void TfrmSend::btnNextModuleClick()
{
    if (runner_)
        runner_->nextModule();
}

void TfrmSend::startBatch(const qz::serial::SessionSettings& settings)
{
    const bool fromFile = cbEachGets->currentData().toString().isEmpty();
    if (fromFile && edtValuesFile->text().trimmed().isEmpty()) {
        lbVerdict->setText(QStringLiteral("Choose the CSV file that holds each module's values."));
        return;
    }
    if (edtRecordFile->text().trimmed().isEmpty()) {
        lbVerdict->setText(QStringLiteral("Choose the record file, where each module's result is written."));
        return;
    }
    qz::cli::BatchRequest request;
    request.subcommand = page_.subcommand;
    request.values = page_.values;
    request.ports = {chosenPort()};
    for (const QString& port : morePorts(edtMorePorts->text()))
        request.ports.push_back(qz::toBytes(port));
    request.settings = settings;
    if (fromFile) {
        request.valuesFile = qz::toBytes(edtValuesFile->text().trimmed());
    } else {
        request.countOption = cbEachGets->currentData().toString().toStdString();
        request.modules = static_cast<std::size_t>(spnModules->value());
    }
    request.recordFile = qz::toBytes(edtRecordFile->text().trimmed());
    const QByteArray values = fromFile ? wholeFile(edtValuesFile->text().trimmed()) : QByteArray();
    const QByteArray recorded = wholeFile(edtRecordFile->text().trimmed());
    const std::variant<qz::cli::BatchPlan, qz::cli::Outcome> planned =
        qz::cli::PlanBatch(request, std::string_view(values.constData(), static_cast<std::size_t>(values.size())),
                           std::string_view(recorded.constData(), static_cast<std::size_t>(recorded.size())));
    if (const auto* refusal = std::get_if<qz::cli::Outcome>(&planned)) {
        // The command line's words, without its name: which row or option, and why.
        std::string words = refusal->err.substr(std::string_view("qzconfig: ").size());
        words = words.substr(0, words.find(" (see qzconfig"));
        lbVerdict->setText(qz::fromBytes(words).trimmed() + QStringLiteral(" No port was opened."));
        return;
    }
    const qz::cli::BatchPlan& plan = std::get<qz::cli::BatchPlan>(planned);
    record_.close();
    record_.setFileName(edtRecordFile->text().trimmed());
    if (!record_.open(QIODevice::Append)
        || (plan.writeHeader && record_.write(qz::batch::CsvLine(qz::batch::RecordHeader(plan.varying)).c_str()) < 0)) {
        lbVerdict->setText(QStringLiteral("Cannot write the record %1: %2. No port was opened.")
                               .arg(record_.fileName(), record_.errorString()));
        return;
    }
    record_.flush();

    runner_.reset();
    tvModules->clear();
    moduleRows_.clear();
    batch_ = std::make_unique<qz::batch::Batch>(plan.units, plan.setUp);
    runner_ = std::make_unique<qz::BatchRunner>(*batch_, plan.commands, request.ports, settings);
    connect(runner_.get(), &qz::BatchRunner::moduleStarted, this, &TfrmSend::showModuleStarted);
    several_ = request.ports.size() > 1;
    connect(runner_.get(), &qz::BatchRunner::exchanged, this,
            [this](const std::string& port, const qz::serial::Exchange& exchange) {
                showExchange(exchange, port);
                const auto row = moduleRows_.find(port);
                if (row == moduleRows_.end() || !exchange.taken)
                    return;
                // Replies taken, less the probe's: the commands taken so far.
                const int taken = row->second->data(2, Qt::UserRole).toInt() + 1;
                row->second->setData(2, Qt::UserRole, taken);
                row->second->setText(2, QStringLiteral("%1 commands taken").arg(taken));
            });
    connect(runner_.get(), &qz::BatchRunner::moduleEnded, this, &TfrmSend::showModuleEnded);
    connect(runner_.get(), &qz::BatchRunner::waitingForModule, this, [this](const std::string& port) {
        lbVerdict->setText(QStringLiteral("%1 of %2 modules set up. Waiting for the next module on %3: plug it in, or "
                                          "press Next module once it is in place.")
                               .arg(batch_->SetUpCount())
                               .arg(batch_->Total())
                               .arg(qz::fromBytes(qz::serial::EscapedBytes(port))));
    });
    connect(runner_.get(), &qz::BatchRunner::finished, this, &TfrmSend::showBatchFinished);
    pbProgress->setRange(0, static_cast<int>(batch_->Total()));
    pbProgress->setValue(static_cast<int>(batch_->SetUpCount()));
    pbProgress->setFormat(QStringLiteral("%1 of %2 modules set up").arg(batch_->SetUpCount()).arg(batch_->Total()));
    setSending(true);
    lbVerdict->setText(QStringLiteral("Setting up %1 modules...").arg(batch_->Total() - batch_->SetUpCount()));
    runner_->start();
}

void TfrmSend::showModuleStarted(const std::string& port, std::size_t unit)
{
    QStringList values;
    for (const std::string& value : batch_->Values(unit))
        values << qz::fromBytes(qz::serial::EscapedBytes(value));
    if (!several_) { // each module's transcript on its own
        transcript_.clear();
        tvTranscript->clear();
        waitingFor_.clear();
    }
    auto* row = new QTreeWidgetItem(tvModules, {qz::fromBytes(qz::serial::EscapedBytes(port)), values.join(QStringLiteral(", ")),
                                                QStringLiteral("starting"), QString()});
    row->setData(2, Qt::UserRole, -1); // the probe's reply comes first
    moduleRows_[port] = row;
    tvModules->scrollToItem(row);
}

void TfrmSend::showModuleEnded(const std::string& port, std::size_t unit, const qz::serial::Verdict& verdict)
{
    markUnanswered(port, verdict);
    const std::string row = qz::batch::CsvLine(qz::batch::RecordRow(qz::UtcTimestamp(), port, batch_->Values(unit),
                                                                      verdict.taken, verdict.total, verdict.succeeded(),
                                                                      verdict.message));
    if (record_.write(row.c_str()) < 0 || !record_.flush()) {
        lbVerdict->setText(QStringLiteral("Cannot write the record %1: %2. Stopping.").arg(record_.fileName(), record_.errorString()));
        runner_->stop();
    }
    const auto found = moduleRows_.find(port);
    if (found != moduleRows_.end()) {
        QTreeWidgetItem* item = found->second;
        item->setText(2, QStringLiteral("%1 of %2 commands taken").arg(verdict.taken).arg(verdict.total));
        item->setText(3, verdict.succeeded() ? QStringLiteral("set up") : QStringLiteral("failed"));
        item->setToolTip(3, qz::fromBytes(verdict.message));
        item->setIcon(3, style()->standardIcon(verdict.succeeded() ? QStyle::SP_DialogApplyButton
                                                                   : QStyle::SP_MessageBoxCritical));
        moduleRows_.erase(found);
    }
    pbProgress->setValue(static_cast<int>(batch_->SetUpCount()));
    pbProgress->setFormat(QStringLiteral("%1 of %2 modules set up").arg(batch_->SetUpCount()).arg(batch_->Total()));
}

void TfrmSend::showBatchFinished()
{
    setSending(false);
    record_.close();
    verdictLine_ = QStringLiteral("%1 of %2 modules were set up").arg(batch_->SetUpCount()).arg(batch_->Total());
    lbVerdict->setText(verdictLine_ + QStringLiteral(". The record is in %1.").arg(record_.fileName()));
    if (closeWhenFinished_) {
        closeWhenFinished_ = false;
        QDialog::reject();
    }
}

