#include "SeveralModules.h"

#include "BatchFiles.h"
#include "BatchWords.h"
#include "RecordAddress.h"
#include "Transcript.h"
#include "WindowStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using qz::named;

enum Column { PortColumn, ValuesColumn, ProgressColumn, ResultColumn, NextColumn };

QString defaultRecord()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/kavrel-modules.csv");
}

QString text(std::string_view words)
{
    return QString::fromUtf8(words.data(), static_cast<int>(words.size()));
}

QString shown(const std::string& bytes)
{
    return qz::fromBytes(qz::serial::EscapedBytes(bytes));
}

} // namespace

TSeveralModules::TSeveralModules(PageValues page, const QString& cannotListen, TakeLink takeLink, QWidget* parent)
    : QWidget(parent)
    , cbEachGets(named(new QComboBox(this), "cbEachGets"))
    , spnModules(named(new QSpinBox(this), "spnModules"))
    , spnMaxFailures(named(new QSpinBox(this), "spnMaxFailures"))
    , edtValuesFile(named(new QLineEdit(this), "edtValuesFile"))
    , edtRecordFile(named(new QLineEdit(this), "edtRecordFile"))
    , edtMorePorts(named(new QLineEdit(this), "edtMorePorts"))
    , cbVerifyEach(named(new QCheckBox(QStringLiteral("verify each module"), this), "cbVerifyEach"))
    , cbRetryFailed(named(new QCheckBox(QStringLiteral("retry failed"), this), "cbRetryFailed"))
    , tvModules(named(new QTreeWidget(this), "tvModules"))
    , lbLine(named(new QLabel(this), "lbLine"))
    , pbBatch(named(new QProgressBar(this), "pbBatch"))
    , tvTranscript(new TTranscript(this, QStringLiteral("Batch")))
    , lbVerdict(named(new QLabel(this), "lbBatchVerdict"))
    , btnStartBatch(named(new QPushButton(QStringLiteral("Set up modules"), this), "btnStartBatch"))
    , btnNextModule(named(new QPushButton(QStringLiteral("Next module"), this), "btnNextModule"))
    , btnStopBatch(named(new QPushButton(QStringLiteral("Stop"), this), "btnStopBatch"))
    , btnSaveReport(named(new QPushButton(QStringLiteral("Save report..."), this), "btnSaveReport"))
    , page_(std::move(page))
    , takeLink_(std::move(takeLink))
    , canListen_(cannotListen.isEmpty())
{
    setObjectName(QStringLiteral("tabSeveral"));
    offerCounting(*page_.page);
    cbEachGets->addItem(QStringLiteral("Values from a CSV file"), QVariantList());
    const qz::BatchOptionSpec& modules = qz::BatchOption("modules");
    const qz::BatchOptionSpec& maxFailures = qz::BatchOption("max-failures");
    spnModules->setRange(static_cast<int>(modules.least), static_cast<int>(modules.most));
    spnModules->setValue(10);
    spnMaxFailures->setRange(0, static_cast<int>(maxFailures.most)); // 0: the batch never stops for them
    spnMaxFailures->setSpecialValueText(QStringLiteral("no stop for failures in a row"));
    spnMaxFailures->setPrefix(QStringLiteral("stop after "));
    spnMaxFailures->setSuffix(QStringLiteral(" failed in a row"));
    spnMaxFailures->setMinimumWidth(spnMaxFailures->fontMetrics().horizontalAdvance(
                                        QStringLiteral("stop after 99999 failed in a row"))
                                    + 40);
    edtValuesFile->setPlaceholderText(text(qz::BatchOption("values").description));
    edtRecordFile->setText(defaultRecord());
    edtRecordFile->setToolTip(text(qz::BatchOption("record").description));
    edtMorePorts->setPlaceholderText(QStringLiteral("More ports at once, like /dev/ttyUSB1, /dev/ttyUSB2"));
    setCannotListen(cannotListen);
    connect(cbVerifyEach, &QCheckBox::toggled, this, [this](bool on) { verifyWanted_ = on; });
    auto* chooseValues = named(new QPushButton(QStringLiteral("Choose..."), this), "btnValuesFile");
    auto* chooseRecord = named(new QPushButton(QStringLiteral("Choose..."), this), "btnRecordFile");
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

    using qz::described;
    // Each batch option's control is named and explained as the batch's table says.
    const auto describedAs = [](QWidget* control, std::string_view option) {
        const qz::BatchOptionSpec& batchOption = qz::BatchOption(option);
        described(control, text(batchOption.caption), text(batchOption.description));
    };
    describedAs(cbEachGets, "count");
    describedAs(spnModules, "modules");
    describedAs(spnMaxFailures, "max-failures");
    describedAs(edtValuesFile, "values");
    describedAs(edtRecordFile, "record");
    described(edtMorePorts, QStringLiteral("More ports"),
              QStringLiteral("Ports beside the one above, separated by commas: their modules are set up at once"));
    described(cbVerifyEach, QStringLiteral("Verify each module"), cbVerifyEach->toolTip());
    described(chooseValues, QStringLiteral("Choose the values file"), QStringLiteral("Choose the CSV file of each module's values"));
    described(chooseRecord, QStringLiteral("Choose the record file"), QStringLiteral("Choose the CSV file the results go to"));
    describedAs(cbRetryFailed, "retry-failed");
    described(pbBatch, QStringLiteral("Progress"), QStringLiteral("How many modules of the batch are set up"));
    described(lbVerdict, QStringLiteral("Verdict"), QStringLiteral("What the batch is doing, or did, in words"));
    described(btnStartBatch, QStringLiteral("Set up modules"),
              QStringLiteral("Set up one module after another on the port, each with its own values, and record each"));
    described(btnNextModule, QStringLiteral("Next module"),
              QStringLiteral("The module on the waiting port was swapped: set it up"));
    described(btnStopBatch, QStringLiteral("Stop"),
              QStringLiteral("Stop after the reply to the current command; the same batch with the same record "
                             "finishes it later"));
    described(btnSaveReport, QStringLiteral("Save report"),
              QStringLiteral("Save what the record shows of each module (its values, address, port, times, result and "
                             "what listening found) as a CSV file"));
    for (QPushButton* button : {btnStartBatch, btnNextModule, btnStopBatch, btnSaveReport, chooseValues, chooseRecord})
        button->setAutoDefault(false);
    qz::showsWords(lbVerdict, 3);
    described(lbLine, QStringLiteral("The line"), QStringLiteral("The shared batch over every bench of the line"));
    lbLine->setWordWrap(true);
    lbLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbLine->setMaximumWidth(180);
    lbLine->hide();
    lbVerdict->setText(QStringLiteral("Each module on the port gets the list with its own values; plug in the next "
                                      "one when a module is done."));
    pbBatch->setFormat(QStringLiteral("no module set up yet"));
    pbBatch->setValue(0);
    described(tvModules, QStringLiteral("Modules"), QStringLiteral("Each port's latest module: its values, progress and result"));
    tvModules->setColumnCount(5);
    tvModules->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Values"), QStringLiteral("Progress"),
                                QStringLiteral("Result"), QString()});
    tvModules->setRootIsDecorated(false);
    tvModules->setMinimumHeight(70);
    tvModules->setMaximumHeight(100); // the transcript takes the room that is left
    // Room for "8 of 8 commands taken" and a row's Next module within the dialog's width.
    tvModules->header()->setStretchLastSection(false);
    for (const auto& [column, width] : {std::pair{PortColumn, 110}, {ValuesColumn, 80}, {ProgressColumn, 140},
                                        {ResultColumn, 70}, {NextColumn, 100}})
        tvModules->header()->resizeSection(column, width);
    // The values take what the dialog's width leaves; cut, they keep their ends (Lamp-0107,
    // 000E0B00006B), and their tooltip holds them whole.
    tvModules->header()->setSectionResizeMode(ValuesColumn, QHeaderView::Stretch);
    tvModules->setTextElideMode(Qt::ElideLeft);

    choices_ = {cbEachGets, spnModules, spnMaxFailures, edtValuesFile, edtRecordFile, edtMorePorts, chooseValues,
                chooseRecord, cbVerifyEach, cbRetryFailed};
    auto* column = new QVBoxLayout(this);
    column->addLayout(layOutChoices(chooseValues, chooseRecord));
    auto* tableRow = new QHBoxLayout;
    tableRow->addWidget(tvModules, 1);
    tableRow->addWidget(lbLine);
    column->addLayout(tableRow);
    column->addWidget(pbBatch);
    column->addWidget(tvTranscript, 1);
    column->addWidget(lbVerdict);
    column->addLayout(tvTranscript->buttonRow({btnSaveReport, btnNextModule, btnStartBatch, btnStopBatch}));

    connect(cbEachGets, qOverload<int>(&QComboBox::currentIndexChanged), this, &TSeveralModules::changed);
    connect(btnStartBatch, &QPushButton::clicked, this, &TSeveralModules::start);
    connect(btnStopBatch, &QPushButton::clicked, this, &TSeveralModules::stop);
    connect(btnSaveReport, &QPushButton::clicked, this, [this] {
        const QString record = edtRecordFile->text().trimmed();
        const QString suggested = qz::IsDatabaseAddress(qz::toBytes(record))
            ? QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(QStringLiteral("report.csv"))
            : record.section(QLatin1Char('.'), 0, -2, QString::SectionIncludeLeadingSep) + QStringLiteral("-report.csv");
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save report"), suggested,
                                                          QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty())
            saveReport(path);
    });
    connect(btnNextModule, &QPushButton::clicked, this, [this] {
        if (const std::optional<std::string> port = onlyWaitingPort())
            nextModule(*port);
    });
}

QLayout* TSeveralModules::layOutChoices(QPushButton* chooseValues, QPushButton* chooseRecord)
{
    auto* valuesRow = new QHBoxLayout;
    valuesRow->addWidget(edtValuesFile, 1);
    valuesRow->addWidget(chooseValues);
    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(edtRecordFile, 1);
    recordRow->addWidget(chooseRecord);
    recordRow->addWidget(cbRetryFailed);
    auto* modulesRow = new QHBoxLayout;
    modulesRow->addWidget(spnModules);
    modulesRow->addWidget(spnMaxFailures);
    modulesRow->addStretch(1);
    auto* portsRow = new QHBoxLayout;
    portsRow->addWidget(edtMorePorts, 1);
    portsRow->addWidget(cbVerifyEach);
    auto* form = new QFormLayout;
    const auto label = [](std::string_view option) { return text(qz::BatchOption(option).caption) + QLatin1Char(':'); };
    form->addRow(label("count"), cbEachGets);
    form->addRow(label("modules"), modulesRow);
    form->addRow(label("values"), valuesRow);
    form->addRow(label("record"), recordRow);
    form->addRow(QStringLiteral("More ports:"), portsRow);
    return form;
}

TSeveralModules::~TSeveralModules() = default;

bool TSeveralModules::saveReport(const QString& path)
{
    const QString record = edtRecordFile->text().trimmed();
    if (record.isEmpty()) {
        lbVerdict->setText(QStringLiteral("Choose the record file first: the report is what it shows."));
        return false;
    }
    const QString shownRecord = qz::fromBytes(qz::ShownAddress(qz::toBytes(record)));
    qz::batch::Report report;
    if (const std::string why = qz::ReadBatchReport(qz::toBytes(record), report); !why.empty()) {
        lbVerdict->setText(QStringLiteral("Cannot read the record %1: %2.").arg(shownRecord, shown(why)));
        return false;
    }
    QFile file(path);
    const std::string csv = qz::batch::ReportCsv(report);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) || !file.flush()) {
        lbVerdict->setText(QStringLiteral("Cannot write the report %1: %2.").arg(path, file.errorString()));
        return false;
    }
    lbVerdict->setText(QStringLiteral("The report of %1 modules is in %2.").arg(report.rows.size()).arg(path));
    return true;
}

void TSeveralModules::setCannotListen(const QString& cannotListen)
{
    canListen_ = cannotListen.isEmpty();
    cbVerifyEach->setToolTip(canListen_ ? QStringLiteral("Once a module took its list, listen for it over the air; one "
                                                         "not heard as set has failed, and keeps the values it was sent; "
                                                         "while nothing can listen, the batch waits")
                                        : cannotListen);
    // Not the user's choice: what the user wanted stays for when listening is possible again.
    const QSignalBlocker keepWanted(cbVerifyEach);
    cbVerifyEach->setChecked(canListen_ && verifyWanted_);
    emit changed();
}

void TSeveralModules::keepChoices(QSettings& saved) const
{
    saved.setValue(QStringLiteral("eachGets"), cbEachGets->currentText());
    saved.setValue(QStringLiteral("modules"), spnModules->value());
    // A password typed in an address is refused, and never kept.
    saved.setValue(QStringLiteral("record"), qz::fromBytes(qz::ShownAddress(qz::toBytes(edtRecordFile->text()))));
    saved.setValue(QStringLiteral("verifyEach"), cbVerifyEach->isChecked());
}

void TSeveralModules::restoreChoices(const QSettings& saved)
{
    const int counted = cbEachGets->findText(saved.value(QStringLiteral("eachGets")).toString());
    if (counted >= 0)
        cbEachGets->setCurrentIndex(counted);
    spnModules->setValue(saved.value(QStringLiteral("modules"), spnModules->value()).toInt());
    edtRecordFile->setText(saved.value(QStringLiteral("record"), edtRecordFile->text()).toString());
    verifyWanted_ = saved.value(QStringLiteral("verifyEach"), false).toBool();
    const QSignalBlocker keepWanted(cbVerifyEach);
    cbVerifyEach->setChecked(canListen_ && verifyWanted_);
}

// One choice per field that counts up; where counting one alone would leave the module's
// identity the same on every module (a name, with one address for all), the fields
// together come first.
void TSeveralModules::offerCounting(const qz::PageSpec& page)
{
    const auto words = [](const qz::FieldSpec* field) {
        return QLatin1String(field->countingWords.data(), static_cast<int>(field->countingWords.size()));
    };
    const std::vector<const qz::FieldSpec*> countable = qz::batch::CountedFields(page);
    QStringList together;
    QVariantList all;
    bool someOutsideIdentity = false;
    for (const qz::FieldSpec* field : countable) {
        cbEachGets->addItem(QStringLiteral("Counting up ") + words(field), QVariantList{static_cast<int>(field->field)});
        together << words(field);
        all << static_cast<int>(field->field);
        someOutsideIdentity = someOutsideIdentity || !qz::batch::Counts(page.identity.fields, field->field);
    }
    if (countable.size() > 1 && someOutsideIdentity)
        cbEachGets->insertItem(0, QStringLiteral("Counting up ") + together.join(QStringLiteral(" and ")), all);
    cbEachGets->setCurrentIndex(0);
}

std::vector<qz::Field> TSeveralModules::countedFields() const
{
    std::vector<qz::Field> fields;
    for (const QVariant& field : cbEachGets->currentData().toList())
        fields.push_back(static_cast<qz::Field>(field.toInt()));
    return fields;
}

QString TSeveralModules::label(qz::Field field) const
{
    const auto found = page_.labels.find(field);
    return found != page_.labels.end() ? qz::fromBytes(found->second) : QString();
}

// "Device address", or "iBeacon UUID, Major and Minor": the captions of what identifies a module.
QString TSeveralModules::identityLabels() const
{
    QStringList labels;
    for (qz::Field field : page_.page->identity.fields)
        labels << label(field);
    const QString last = labels.takeLast();
    return labels.isEmpty() ? last : labels.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// A refusal in the window's words: the field by its box's caption, the line of the
// values file or the module's number, and what to mend.
QString TSeveralModules::refusalWords(const qz::batch::Refusal& refusal) const
{
    using R = qz::batch::Refusal;
    const QString value = shown(refusal.value);
    const QString other = shown(refusal.other);
    const QString line = QStringLiteral("Line %1 of the values file: ").arg(refusal.line);
    const QString module = QStringLiteral("Module %1 would get %2 as %3").arg(refusal.module).arg(value, label(refusal.field));
    switch (refusal.reason) {
    case R::ValuesFileEmpty: return QStringLiteral("The values file is empty: its first line names the fields, like name,address.");
    case R::UnknownColumn: return QStringLiteral("The values file's column \"%1\" is no field of this page.").arg(value);
    case R::ColumnTwice: return QStringLiteral("The values file names \"%1\" twice.").arg(value);
    case R::NoRows: return QStringLiteral("The values file holds no module's values under its first line.");
    case R::RowLength: return line + QStringLiteral("%1 values, and the first line names %2.").arg(value, other);
    case R::LineTooLong: return line + QStringLiteral("longer than any row of the page could be: \"%1\".").arg(value);
    case R::NotCountable: // the list offers only the fields that count
    case R::CannotCount:
        return QStringLiteral("%1 cannot count up from %2: %3.").arg(label(refusal.field), value, qz::fromBytes(refusal.message));
    case R::PassesTheTop:
        return QStringLiteral("%1: counting %2 modules from %3 passes %4.")
            .arg(label(refusal.field), QString::number(spnModules->value()), value, other);
    case R::TooLong:
        if (refusal.module != 0)
            return module + QStringLiteral(", %1 bytes; the field holds at most %2.").arg(refusal.value.size()).arg(other);
        return line + QStringLiteral("%1 is %2 bytes long; the field holds at most %3.")
                          .arg(label(refusal.field)).arg(refusal.value.size()).arg(other);
    case R::PageRefused:
    {
        // The mend the field's mark gives, after the page's own words.
        const QString said = qz::fromBytes(refusal.message)
            + (refusal.mend.empty() ? QString() : QStringLiteral(" (%1)").arg(shown(refusal.mend)));
        // A fixed field refused is refused for every module alike.
        if (refusal.module != 0 && qz::batch::Counts(countedFields(), refusal.field))
            return module + QStringLiteral(": ") + said;
        return (refusal.line != 0 ? line : QString()) + label(refusal.field) + QStringLiteral(": ") + said;
    }
    case R::RecordOfAnotherBatch:
        return QStringLiteral("The record file records another batch: its columns are %1, and this batch's are %2. "
                              "Choose another record file.").arg(value, other);
    case R::RecordOtherValues:
        return QStringLiteral("The record file records another batch: its %1 is \"%2\", and this batch's is \"%3\". "
                              "Choose another record file.").arg(label(refusal.field), other, value);
    case R::RecordUnreadable:
        return QStringLiteral("Line %1 of the record file cannot be read: \"%2\". The module it describes is unknown: "
                              "mend the line or remove it.").arg(refusal.line).arg(value);
    case R::SameEverywhere:
        return QStringLiteral("%1 would be the same on every module: count it up, or take it from a values file.")
            .arg(identityLabels());
    case R::SameIdentity:
        return (refusal.line != 0 ? QStringLiteral("Line %1 of the values file gives the same %2 as line %3")
                                  : QStringLiteral("Module %1 would get the same %2 as module %3"))
                   .arg(refusal.module != 0 ? refusal.module : refusal.line)
                   .arg(identityLabels(), other)
            + QStringLiteral(": no two modules may carry it.");
    }
    return {};
}

// Why the batch did not begin, as a sentence.
QString TSeveralModules::problemWords(const qz::BatchProblem& problem, const QString& valuesPath,
                                      const QString& recordPath) const
{
    const QString detail = shown(problem.detail);
    switch (problem.kind) {
    case qz::BatchProblem::ValuesFile: return QStringLiteral("The values file %1: %2.").arg(valuesPath, detail);
    case qz::BatchProblem::ValuesUnread: return QStringLiteral("Cannot read the values file %1: %2.").arg(valuesPath, detail);
    case qz::BatchProblem::RecordFile: return QStringLiteral("The record file %1: %2.").arg(recordPath, detail);
    case qz::BatchProblem::RecordUnwritten: return QStringLiteral("Cannot write the record %1: %2.").arg(recordPath, detail);
    case qz::BatchProblem::RecordHeld: return QStringLiteral("The record %1: %2; one batch per record.").arg(recordPath, detail);
    case qz::BatchProblem::RecordBroken: return QStringLiteral("The record %1: %2.").arg(recordPath, detail);
    case qz::BatchProblem::RecordUnreachable: return QStringLiteral("The record: %1.").arg(detail);
    case qz::BatchProblem::CannotListen: return QStringLiteral("Cannot listen over the air: %1.").arg(detail);
    case qz::BatchProblem::Refused: break;
    }
    return refusalWords(problem.refusal);
}

QString TSeveralModules::unitWords(std::size_t unit) const
{
    QStringList values;
    for (const std::string& value : session_->varyingValues(unit))
        values << shown(value);
    return values.join(QStringLiteral(", "));
}

void TSeveralModules::start()
{
    if (running())
        return;
    const std::vector<qz::Field> counted = countedFields();
    const QString valuesPath = edtValuesFile->text().trimmed();
    const QString recordPath = edtRecordFile->text().trimmed();
    if (counted.empty() && valuesPath.isEmpty()) {
        lbVerdict->setText(QStringLiteral("Choose the CSV file that holds each module's values."));
        return;
    }
    if (recordPath.isEmpty()) {
        lbVerdict->setText(QStringLiteral("Choose the record file, where each module's result is written."));
        return;
    }
    const SerialLink link = takeLink_();
    if (link.port.empty()) {
        lbVerdict->setText(QStringLiteral("Choose or type the serial port the module is on."));
        return;
    }
    std::vector<std::string> ports{link.port};
    for (const QString& port : edtMorePorts->text().split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts))
        ports.push_back(qz::toBytes(port));
    if (recordPath == defaultRecord())
        QDir().mkpath(QFileInfo(recordPath).absolutePath()); // the documents folder may not be made yet

    qz::BatchOrder order;
    order.page = page_.page;
    order.values = page_.values;
    order.counted = counted;
    order.modules = static_cast<std::size_t>(spnModules->value());
    order.valuesFile = qz::toBytes(valuesPath);
    order.recordFile = qz::toBytes(recordPath);
    order.retryFailed = cbRetryFailed->isChecked();
    order.maxFailuresInARow = static_cast<std::size_t>(spnMaxFailures->value());
    order.verify = canListen_ && cbVerifyEach->isChecked();
    order.onRadioLoss = qz::RadioLoss::Pause;
    order.onRecordLoss = qz::RadioLoss::Pause;
    auto session = std::make_unique<qz::BatchSession>(std::move(order));
    std::optional<qz::BatchProblem> problem = session->plan();
    if (!problem)
        problem = session->open(std::move(ports), link.settings);
    if (problem) {
        const QString shownRecord = qz::fromBytes(qz::ShownAddress(qz::toBytes(recordPath)));
        lbVerdict->setText(problemWords(*problem, valuesPath, shownRecord) + QStringLiteral(" No port was opened."));
        return;
    }
    session_ = std::move(session);
    tvTranscript->restart();
    tvModules->clear();
    lbLine->hide();
    rows_.clear();
    waiting_.clear();
    heldFromRecord_.clear();
    paused_.clear();
    recordPath_ = qz::fromBytes(qz::ShownAddress(qz::toBytes(recordPath)));
    if (!session_->recordNote().empty())
        showLines({}, {QStringLiteral("The record %1: %2.").arg(recordPath_, shown(session_->recordNote()))});
    connect(session_.get(), &qz::BatchSession::event, this, &TSeveralModules::follow);
    showProgress();
    const qz::batch::Batch& batch = session_->batch();
    const std::size_t toSetUp = batch.Total() - batch.SetUpCount() - batch.Carried();
    lbVerdict->setText(batch.Carried() == 0
                           ? QStringLiteral("Setting up %1 modules...").arg(toSetUp)
                           : QStringLiteral("Setting up %1 modules... %2 more are left out: the record shows them taken "
                                            "by modules that failed, which may carry them. Tick \"retry failed\" once "
                                            "those modules are back on the bench.").arg(toSetUp).arg(batch.Carried()));
    session_->runner().start();
    emit changed();
}

void TSeveralModules::showProgress()
{
    const int setUp = static_cast<int>(session_->batch().SetUpCount());
    const int total = static_cast<int>(session_->batch().Total());
    pbBatch->setRange(0, total);
    pbBatch->setValue(setUp);
    pbBatch->setFormat(QStringLiteral("%1 of %2 modules set up").arg(setUp).arg(total));
    // A batch benches share: what the whole line has done, as qzconfig line tells it.
    // (While its server cannot be reached, the last counts stand.)
    if (const std::string counts = session_->lineCounts(); !counts.empty()) {
        lbLine->setText(QStringLiteral("The line: %1").arg(shown(counts)));
        lbLine->show();
    }
}

QString TSeveralModules::portPrefix(const std::string& port) const
{
    const bool several = session_ && session_->runner().ports().size() > 1;
    return several && !port.empty() ? QStringLiteral("[%1] ").arg(shown(port)) : QString();
}

// Lines of the transcript about the module on port (none: about the batch).
void TSeveralModules::showLines(const std::string& port, const QStringList& lines)
{
    QStringList onPort;
    for (const QString& line : lines)
        onPort << portPrefix(port) + line;
    tvTranscript->showLines(onPort);
}

void TSeveralModules::stop()
{
    if (session_)
        session_->runner().stop();
}

bool TSeveralModules::running() const
{
    return session_ && !session_->batch().Finished();
}

std::optional<std::string> TSeveralModules::onlyWaitingPort() const
{
    if (!running())
        return std::nullopt;
    const qz::batch::PortChoice choice = qz::batch::ChoosePort({}, session_->runner().ports(), session_->runner().waitingForSwap());
    if (!choice.port)
        return std::nullopt;
    return session_->runner().ports()[*choice.port];
}

void TSeveralModules::nextModule(const std::string& port)
{
    if (session_)
        session_->runner().nextModule(port);
}

void TSeveralModules::follow(const qz::BatchEvent& happened)
{
    namespace e = qz::batchevent;
    std::visit(qz::Overloaded{
                   [this](const e::ModuleStarted& started) {
                       heldFromRecord_.erase(started.port);
                       showModuleStarted(started.port, started.unit);
                   },
                   [this](const e::Exchanged& exchanged) { showExchange(exchanged.port, exchanged.exchange); },
                   [this](const e::ModuleUntold& untold) {
                       showLines(untold.port, {shown(qz::batch::UntoldWords(untold.why)) + QLatin1Char('.')});
                   },
                   [this](const e::ModuleKnown& known) {
                       showLines(known.port, {shown(qz::batch::SentNothingWords(known.words)) + QLatin1Char('.')});
                   },
                   [this](const e::ModuleNote& note) { showLines(note.port, {shown(note.words) + QLatin1Char('.')}); },
                   [this](const e::PortUnopened& unopened) {
                       showLines(unopened.port,
                                 {shown(qz::batch::PortUnopenedWords(unopened.port, unopened.why)) + QLatin1Char('.')});
                   },
                   [this](const e::ModuleUnreached& unreached) {
                       tvTranscript->markUnanswered(unreached.port, unreached.verdict.ending);
                       showLines(unreached.port, {QStringLiteral("failed: ") + qz::fromBytes(unreached.verdict.message)});
                   },
                   [this](const e::ModuleEnded& ended) { showModuleEnded(ended.port, ended.unit, ended.verdict); },
                   [this](const e::RecordNotWritten& failed) {
                       lbVerdict->setText(QStringLiteral("Cannot write the record %1: %2. Stopping.")
                                              .arg(recordPath_, qz::fromBytes(failed.why)));
                   },
                   [this](const e::HeldFromRecord& held) { heldFromRecord_[held.port] = held.state; },
                   [this](const e::WaitingForModule& waiting) { showWaiting(waiting.port, waiting.present); },
                   [this](const e::Listening& listening) {
                       showListening(listening.port, listening.advice, listening.seconds);
                   },
                   [this](const e::Heard& heard) { showHeard(heard.port, heard.verdict); },
                   [this](const e::RadioPaused& paused) {
                       paused_ = QStringLiteral("Paused: nothing can listen over the air (%1). No module is sent its "
                                                "list until it can again; the batch goes on by itself then.")
                                     .arg(shown(paused.why));
                       lbVerdict->setText(paused_);
                   },
                   [this](const e::RadioBack&) {
                       paused_.clear();
                       lbVerdict->setText(QStringLiteral("The radio is back: the batch goes on."));
                   },
                   [this](const e::RecordPaused& paused) {
                       paused_ = QStringLiteral("Paused: %1. No module is sent its list until the record's server "
                                                "answers again; the batch goes on by itself then.")
                                     .arg(shown(paused.why));
                       lbVerdict->setText(paused_);
                   },
                   [this](const e::RecordBack&) {
                       paused_.clear();
                       lbVerdict->setText(QStringLiteral("The record's server answers again: the batch goes on."));
                   },
                   [this](const e::Finished&) { showFinished(); },
               },
               happened);
}

void TSeveralModules::showExchange(const std::string& port, const qz::serial::Exchange& exchange)
{
    tvTranscript->showExchange(exchange, port, portPrefix(port));
    const auto row = rows_.find(port);
    if (row == rows_.end())
        return;
    // Replies taken to the list's commands (not the probe, not the question for the
    // module's address): the commands taken so far.
    constexpr int SentOfList = Qt::UserRole + 1;
    if (exchange.kind == qz::serial::Exchange::Sent)
        row->second->setData(ProgressColumn, SentOfList, exchange.role == qz::serial::Exchange::ListCommand);
    if (!exchange.taken || !row->second->data(ProgressColumn, SentOfList).toBool())
        return;
    const int taken = row->second->data(ProgressColumn, Qt::UserRole).toInt() + 1;
    row->second->setData(ProgressColumn, Qt::UserRole, taken);
    row->second->setText(ProgressColumn, QStringLiteral("%1 commands taken").arg(taken));
}

void TSeveralModules::showModuleStarted(const std::string& port, std::size_t unit)
{
    waiting_.erase(port);
    if (const auto previous = rows_.find(port); previous != rows_.end())
        tvModules->removeItemWidget(previous->second, NextColumn);
    auto* row = new QTreeWidgetItem(tvModules, {shown(port), unitWords(unit), QStringLiteral("starting"), QString()});
    row->setToolTip(ValuesColumn, unitWords(unit));
    row->setData(ProgressColumn, Qt::UserRole, 0);
    rows_[port] = row;
    tvModules->scrollToItem(row);
    const std::vector<std::string> varying = session_->varyingValues(unit);
    const std::vector<qz::Field>& fields = session_->planned().varying;
    QStringList values;
    for (std::size_t at = 0; at < varying.size(); ++at)
        values << label(fields[at]) + QLatin1Char(' ') + qz::fromBytes(varying[at]);
    tvTranscript->showLines({shown(qz::batch::ModuleOnWords(port, qz::toBytes(values.join(QStringLiteral(", ")))))});
    emit changed(); // the port waits no more
}

void TSeveralModules::showModuleEnded(const std::string& port, std::size_t, const qz::serial::Verdict& verdict)
{
    // Each module ends with its result, as qzconfig prints it.
    tvTranscript->markUnanswered(port, verdict.ending);
    const QString words = qz::fromBytes(verdict.message);
    showLines(port, {verdict.succeeded() ? words : QStringLiteral("failed: ") + words});
    const auto found = rows_.find(port);
    if (found != rows_.end()) {
        QTreeWidgetItem* item = found->second;
        item->setText(ProgressColumn, QStringLiteral("%1 of %2 commands taken").arg(verdict.taken).arg(verdict.total));
        item->setText(ResultColumn, verdict.succeeded() ? QStringLiteral("set up") : QStringLiteral("failed"));
        item->setToolTip(ResultColumn, qz::fromBytes(verdict.message));
        item->setIcon(ResultColumn, style()->standardIcon(verdict.succeeded() ? QStyle::SP_DialogApplyButton
                                                                              : QStyle::SP_MessageBoxCritical));
    }
    showProgress();
}

// Each waiting port's own row says when its module was swapped; the status names them all.
void TSeveralModules::showWaiting(const std::string& port, bool present)
{
    waiting_[port] = present;
    auto row = rows_.find(port);
    if (row == rows_.end())
        row = rows_.emplace(port, new QTreeWidgetItem(tvModules, {shown(port), QString(), QStringLiteral("waiting")})).first;
    if (present) {
        auto* next = new QPushButton(QStringLiteral("Next module"));
        next->setObjectName(QStringLiteral("btnNextModuleOn") + shown(port));
        next->setToolTip(QStringLiteral("The module on %1 was swapped: set it up").arg(shown(port)));
        connect(next, &QPushButton::clicked, this, [this, port] { nextModule(port); });
        tvModules->setItemWidget(row->second, NextColumn, next);
    }
    QStringList swapped;
    QStringList awaited;
    for (const auto& [name, there] : waiting_)
        (there ? swapped : awaited) << shown(name);
    // While paused, that comes first: it is why nothing moves.
    QString words = (paused_.isEmpty() ? QString() : paused_ + QLatin1Char(' '))
        + QStringLiteral("%1 of %2 modules set up.").arg(session_->batch().SetUpCount()).arg(session_->batch().Total());
    for (const auto& [held, state] : heldFromRecord_) {
        words += QLatin1Char(' ') + shown(qz::batch::HeldWords(held, state)) + QStringLiteral(": put the next one on first.");
    }
    if (!swapped.isEmpty())
        words += QStringLiteral(" Waiting for the next module on %1: plug it in, or press Next module once it is "
                                "in place.").arg(swapped.join(QStringLiteral(", ")));
    if (!awaited.isEmpty())
        words += QStringLiteral(" Waiting for %1 to appear.").arg(awaited.join(QStringLiteral(", ")));
    lbVerdict->setText(words);
    emit changed();
}

void TSeveralModules::showListening(const std::string& port, const std::string& advice, int seconds)
{
    if (const auto row = rows_.find(port); row != rows_.end())
        row->second->setText(ProgressColumn, QStringLiteral("listening"));
    const QString words = advice.empty() ? QStringLiteral("listening for %1 s").arg(seconds) : qz::fromBytes(advice);
    lbVerdict->setText(QStringLiteral("The module on %1 took its list: %2.").arg(shown(port), words));
}

void TSeveralModules::showHeard(const std::string& port, const qz::air::Verdict& verdict)
{
    QStringList lines;
    for (const std::string& line : qz::air::DescribeVerdict(verdict))
        lines << qz::fromBytes(line);
    showLines(port, lines);
}

void TSeveralModules::showFinished()
{
    for (const auto& [port, row] : rows_)
        tvModules->removeItemWidget(row, NextColumn);
    waiting_.clear();
    QString why;
    if (session_->batch().StoppedForFailures())
        why = QStringLiteral(": stopped after %1 failed in a row").arg(spnMaxFailures->value());
    else if (session_->runner().radioLost())
        why = QStringLiteral(": stopped, since nothing can listen over the air any more");
    const QString verdictLine = QStringLiteral("%1 of %2 modules were set up")
                                    .arg(session_->batch().SetUpCount())
                                    .arg(session_->batch().Total())
        + why;
    tvTranscript->setVerdictLine(verdictLine);
    lbVerdict->setText(verdictLine + QStringLiteral(". The record is in %1.").arg(recordPath_));
    emit changed();
}
