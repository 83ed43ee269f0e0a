#include "SendToModule.h"

#include "BoundedSpinBox.h"
#include "PortList.h"
#include "WindowStyle.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using qz::named;

const std::pair<const char*, qz::serial::LineEnding> lineEndingChoices[] = {
    {"None", qz::serial::LineEnding::None},
    {"CR", qz::serial::LineEnding::CR},
    {"LF", qz::serial::LineEnding::LF},
    {"CR LF", qz::serial::LineEnding::CRLF},
};

// A reply longer than this is shortened in its cell; its tooltip holds it whole.
constexpr int shownReplyLength = 40;
// The tooltip breaks a long reply into lines of this many characters.
constexpr int tooltipLineLength = 64;
// Each exchange keeps its transcript lines here, for copying a selection.
constexpr int linesRole = Qt::UserRole + 1;

QString takenText(int taken, int total)
{
    return QStringLiteral("%1 of %2 commands taken").arg(taken).arg(total);
}

QString wrapped(const QString& text)
{
    QStringList lines;
    for (int at = 0; at < text.size(); at += tooltipLineLength)
        lines << text.mid(at, tooltipLineLength);
    return lines.join(QLatin1Char('\n'));
}

QSettings choices()
{
    return QSettings(QStringLiteral("Kavrel"), QStringLiteral("Kavrel Config Assistant"));
}

// What the module that takes these commands advertises, as the page's generator tells it;
// nothing known for a list that is not its page's own.
qz::Advertised advertisedBy(const PageValues& page, const std::vector<std::string>& commands)
{
    if (page.page == nullptr)
        return {};
    qz::FieldValues values = qz::InitialValues(*page.page);
    for (const auto& [field, value] : page.values)
        values[field] = value;
    const qz::GeneratorResult result = page.page->generate(values);
    const auto* list = std::get_if<qz::CommandList>(&result);
    return list != nullptr && list->commands == commands ? list->advertised : qz::Advertised();
}

} // namespace

TfrmSend::TfrmSend(const std::vector<std::string>& commands, QWidget* owner, PageValues page)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
    , cbPort(named(new QComboBox(this), "cbPort"))
    , btnRefresh(named(new QPushButton(QStringLiteral("Refresh"), this), "btnRefresh"))
    , cbBaud(named(new QComboBox(this), "cbBaud"))
    , cbLineEnding(named(new QComboBox(this), "cbLineEnding"))
    , spnTimeout(named(new qz::BoundedSpinBox(this), "spnTimeout"))
    , memCommands(named(new QPlainTextEdit(this), "memCommands"))
    , pbProgress(named(new QProgressBar(this), "pbProgress"))
    , tvTranscript(named(new QTreeWidget(this), "tvTranscript"))
    , lbVerdict(named(new QLabel(this), "lbVerdict"))
    , btnCopy(named(new QPushButton(QStringLiteral("Copy"), this), "btnCopy"))
    , btnSave(named(new QPushButton(QStringLiteral("Save..."), this), "btnSave"))
    , btnSend(named(new QPushButton(QStringLiteral("Send"), this), "btnSend"))
    , btnStop(named(new QPushButton(QStringLiteral("Stop"), this), "btnStop"))
    , btnClose(named(new QPushButton(QStringLiteral("Close"), this), "btnClose"))
    , gbSeveral(nullptr)
    , gbConsole(nullptr)
    , btnNextModule(named(new QPushButton(QStringLiteral("Next module"), this), "btnNextModule"))
    , btnVerify(named(new QPushButton(QStringLiteral("Verify over the air"), this), "btnVerify"))
    , commands_(commands)
    , expectation_(qz::air::ExpectedOnAir(advertisedBy(page, commands)))
{
    if (expectation_.kind == qz::air::Expectation::Kind::Silent)
        cannotListen_ = QStringLiteral("Nothing to hear: ") + QLatin1String(qz::air::SilentWords.data(),
                                                                            static_cast<int>(qz::air::SilentWords.size()));
    else
        cannotListen_ = QStringLiteral("Asking BlueZ whether anything can listen...");
    gbSeveral = new TSeveralModules(std::move(page), cannotListen_, this);
    // The window never waits on the bus: the answer comes when it comes.
    if (expectation_.kind != qz::air::Expectation::Kind::Silent) {
        qz::AirScanner::AskUnavailable(this, [this](const std::string& why) {
            cannotListen_ = qz::fromBytes(why);
            gbSeveral->setCannotListen(cannotListen_);
            enableVerify();
        });
    }
    // A list that ends with AT+ROLE1 leaves a central that waits to discover and connect.
    const bool central = std::find(commands_.begin(), commands_.end(), "AT+ROLE1") != commands_.end();
    gbConsole = new TConsolePart([this] { return TConsolePart::Link{chosenPort(), chosenSettings()}; }, central, this);
    setObjectName(QStringLiteral("frmSend"));
    setWindowTitle(QStringLiteral("Send to Module"));
    setFont(qz::windowFont());
    setWindowIcon(qz::applicationIcon());

    describeControls();
    cbPort->setEditable(true);
    // Enter keeps the typed path as typed; it is not made an item without a port behind it.
    cbPort->setInsertPolicy(QComboBox::NoInsert);
    cbPort->setMinimumWidth(300);
    for (int rate : qz::serial::SupportedBaudRates)
        cbBaud->addItem(QString::number(rate), rate);
    for (const auto& [caption, ending] : lineEndingChoices)
        cbLineEnding->addItem(QLatin1String(caption), static_cast<int>(ending));
    spnTimeout->setRange(100, 60000);
    spnTimeout->setSingleStep(100);
    spnTimeout->setSuffix(QStringLiteral(" ms"));

    QString commandText;
    for (const std::string& command : commands_)
        commandText += qz::fromBytes(command) + QLatin1Char('\n');
    memCommands->setPlainText(commandText);
    memCommands->setReadOnly(true);
    memCommands->setMinimumHeight(48); // three lines; more where the screen has room
    memCommands->setMaximumHeight(90);

    pbProgress->setRange(0, static_cast<int>(commands_.size()));
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, static_cast<int>(commands_.size())));

    tvTranscript->setColumnCount(2);
    tvTranscript->setHeaderLabels({QStringLiteral("Sent"), QStringLiteral("Reply")});
    tvTranscript->setRootIsDecorated(false);
    tvTranscript->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvTranscript->header()->resizeSection(0, 260);
    tvTranscript->installEventFilter(this);

    lbVerdict->setWordWrap(true);
    lbVerdict->setTextFormat(Qt::PlainText); // a module's reply is never read as markup
    lbVerdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbVerdict->setMinimumHeight(4 * lbVerdict->fontMetrics().lineSpacing());
    lbVerdict->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbVerdict->setText(QStringLiteral("Nothing sent yet. The module gets the %1 commands above, in order, after "
                                      "an AT that checks the link.")
                           .arg(commands_.size()));

    auto* portRow = new QHBoxLayout;
    portRow->addWidget(cbPort, 1);
    portRow->addWidget(btnRefresh);
    auto* settings = new QFormLayout;
    settings->addRow(QStringLiteral("Port:"), portRow);
    settings->addRow(QStringLiteral("Rate (baud):"), cbBaud);
    settings->addRow(QStringLiteral("Line ending:"), cbLineEnding);
    settings->addRow(QStringLiteral("Reply timeout:"), spnTimeout);
    settings->addRow(QStringLiteral("Commands to send:"), memCommands);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnCopy);
    buttons->addWidget(btnSave);
    buttons->addStretch(1);
    buttons->addWidget(btnVerify);
    buttons->addWidget(btnNextModule);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnStop);
    buttons->addWidget(btnClose);

    auto* column = new QVBoxLayout(this);
    column->addLayout(settings);
    column->addWidget(gbSeveral);
    column->addWidget(pbProgress);
    column->addWidget(tvTranscript, 1);
    column->addWidget(gbConsole);
    column->addWidget(lbVerdict);
    column->addLayout(buttons);
    // Resizable, and within the screen it opens on: the transcript takes what is left.
    // (A title bar and frame take up to 40 pixels more.)
    const QRect screen = this->screen()->availableGeometry();
    resize(std::max(580, sizeHint().width()), std::min(760, screen.height() - 40));

    btnStop->setEnabled(false);
    btnNextModule->setEnabled(false);
    // No button is the dialog's default: Enter typed in the console, or anywhere else,
    // never sends the list again (it may begin with AT+RENEW).
    for (QPushButton* button : {btnSend, btnCopy, btnSave, btnStop, btnClose, btnNextModule, btnVerify})
        button->setAutoDefault(false);
    // Its caption whole in a full row: the text, the style's margins and some air.
    btnVerify->setMinimumWidth(btnVerify->fontMetrics().horizontalAdvance(btnVerify->text())
                               + 2 * btnVerify->style()->pixelMetric(QStyle::PM_ButtonMargin) + 12);
    enableVerify();
    listenTick_.setInterval(1000);
    connect(&listenTick_, &QTimer::timeout, this, [this] {
        pbProgress->setValue(std::min(pbProgress->value() + 1, listenSeconds_));
    });
    connect(btnVerify, &QPushButton::clicked, this, &TfrmSend::btnVerifyClick);
    connect(&air_, &qz::AirCheck::finished, this, &TfrmSend::showHeard);
    connect(&air_, &qz::AirCheck::failed, this, [this](const std::string& why) {
        listenTick_.stop();
        pbProgress->setFormat(QStringLiteral("cannot listen"));
        const QString words = QStringLiteral("Cannot listen over the air: %1.").arg(qz::fromBytes(why));
        showLines({words});
        lbVerdict->setText(words);
        btnSend->setEnabled(true);
        btnStop->setEnabled(false);
        enableVerify();
        finishClosing();
    });
    connect(gbSeveral, &TSeveralModules::heard, this, [this](const std::string& port, const QStringList& lines) {
        QStringList onPort;
        for (const QString& line : lines)
            onPort << portPrefix(port) + line;
        showLines(onPort);
    });
    connect(gbSeveral, &TSeveralModules::note, this, [this](const std::string& port, const QString& words) {
        showLines({port.empty() ? words : portPrefix(port) + words});
    });
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmSend::btnRefreshClick);
    connect(btnSend, &QPushButton::clicked, this, &TfrmSend::btnSendClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmSend::btnStopClick);
    connect(btnCopy, &QPushButton::clicked, this, &TfrmSend::btnCopyClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmSend::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSend::close);
    connect(btnNextModule, &QPushButton::clicked, this, &TfrmSend::btnNextModuleClick);
    connect(&driver_, &qz::SerialDriver::exchanged, this,
            [this](const qz::serial::Exchange& exchange) { showExchange(exchange, {}); });
    connect(&driver_, &qz::SerialDriver::finished, this, &TfrmSend::showVerdict);
    connect(gbSeveral, &TSeveralModules::exchanged, this,
            [this](const std::string& port, const qz::serial::Exchange& exchange) { showExchange(exchange, port); });
    connect(gbSeveral, &TSeveralModules::moduleStarted, this,
            [this](const std::string&, const QString& heading) { showHeading(heading); });
    connect(gbSeveral, &TSeveralModules::moduleEnded, this, &TfrmSend::showModuleResult);
    connect(gbSeveral, &TSeveralModules::progressed, this, &TfrmSend::showBatchProgress);
    connect(gbSeveral, &TSeveralModules::status, this, &TfrmSend::showBatchStatus);
    connect(gbSeveral, &TSeveralModules::finished, this, &TfrmSend::showBatchFinished);
    connect(gbConsole, &TConsolePart::exchanged, this,
            [this](const qz::serial::Exchange& exchange) { showExchange(exchange, {}, false); });
    connect(gbConsole, &TConsolePart::lines, this, &TfrmSend::showLines);
    // The console talks with the one module on the port; a batch has the ports to itself.
    gbSeveral->showOnlyForOne(gbConsole);
    connect(gbConsole, &TConsolePart::status, lbVerdict, &QLabel::setText);
    connect(gbConsole, &TConsolePart::busyChanged, this, [this](bool busy) {
        btnStop->setEnabled(busy || running() || air_.running());
        // While the module holds a link, what Send wrote would go to the far device.
        btnSend->setEnabled(!busy && !running() && !gbConsole->connected());
        if (leavingLink_ && !busy)
            QMetaObject::invokeMethod(this, &TfrmSend::reject, Qt::QueuedConnection);
    });

    btnRefreshClick();
    restoreChoices();
    qz::centreOnDesktop(this);
}

TfrmSend::~TfrmSend() = default;

void TfrmSend::describeControls()
{
    using qz::described;
    described(cbPort, QStringLiteral("Port"), QStringLiteral("A serial port found on this computer, or any path or COM name"));
    described(btnRefresh, QStringLiteral("Refresh"), QStringLiteral("Look for serial ports again"));
    described(cbBaud, QStringLiteral("Rate (baud)"), QStringLiteral("The module's rate; a new module's is 9600 baud"));
    described(cbLineEnding, QStringLiteral("Line ending"),
              QStringLiteral("Bytes sent after each command; the module itself wants none"));
    described(spnTimeout, QStringLiteral("Reply timeout"), QStringLiteral("How long the module may take to begin its reply"));
    described(memCommands, QStringLiteral("Commands to send"),
              QStringLiteral("The list's commands, sent in this order after an AT that checks the link"));
    described(pbProgress, QStringLiteral("Progress"), QStringLiteral("How far the session, or the batch, has come"));
    described(tvTranscript, QStringLiteral("Transcript"),
              QStringLiteral("Each command sent and the module's reply; Ctrl+C copies the rows chosen"));
    described(lbVerdict, QStringLiteral("Verdict"), QStringLiteral("What the module did, in words"));
    described(btnCopy, QStringLiteral("Copy"), QStringLiteral("Copy the whole transcript, as qzconfig prints it"));
    described(btnSave, QStringLiteral("Save"), QStringLiteral("Save the whole transcript in a text file"));
    described(btnSend, QStringLiteral("Send"), QStringLiteral("Send the commands to the module, checking every reply"));
    described(btnStop, QStringLiteral("Stop"), QStringLiteral("Stop after the reply to the current command"));
    described(btnClose, QStringLiteral("Close"), QStringLiteral("Close this dialog"));
    described(btnNextModule, QStringLiteral("Next module"),
              QStringLiteral("The module on the waiting port was swapped: set it up"));
    btnVerify->setAccessibleName(QStringLiteral("Verify over the air")); // its tooltip says why it can or cannot
}

void TfrmSend::restoreChoices()
{
    QSettings saved = choices();
    saved.beginGroup(QStringLiteral("send"));
    const QString port = saved.value(QStringLiteral("port")).toString();
    cbPort->setEditText(port.isEmpty() ? cbPort->itemData(0).toString() : port);
    const int rate = cbBaud->findData(saved.value(QStringLiteral("baud"), qz::serial::FactoryBaudRate).toInt());
    cbBaud->setCurrentIndex(std::max(rate, cbBaud->findData(qz::serial::FactoryBaudRate)));
    cbLineEnding->setCurrentIndex(std::max(0, cbLineEnding->findText(saved.value(QStringLiteral("lineEnding")).toString())));
    spnTimeout->setValue(saved.value(QStringLiteral("timeout"), 1000).toInt());
    saved.beginGroup(QStringLiteral("several"));
    gbSeveral->restoreChoices(saved);
}

void TfrmSend::keepChoices() const
{
    QSettings saved = choices();
    saved.beginGroup(QStringLiteral("send"));
    saved.setValue(QStringLiteral("port"), cbPort->currentText());
    saved.setValue(QStringLiteral("baud"), cbBaud->currentData().toInt());
    saved.setValue(QStringLiteral("lineEnding"), cbLineEnding->currentText());
    saved.setValue(QStringLiteral("timeout"), spnTimeout->value());
    saved.beginGroup(QStringLiteral("several"));
    gbSeveral->keepChoices(saved);
}

void TfrmSend::btnRefreshClick()
{
    const QString typed = cbPort->currentText();
    cbPort->clear();
    // (The order and the details show only with adapters plugged in; the tests have none.)
    for (const qz::PortInfo& port : qz::AvailablePorts()) {
        const QString path = qz::fromBytes(port.name);
        const QString details = qz::fromBytes(qz::PortDetails(port));
        cbPort->addItem(details.isEmpty() ? path : path + QStringLiteral("  (") + details + QLatin1Char(')'), path);
        cbPort->setItemData(cbPort->count() - 1, details, Qt::ToolTipRole);
    }
    cbPort->setEditText(typed);
}

std::string TfrmSend::chosenPort() const
{
    // A listed port shows its description beside its path; only the path is opened.
    const QString typed = cbPort->currentText();
    const int listed = cbPort->findText(typed);
    const QString port = listed >= 0 ? cbPort->itemData(listed).toString() : typed.trimmed();
    return qz::toBytes(port);
}

qz::serial::SessionSettings TfrmSend::chosenSettings() const
{
    qz::serial::SessionSettings settings;
    settings.baudRate = cbBaud->currentData().toInt();
    settings.lineEnding = static_cast<qz::serial::LineEnding>(cbLineEnding->currentData().toInt());
    settings.replyTimeout = std::chrono::milliseconds(spnTimeout->value());
    return settings;
}

bool TfrmSend::running() const
{
    return driver_.running() || gbSeveral->running();
}

void TfrmSend::btnSendClick()
{
    if (running())
        return;
    const std::string port = chosenPort();
    if (port.empty()) {
        lbVerdict->setText(QStringLiteral("Choose or type the serial port the module is on."));
        return;
    }
    keepChoices();
    const qz::serial::SessionSettings settings = chosenSettings();
    gbConsole->closePort(); // the session takes the port

    tvTranscript->clear();
    transcript_.clear();
    verdictLine_.clear();
    waitingFor_.clear();
    setUp_ = false;
    batch_ = gbSeveral->isChecked();
    if (batch_) {
        const QString problem = gbSeveral->start({port}, settings);
        if (!problem.isEmpty()) {
            lbVerdict->setText(problem);
            return;
        }
        if (gbSeveral->running())
            setSending(true);
        return;
    }
    pbProgress->setRange(0, static_cast<int>(commands_.size()));
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, static_cast<int>(commands_.size())));
    const std::string problem = driver_.start(port, commands_, settings);
    if (!problem.empty()) {
        lbVerdict->setText(QStringLiteral("Cannot open %1: %2. Nothing was sent.")
                               .arg(qz::fromBytes(qz::serial::EscapedBytes(port)), qz::fromBytes(problem)));
        return;
    }
    if (driver_.running()) {
        setSending(true);
        lbVerdict->setText(QStringLiteral("Sending..."));
    }
}

void TfrmSend::btnNextModuleClick()
{
    if (const std::optional<std::string> port = gbSeveral->onlyWaitingPort())
        gbSeveral->nextModule(*port);
}

void TfrmSend::showHeading(const QString& heading)
{
    transcript_ << heading;
    auto* item = new QTreeWidgetItem(tvTranscript, {heading});
    item->setFirstColumnSpanned(true);
    item->setData(0, linesRole, QStringList{heading});
    tvTranscript->scrollToItem(item);
}

void TfrmSend::showBatchProgress(int setUp, int total)
{
    pbProgress->setRange(0, total);
    pbProgress->setValue(setUp);
    pbProgress->setFormat(QStringLiteral("%1 of %2 modules set up").arg(setUp).arg(total));
}

void TfrmSend::showBatchStatus(const QString& words)
{
    lbVerdict->setText(words);
    btnNextModule->setEnabled(gbSeveral->onlyWaitingPort().has_value());
}

void TfrmSend::showBatchFinished(const QString& verdictLine)
{
    setSending(false);
    verdictLine_ = verdictLine;
    lbVerdict->setText(verdictLine_ + QStringLiteral(". The record is in %1.").arg(gbSeveral->edtRecordFile->text().trimmed()));
    finishClosing();
}

void TfrmSend::btnStopClick()
{
    if (air_.running()) {
        air_.stop(); // says it was stopped
        return;
    }
    if (gbConsole->busy()) {
        gbConsole->stop();
        return;
    }
    if (!running())
        return;
    lbVerdict->setText(QStringLiteral("Stopping after the reply to the current command..."));
    if (gbSeveral->running())
        gbSeveral->stop();
    else
        driver_.stop();
}

void TfrmSend::setSending(bool sending)
{
    for (QWidget* setting : std::initializer_list<QWidget*>{cbPort, btnRefresh, cbBaud, cbLineEnding, spnTimeout, btnSend})
        setting->setEnabled(!sending);
    gbSeveral->lockChoices(sending);
    gbConsole->setEnabled(!sending);
    btnStop->setEnabled(sending);
    btnNextModule->setEnabled(sending && gbSeveral->onlyWaitingPort().has_value());
    enableVerify();
}

// Listening follows a single session that ended well, on a system that can listen.
void TfrmSend::enableVerify()
{
    const bool listening = air_.running();
    btnVerify->setEnabled(cannotListen_.isEmpty() && setUp_ && !running() && !listening);
    if (!cannotListen_.isEmpty())
        btnVerify->setToolTip(cannotListen_);
    else if (!setUp_)
        btnVerify->setToolTip(QStringLiteral("Once the module took its list, listen for it and check that it "
                                             "advertises what it was given"));
    else
        btnVerify->setToolTip(QStringLiteral("Listen for the module and check that it advertises what it was given"));
}

void TfrmSend::btnVerifyClick()
{
    if (!btnVerify->isEnabled())
        return;
    listenSeconds_ = qz::air::DefaultListeningSeconds(expectation_);
    // Should listening not start, the check's failure says why.
    air_.start(expectation_, listenSeconds_, {});
    const std::string advice = qz::air::RestartAdvice(expectation_, listenSeconds_);
    // The session's verdict comes before what is heard, in a copy as on screen.
    if (!verdictLine_.isEmpty())
        transcript_ << verdictLine_;
    verdictLine_.clear();
    showLines({QStringLiteral("Listening over the air for %1 s").arg(listenSeconds_)});
    lbVerdict->setText(advice.empty() ? QStringLiteral("Listening over the air for %1 s...").arg(listenSeconds_)
                                      : QStringLiteral("The list has no AT+RESET, and the module applies some settings "
                                                       "only after a restart: power the module off and on now. "
                                                       "Listening for %1 s...").arg(listenSeconds_));
    pbProgress->setRange(0, listenSeconds_);
    pbProgress->setValue(0);
    pbProgress->setFormat(QStringLiteral("listening: %v of %m s"));
    listenTick_.start();
    for (QWidget* control : std::initializer_list<QWidget*>{btnSend, btnVerify})
        control->setEnabled(false);
    btnStop->setEnabled(true);
}

void TfrmSend::showHeard(const qz::air::Verdict& verdict)
{
    listenTick_.stop();
    pbProgress->setValue(pbProgress->maximum());
    pbProgress->setFormat(qz::fromBytes(qz::air::OutcomeName(verdict.outcome)));
    QStringList lines;
    for (const std::string& line : qz::air::DescribeVerdict(verdict))
        lines << qz::fromBytes(line);
    showLines(lines);
    lbVerdict->setText(lines.join(QLatin1Char('\n')));
    btnSend->setEnabled(true);
    btnStop->setEnabled(false);
    enableVerify();
    finishClosing();
}

// Lines of the transcript that are no exchange: a heading, a verdict heard over the air.
void TfrmSend::showLines(const QStringList& lines)
{
    for (const QString& line : lines)
        showHeading(line);
}

// With several ports at once each line says its port, as qzconfig prints it.
QString TfrmSend::portPrefix(const std::string& port) const
{
    const bool several = batch_ && gbSeveral->severalPorts();
    return several ? QStringLiteral("[%1] ").arg(qz::fromBytes(qz::serial::EscapedBytes(port))) : QString();
}

// Each module of a batch ends with its result, as qzconfig prints it.
void TfrmSend::showModuleResult(const std::string& port, const qz::serial::Verdict& verdict)
{
    markUnanswered(port, verdict);
    const QString words = qz::fromBytes(verdict.message);
    showLines({portPrefix(port) + (verdict.succeeded() ? words : QStringLiteral("failed: ") + words)});
}

void TfrmSend::showExchange(const qz::serial::Exchange& exchange, const std::string& port, bool counts)
{
    const QString prefix = portPrefix(port);
    const QString line = qz::fromBytes(qz::serial::TranscriptLine(exchange));
    transcript_ << prefix + line;
    const QString shown = line.mid(2);
    QTreeWidgetItem*& waiting = waitingFor_[port];
    if (exchange.kind == qz::serial::Exchange::Sent) {
        waiting = new QTreeWidgetItem(tvTranscript, {prefix + shown, QStringLiteral("waiting...")});
        waiting->setData(0, linesRole, QStringList{prefix + line});
        tvTranscript->scrollToItem(waiting);
        return;
    }
    if (waiting == nullptr) // more of a scan's answers, or the module speaking unasked
        waiting = new QTreeWidgetItem(tvTranscript, {QString(), QString()});
    waiting->setText(1, shown.size() > shownReplyLength ? shown.left(shownReplyLength) + QStringLiteral("...") : shown);
    const QStyle::StandardPixmap mark = exchange.taken ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical;
    waiting->setIcon(1, style()->standardIcon(mark));
    waiting->setData(1, Qt::UserRole, exchange.taken);
    waiting->setData(0, linesRole, waiting->data(0, linesRole).toStringList() << prefix + line);
    waiting->setToolTip(1, (exchange.taken ? QStringLiteral("Taken: ") : QStringLiteral("Not taken: "))
                               + QString::number(exchange.bytes.size()) + QStringLiteral(" bytes\n") + wrapped(shown));
    tvTranscript->scrollToItem(waiting);
    waiting = nullptr;
    if (batch_ || !counts)
        return; // the progress of a batch counts modules
    pbProgress->setValue(driver_.taken());
    pbProgress->setFormat(takenText(driver_.taken(), driver_.total()));
}

// A command whose reply never came, as the session ended.
void TfrmSend::markUnanswered(const std::string& port, const qz::serial::Verdict& verdict)
{
    QTreeWidgetItem*& waiting = waitingFor_[port];
    if (waiting == nullptr)
        return;
    waiting->setText(1, verdict.ending == qz::serial::Ending::Stopped ? QStringLiteral("(stopped)")
                                                                     : QStringLiteral("(port failed)"));
    waiting->setIcon(1, style()->standardIcon(QStyle::SP_MessageBoxCritical));
    waiting = nullptr;
}

void TfrmSend::showVerdict(const qz::serial::Verdict& verdict)
{
    markUnanswered({}, verdict);
    setSending(false);
    verdictLine_ = qz::fromBytes(verdict.message);
    QString words = verdictLine_ + QLatin1Char('.');
    // AT+RENEW put the module back to its factory rate, and the port went with it.
    const int rateNow = driver_.baudRate();
    if (rateNow != cbBaud->currentData().toInt()) {
        cbBaud->setCurrentIndex(cbBaud->findData(rateNow));
        words += QStringLiteral(" The module's rate is now %1 baud, its factory rate; the rate above shows it.")
                     .arg(rateNow);
        keepChoices();
    }
    setUp_ = verdict.succeeded();
    enableVerify();
    if (verdict.succeeded())
        lbVerdict->setText(QStringLiteral("Done: ") + words + QStringLiteral(" The module is set up.")
                           + (btnVerify->isEnabled() ? QStringLiteral(" Verify over the air to hear it advertise.")
                                                     : QString()));
    else if (verdict.ending == qz::serial::Ending::Stopped)
        lbVerdict->setText(words);
    else
        lbVerdict->setText(QStringLiteral("Failed: ") + words);
    finishClosing();
}

// A close asked for during the session comes now that it has ended.
void TfrmSend::finishClosing()
{
    if (closeWhenFinished_) {
        closeWhenFinished_ = false;
        QDialog::reject();
    }
}

QString TfrmSend::transcriptText() const
{
    QStringList lines = transcript_;
    if (!verdictLine_.isEmpty())
        lines << verdictLine_;
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TfrmSend::btnCopyClick()
{
    QApplication::clipboard()->setText(transcriptText());
}

void TfrmSend::btnSaveClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the transcript"),
                                                      QStringLiteral("transcript.txt"),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(transcriptText().toUtf8()) < 0) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
    }
}

// The selected rows as qzconfig prints them; all of them with the verdict after Select All.
void TfrmSend::copySelection() const
{
    QStringList lines;
    for (int row = 0; row < tvTranscript->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = tvTranscript->topLevelItem(row);
        if (item->isSelected())
            lines << item->data(0, linesRole).toStringList();
    }
    const int rows = tvTranscript->topLevelItemCount();
    if (rows > 0 && tvTranscript->selectedItems().size() == rows && !verdictLine_.isEmpty())
        lines << verdictLine_;
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

bool TfrmSend::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tvTranscript && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmSend::reject()
{
    // A link the module holds is ended first, as the user agrees; one the module does not
    // confirm ending is left as it is.
    if (gbConsole->connected() && !leavingLink_) {
        const auto answer = QMessageBox::question(
            this, windowTitle(), QStringLiteral("The module is connected to a device. End the link, and close?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        leavingLink_ = true;
        gbConsole->disconnectLink();
        return;
    }
    if (leavingLink_ && gbConsole->busy())
        return; // it closes once the link is over
    air_.stop(); // listening harms nothing: it simply ends
    gbConsole->stop();
    gbConsole->closePort();
    if (!running()) {
        QDialog::reject();
        return;
    }
    if (closeWhenFinished_)
        return; // asked already; it closes once the session has stopped
    const QString question = gbSeveral->running()
        ? QStringLiteral("Modules are being set up. Stop after the reply to the current command, and close? The same "
                         "batch with the same record file finishes it later.")
        : QStringLiteral("The module is being set up. Stop after the reply to the current command, and close?");
    const auto answer = QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!running()) { // it ended while the question was open
        QDialog::reject();
        return;
    }
    closeWhenFinished_ = true;
    btnStopClick();
}
