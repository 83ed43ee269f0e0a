#include "SendToModule.h"

#include "AirCheck.h"
#include "AirScanner.h"
#include "BoundedSpinBox.h"
#include "ConsolePart.h"
#include "PortList.h"
#include "SendList.h"
#include "SeveralModules.h"
#include "WindowStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using qz::named;
using qz::ui::Control;

const std::pair<const char*, qz::serial::LineEnding> lineEndingChoices[] = {
    {"None", qz::serial::LineEnding::None},
    {"CR", qz::serial::LineEnding::CR},
    {"LF", qz::serial::LineEnding::LF},
    {"CR LF", qz::serial::LineEnding::CRLF},
};

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
    , tabTools(named(new QTabWidget(this), "tabTools"))
    , sendList(nullptr)
    , several(nullptr)
    , console(nullptr)
    , btnClose(named(new QPushButton(QStringLiteral("Close"), this), "btnClose"))
{
    setObjectName(QStringLiteral("frmSend"));
    setWindowTitle(QStringLiteral("Send to Module"));
    setFont(qz::windowFont());
    setWindowIcon(qz::applicationIcon());

    const qz::air::Expectation expectation = qz::air::ExpectedOnAir(advertisedBy(page, commands));
    const bool silent = expectation.kind == qz::air::Expectation::Kind::Silent;
    const QString cannotListen = silent ? QStringLiteral("Nothing to hear: ")
            + QLatin1String(qz::air::SilentWords.data(), static_cast<int>(qz::air::SilentWords.size()))
                                        : QStringLiteral("Asking BlueZ whether anything can listen...");
    sendList = new TSendList(commands, expectation, [this] { return takeLink(); }, this);
    sendList->setCannotListen(cannotListen);
    tabTools->addTab(sendList, QStringLiteral("Send the list"));
    if (page.page != nullptr) {
        several = new TSeveralModules(std::move(page), cannotListen, [this] { return takeLink(); }, this);
        tabTools->addTab(several, QStringLiteral("Several modules"));
    }
    // A list that ends with AT+ROLE1 leaves a central that waits to discover and connect.
    const bool central = std::find(commands.begin(), commands.end(), "AT+ROLE1") != commands.end();
    console = new TConsolePart([this] { return chosenLink(); }, central, this);
    tabTools->addTab(console, QStringLiteral("Console"));
    if (!silent) {
        // Whether anything can listen is asked on the bus; the answer comes when it comes.
        qz::AirScanner::AskUnavailable(this, [this](const std::string& why) {
            sendList->setCannotListen(qz::fromBytes(why));
            if (several != nullptr)
                several->setCannotListen(qz::fromBytes(why));
        });
    }

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
    // No button is the dialog's default: Enter typed in the console, or anywhere else,
    // never sends the list again (it may begin with AT+RENEW).
    for (QPushButton* button : {btnRefresh, btnClose})
        button->setAutoDefault(false);
    layOut();

    const auto bind = [this](Control control, std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets)
            controls_.emplace_back(control, widget);
    };
    bind(Control::PortChoices, {cbPort, btnRefresh, cbBaud, cbLineEnding, spnTimeout});
    bind(Control::Send, {sendList->btnSend});
    bind(Control::Verify, {sendList->btnVerify});
    bind(Control::SendStop, {sendList->btnStop});
    bind(Control::ConsoleSend, {console->btnConsoleSend});
    bind(Control::ConsoleStop, {console->btnConsoleStop});
    bind(Control::Discover, {console->btnDiscover});
    bind(Control::Connect, {console->btnConnect});
    bind(Control::Disconnect, {console->btnDisconnect});
    if (several != nullptr) {
        for (QWidget* choice : several->choices())
            controls_.emplace_back(Control::BatchChoices, choice);
        // Counting or a values file: the choice that is not in use waits (after the choices, so it holds).
        bind(Control::ModuleCount, {several->spnModules});
        bind(Control::ValuesFile, {several->edtValuesFile});
        bind(Control::VerifyEach, {several->cbVerifyEach});
        bind(Control::BatchStart, {several->btnStartBatch});
        bind(Control::BatchStop, {several->btnStopBatch});
        bind(Control::NextModule, {several->btnNextModule});
        connect(several, &TSeveralModules::changed, this, &TfrmSend::applyStates);
    }
    connect(sendList, &TSendList::changed, this, &TfrmSend::applyStates);
    connect(sendList, &TSendList::rateChanged, this, &TfrmSend::showRate);
    connect(console, &TConsolePart::changed, this, &TfrmSend::applyStates);
    connect(btnRefresh, &QPushButton::clicked, this, &TfrmSend::refreshPorts);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSend::close);

    refreshPorts();
    restoreChoices();
    applyStates();
    qz::centreOnDesktop(this);
}

TfrmSend::~TfrmSend() = default;

void TfrmSend::layOut()
{
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(cbPort, 1);
    portRow->addWidget(btnRefresh);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Port:"), this), 0, 0);
    grid->addLayout(portRow, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Rate (baud):"), this), 0, 2);
    grid->addWidget(cbBaud, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Line ending:"), this), 1, 2);
    grid->addWidget(cbLineEnding, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Reply timeout:"), this), 1, 0);
    grid->addWidget(spnTimeout, 1, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(btnClose);
    auto* column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addWidget(tabTools, 1);
    column->addLayout(closeRow);
    // Resizable, and within the screen it opens on: the transcripts take what is left.
    // (A title bar and frame take up to 40 pixels more.)
    const QRect screen = this->screen()->availableGeometry();
    resize(std::max(640, sizeHint().width()), std::min(720, screen.height() - 40));
}

void TfrmSend::describeControls()
{
    using qz::described;
    described(cbPort, QStringLiteral("Port"), QStringLiteral("A serial port found on this computer, or any path or COM name"));
    described(btnRefresh, QStringLiteral("Refresh"), QStringLiteral("Look for serial ports again"));
    described(cbBaud, QStringLiteral("Rate (baud)"), QStringLiteral("The module's rate; a new module's is 9600 baud"));
    described(cbLineEnding, QStringLiteral("Line ending"),
              QStringLiteral("Bytes sent after each command; the module itself wants none"));
    described(spnTimeout, QStringLiteral("Reply timeout"), QStringLiteral("How long the module may take to begin its reply"));
    described(tabTools, QStringLiteral("Tools"),
              QStringLiteral("Send the list to one module, set up several, or talk to the module; one at a time"));
    described(btnClose, QStringLiteral("Close"), QStringLiteral("Close this dialog"));
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
    if (several != nullptr)
        several->restoreChoices(saved);
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
    if (several != nullptr)
        several->keepChoices(saved);
}

void TfrmSend::refreshPorts()
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

SerialLink TfrmSend::chosenLink() const
{
    SerialLink link;
    link.port = chosenPort();
    link.settings.baudRate = cbBaud->currentData().toInt();
    link.settings.lineEnding = static_cast<qz::serial::LineEnding>(cbLineEnding->currentData().toInt());
    link.settings.replyTimeout = std::chrono::milliseconds(spnTimeout->value());
    return link;
}

SerialLink TfrmSend::takeLink()
{
    keepChoices();
    console->closePort();
    return chosenLink();
}

void TfrmSend::showRate(int baudRate)
{
    cbBaud->setCurrentIndex(cbBaud->findData(baudRate));
    keepChoices();
}

qz::ui::Activity TfrmSend::activity() const
{
    using qz::ui::Activity;
    if (sendList->sending())
        return Activity::Sending;
    if (sendList->listening())
        return Activity::Listening;
    if (several != nullptr && several->running())
        return Activity::Batch;
    if (console->busy())
        return Activity::Talking;
    return console->connected() ? Activity::Connected : Activity::Idle;
}

bool TfrmSend::settingUp() const
{
    return sendList->sending() || (several != nullptr && several->running());
}

// Every control, and every tool's page, as what the dialog is doing allows; then a close
// that waited for it.
void TfrmSend::applyStates()
{
    qz::ui::Facts facts;
    facts.listSetUp = sendList->setUp();
    facts.canListen = sendList->canListen();
    facts.deviceChosen = console->deviceChosen();
    if (several != nullptr) {
        facts.oneSwappedPort = several->onlyWaitingPort().has_value();
        facts.valuesFromFile = several->valuesFromFile();
    }
    const qz::ui::Activity now = activity();
    for (const auto& [control, widget] : controls_)
        widget->setEnabled(qz::ui::Enabled(control, now, facts));
    tabTools->setTabEnabled(tabTools->indexOf(sendList), qz::ui::Enabled(Control::SendTool, now, facts));
    if (several != nullptr)
        tabTools->setTabEnabled(tabTools->indexOf(several), qz::ui::Enabled(Control::BatchTool, now, facts));
    tabTools->setTabEnabled(tabTools->indexOf(console), qz::ui::Enabled(Control::ConsoleTool, now, facts));

    if (closeWhenFinished_ && !settingUp()) {
        closeWhenFinished_ = false;
        QDialog::reject();
    } else if (leavingLink_ && !console->busy()) {
        QMetaObject::invokeMethod(this, &TfrmSend::reject, Qt::QueuedConnection);
    }
}

void TfrmSend::reject()
{
    // A link the module holds is ended first, as the user agrees; one the module does not
    // confirm ending is left as it is.
    if (console->connected() && !leavingLink_) {
        const auto answer = QMessageBox::question(
            this, windowTitle(), QStringLiteral("The module is connected to a device. End the link, and close?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        leavingLink_ = true;
        console->disconnectLink();
        return;
    }
    if (leavingLink_ && console->busy())
        return; // it closes once the link is over
    leavingLink_ = false;
    sendList->stopListening(); // listening harms nothing: it simply ends
    console->stop();
    console->closePort();
    if (!settingUp()) {
        QDialog::reject();
        return;
    }
    if (closeWhenFinished_)
        return; // asked already; it closes once the session has stopped
    const bool batch = several != nullptr && several->running();
    const QString question = batch
        ? QStringLiteral("Modules are being set up. Stop after the reply to the current command, and close? The same "
                         "batch with the same record file finishes it later.")
        : QStringLiteral("The module is being set up. Stop after the reply to the current command, and close?");
    const auto answer = QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!settingUp()) { // it ended while the question was open
        QDialog::reject();
        return;
    }
    closeWhenFinished_ = true;
    if (batch)
        several->stop();
    else
        sendList->stop();
}
