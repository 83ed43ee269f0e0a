#include "SendToModule.h"

#include "WindowStyle.h"

#include <algorithm>

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The choices of the last send dialog, offered again by the next one of the same run.
struct Choices {
    QString port;
    int baudRate = qz::serial::FactoryBaudRate;
    qz::serial::LineEnding lineEnding = qz::serial::LineEnding::None;
};

Choices& lastChoices()
{
    static Choices choices;
    return choices;
}

const std::pair<const char*, qz::serial::LineEnding> lineEndingChoices[] = {
    {"None", qz::serial::LineEnding::None},
    {"CR", qz::serial::LineEnding::CR},
    {"LF", qz::serial::LineEnding::LF},
    {"CR LF", qz::serial::LineEnding::CRLF},
};

template <typename Widget>
Widget* named(Widget* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QString takenText(int taken, int total)
{
    return QStringLiteral("%1 of %2 commands taken").arg(taken).arg(total);
}

} // namespace

TfrmSend::TfrmSend(const std::vector<std::string>& commands, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
    , cbPort(named(new QComboBox(this), "cbPort"))
    , btnRefresh(named(new QPushButton(QStringLiteral("Refresh"), this), "btnRefresh"))
    , cbBaud(named(new QComboBox(this), "cbBaud"))
    , cbLineEnding(named(new QComboBox(this), "cbLineEnding"))
    , memCommands(named(new QPlainTextEdit(this), "memCommands"))
    , pbProgress(named(new QProgressBar(this), "pbProgress"))
    , tvTranscript(named(new QTreeWidget(this), "tvTranscript"))
    , lbVerdict(named(new QLabel(this), "lbVerdict"))
    , btnSend(named(new QPushButton(QStringLiteral("Send"), this), "btnSend"))
    , btnClose(named(new QPushButton(QStringLiteral("Close"), this), "btnClose"))
    , commands_(commands)
{
    setObjectName(QStringLiteral("frmSend"));
    setWindowTitle(QStringLiteral("Send to Module"));
    setFont(qz::windowFont());
    setWindowIcon(qz::applicationIcon());

    cbPort->setEditable(true);
    cbPort->setMinimumWidth(300);
    cbPort->setToolTip(QStringLiteral("A serial port found on this computer, or any path or COM name"));
    btnRefresh->setToolTip(QStringLiteral("Look for serial ports again"));
    for (int rate : qz::serial::SupportedBaudRates)
        cbBaud->addItem(QString::number(rate), rate);
    for (const auto& [caption, ending] : lineEndingChoices)
        cbLineEnding->addItem(QLatin1String(caption), static_cast<int>(ending));
    cbLineEnding->setToolTip(QStringLiteral("Bytes sent after each command; the module itself wants none"));

    QString commandText;
    for (const std::string& command : commands_)
        commandText += qz::fromBytes(command) + QLatin1Char('\n');
    memCommands->setPlainText(commandText);
    memCommands->setReadOnly(true);
    memCommands->setFixedHeight(150);

    pbProgress->setRange(0, static_cast<int>(commands_.size()));
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, static_cast<int>(commands_.size())));

    tvTranscript->setColumnCount(2);
    tvTranscript->setHeaderLabels({QStringLiteral("Sent"), QStringLiteral("Reply")});
    tvTranscript->setRootIsDecorated(false);
    tvTranscript->header()->resizeSection(0, 260);
    tvTranscript->setMinimumHeight(170);

    lbVerdict->setWordWrap(true);
    lbVerdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
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
    settings->addRow(QStringLiteral("Commands to send:"), memCommands);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnClose);

    auto* column = new QVBoxLayout(this);
    column->addLayout(settings);
    column->addWidget(pbProgress);
    column->addWidget(tvTranscript, 1);
    column->addWidget(lbVerdict);
    column->addLayout(buttons);
    setFixedSize(540, 600);

    btnSend->setDefault(true);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmSend::btnRefreshClick);
    connect(btnSend, &QPushButton::clicked, this, &TfrmSend::btnSendClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSend::close);
    connect(&driver_, &qz::SerialDriver::exchanged, this, &TfrmSend::showExchange);
    connect(&driver_, &qz::SerialDriver::finished, this, &TfrmSend::showVerdict);

    btnRefreshClick();
    const Choices& last = lastChoices();
    cbPort->setEditText(last.port.isEmpty() ? cbPort->itemData(0).toString() : last.port);
    cbBaud->setCurrentIndex(cbBaud->findData(last.baudRate));
    cbLineEnding->setCurrentIndex(cbLineEnding->findData(static_cast<int>(last.lineEnding)));
    qz::centreOnDesktop(this);
}

void TfrmSend::btnRefreshClick()
{
    const QString typed = cbPort->currentText();
    cbPort->clear();
    // USB adapters first: a module is far more often on one than on a built-in port.
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    std::stable_sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.hasVendorIdentifier() && !b.hasVendorIdentifier();
    });
    for (const QSerialPortInfo& port : ports) {
        const QString description = port.description().isEmpty() ? port.manufacturer() : port.description();
        cbPort->addItem(port.systemLocation(), port.systemLocation());
        cbPort->setItemData(cbPort->count() - 1, description, Qt::ToolTipRole);
        if (!description.isEmpty())
            cbPort->setItemText(cbPort->count() - 1, port.systemLocation() + QStringLiteral("  (") + description
                                                         + QLatin1Char(')'));
    }
    cbPort->setEditText(typed);
}

std::string TfrmSend::chosenPort() const
{
    // A listed port shows its description beside its path; only the path is opened.
    const int listed = cbPort->findText(cbPort->currentText());
    const QString port = listed >= 0 ? cbPort->itemData(listed).toString() : cbPort->currentText().trimmed();
    return qz::toBytes(port);
}

void TfrmSend::btnSendClick()
{
    if (driver_.running()) {
        driver_.stop();
        lbVerdict->setText(QStringLiteral("Stopping after the reply to the current command..."));
        return;
    }
    startSession();
}

void TfrmSend::startSession()
{
    const std::string port = chosenPort();
    if (port.empty()) {
        lbVerdict->setText(QStringLiteral("Choose or type the serial port the module is on."));
        return;
    }
    qz::serial::SessionSettings settings;
    settings.baudRate = cbBaud->currentData().toInt();
    settings.lineEnding = static_cast<qz::serial::LineEnding>(cbLineEnding->currentData().toInt());
    lastChoices() = {cbPort->currentText(), settings.baudRate, settings.lineEnding};

    tvTranscript->clear();
    waitingFor_ = nullptr;
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, static_cast<int>(commands_.size())));
    const std::string problem = driver_.start(port, commands_, settings);
    if (!problem.empty()) {
        lbVerdict->setText(QStringLiteral("Cannot open %1: %2. Nothing was sent.")
                               .arg(qz::fromBytes(port), qz::fromBytes(problem)));
        return;
    }
    setSending(true);
    lbVerdict->setText(QStringLiteral("Sending..."));
}

void TfrmSend::setSending(bool sending)
{
    for (QWidget* setting : {static_cast<QWidget*>(cbPort), static_cast<QWidget*>(btnRefresh),
                             static_cast<QWidget*>(cbBaud), static_cast<QWidget*>(cbLineEnding)})
        setting->setEnabled(!sending);
    btnSend->setText(sending ? QStringLiteral("Stop") : QStringLiteral("Send"));
}

void TfrmSend::showExchange(const qz::serial::Exchange& exchange)
{
    const QString shown = qz::fromBytes(qz::serial::TranscriptLine(exchange).substr(2));
    if (exchange.kind == qz::serial::Exchange::Sent) {
        waitingFor_ = new QTreeWidgetItem(tvTranscript, {shown, QStringLiteral("waiting...")});
        tvTranscript->scrollToItem(waitingFor_);
        return;
    }
    if (waitingFor_ == nullptr)
        return;
    waitingFor_->setText(1, shown);
    const QStyle::StandardPixmap mark = exchange.taken ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical;
    waitingFor_->setIcon(1, style()->standardIcon(mark));
    waitingFor_->setData(1, Qt::UserRole, exchange.taken);
    waitingFor_->setToolTip(1, exchange.taken ? QStringLiteral("Taken") : QStringLiteral("Not taken"));
    waitingFor_ = nullptr;
    pbProgress->setValue(driver_.taken());
    pbProgress->setFormat(takenText(driver_.taken(), driver_.total()));
}

void TfrmSend::showVerdict(const qz::serial::Verdict& verdict)
{
    if (waitingFor_ != nullptr) {
        waitingFor_->setText(1, QStringLiteral("(port failed)"));
        waitingFor_->setIcon(1, style()->standardIcon(QStyle::SP_MessageBoxCritical));
        waitingFor_ = nullptr;
    }
    setSending(false);
    const QString words = qz::fromBytes(verdict.message) + QLatin1Char('.');
    if (verdict.succeeded())
        lbVerdict->setText(QStringLiteral("Done: ") + words + QStringLiteral(" The module is set up."));
    else if (verdict.ending == qz::serial::Ending::Stopped)
        lbVerdict->setText(words);
    else
        lbVerdict->setText(QStringLiteral("Failed: ") + words);
    if (closeWhenFinished_)
        QDialog::reject();
}

bool TfrmSend::stopBeforeClosing()
{
    if (!driver_.running())
        return true;
    closeWhenFinished_ = true;
    driver_.stop();
    return !driver_.running();
}

void TfrmSend::reject()
{
    if (stopBeforeClosing())
        QDialog::reject();
}
