#include "ConsolePart.h"

#include "FieldRules.h"
#include "Transcript.h"
#include "WindowStyle.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

namespace {

using qz::described;
using qz::named;

constexpr int historyLength = 100;

QString hexBytes(const std::string& bytes)
{
    return QString::fromLatin1(QByteArray(bytes.data(), static_cast<int>(bytes.size())).toHex(' ').toUpper());
}

// A line typed as hex: digit pairs, spaces between them allowed ("48 65 6C 0D 0A"), as the
// bytes they write; nothing when it is not one.
std::optional<std::string> hexLine(const QString& line)
{
    QString digits = line;
    digits.remove(QLatin1Char(' '));
    static const QRegularExpression pairs(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
    if (!pairs.match(digits).hasMatch())
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Each row of the discovery keeps its device's address: the one connected to is the one
// the user saw in that row.
constexpr int addressRole = Qt::UserRole;

bool sameLink(const SerialLink& a, const SerialLink& b)
{
    return a.port == b.port && a.settings.baudRate == b.settings.baudRate
        && a.settings.lineEnding == b.settings.lineEnding && a.settings.replyTimeout == b.settings.replyTimeout;
}

} // namespace

TConsolePart::TConsolePart(TakeLink link, bool central, QWidget* parent)
    : QWidget(parent)
    , edtConsole(named(new QLineEdit(this), "edtConsole"))
    , btnConsoleSend(named(new QPushButton(QStringLiteral("Send line"), this), "btnConsoleSend"))
    , cbHex(named(new QCheckBox(QStringLiteral("Hex"), this), "cbHex"))
    , btnDiscover(named(new QPushButton(QStringLiteral("Discover devices"), this), "btnDiscover"))
    , btnConnect(named(new QPushButton(QStringLiteral("Connect"), this), "btnConnect"))
    , btnDisconnect(named(new QPushButton(QStringLiteral("Disconnect"), this), "btnDisconnect"))
    , tvDevices(named(new QTreeWidget(this), "tvDevices"))
    , btnConsoleStop(named(new QPushButton(QStringLiteral("Stop"), this), "btnConsoleStop"))
    , tvTranscript(new TTranscript(this, QStringLiteral("Console")))
    , lbStatus(named(new QLabel(this), "lbConsoleStatus"))
    , link_(std::move(link))
{
    setObjectName(QStringLiteral("tabConsole"));
    described(edtConsole, QStringLiteral("Command for the module"),
              QStringLiteral("A command for the module, such as AT+ROLE?; Enter sends it, Up and Down recall earlier "
                             "ones. Once connected, the line goes to the device."));
    edtConsole->setPlaceholderText(QStringLiteral("AT command; Enter sends it"));
    described(btnConsoleSend, QStringLiteral("Send line"), QStringLiteral("Send the line to the module"));
    described(cbHex, QStringLiteral("Bytes as hex"),
              QStringLiteral("Show what a connected device sends as hex bytes instead of text, and send the line "
                             "typed as the bytes its hex digit pairs write"));
    described(btnDiscover, QStringLiteral("Discover devices"),
              QStringLiteral("The module scans for devices (AT+DISC?) and lists each one it hears"));
    described(btnConnect, QStringLiteral("Connect"),
              QStringLiteral("Connect the module to the chosen device (AT+CO with its type and address)"));
    described(btnDisconnect, QStringLiteral("Disconnect"),
              QStringLiteral("End the link to the device: the module takes a lone AT as that, and says OK+LOST"));
    described(tvDevices, QStringLiteral("Devices heard"),
              QStringLiteral("The devices the module heard, in the order heard; double-click one to connect"));
    described(btnConsoleStop, QStringLiteral("Stop"),
              QStringLiteral("Stop waiting for the module: its reply, its scan or its link"));
    described(lbStatus, QStringLiteral("Status"), QStringLiteral("What the module did, in words"));
    for (QPushButton* button : {btnConsoleSend, btnDiscover, btnConnect, btnDisconnect, btnConsoleStop})
        button->setAutoDefault(false);
    qz::showsWords(lbStatus, 2);
    lbStatus->setText(central ? QStringLiteral("Type a command for the module, or discover the devices around it.")
                              : QStringLiteral("Type a command for the module; Enter sends it."));
    tvDevices->setColumnCount(3);
    tvDevices->setHeaderLabels({QStringLiteral("Type"), QStringLiteral("Address"), QStringLiteral("Name")});
    tvDevices->setRootIsDecorated(false);
    tvDevices->header()->setStretchLastSection(true);
    tvDevices->header()->resizeSection(0, 50);
    tvDevices->header()->resizeSection(1, 150);
    tvDevices->setMaximumHeight(6 * fontMetrics().lineSpacing());
    edtConsole->installEventFilter(this);

    auto* lineRow = new QHBoxLayout;
    lineRow->addWidget(edtConsole, 1);
    lineRow->addWidget(btnConsoleSend);
    lineRow->addWidget(cbHex);
    auto* column = new QVBoxLayout(this);
    column->addLayout(lineRow);
    column->addWidget(tvTranscript, 1);
    if (central) {
        auto* deviceButtons = new QVBoxLayout;
        deviceButtons->addWidget(btnDiscover);
        deviceButtons->addWidget(btnConnect);
        deviceButtons->addWidget(btnDisconnect);
        deviceButtons->addStretch(1);
        auto* deviceRow = new QHBoxLayout;
        deviceRow->addLayout(deviceButtons);
        deviceRow->addWidget(tvDevices, 1);
        column->addLayout(deviceRow);
    } else {
        for (QWidget* control : std::initializer_list<QWidget*>{btnDiscover, btnConnect, btnDisconnect, tvDevices})
            control->hide();
    }
    column->addWidget(lbStatus);
    column->addLayout(tvTranscript->buttonRow({btnConsoleStop}));

    connect(btnConsoleSend, &QPushButton::clicked, this, &TConsolePart::sendLine);
    connect(btnDiscover, &QPushButton::clicked, this, &TConsolePart::discover);
    connect(btnConnect, &QPushButton::clicked, this, &TConsolePart::connectChosen);
    connect(btnDisconnect, &QPushButton::clicked, this, &TConsolePart::disconnectLink);
    connect(tvDevices, &QTreeWidget::itemDoubleClicked, this, &TConsolePart::connectChosen);
    connect(btnConsoleStop, &QPushButton::clicked, this, &TConsolePart::stop);
    connect(tvDevices, &QTreeWidget::itemSelectionChanged, this, &TConsolePart::changed);
    connect(&driver_, &qz::ConsoleDriver::exchanged, this, [this](const qz::serial::Exchange& exchange) {
        // Once connected what is sent awaits no reply: it goes in as a line of its own, as
        // what the device sends does.
        if (driver_.connected() && exchange.kind == qz::serial::Exchange::Sent)
            tvTranscript->showLines({qz::fromBytes(qz::serial::TranscriptLine(exchange))});
        else
            tvTranscript->showExchange(exchange, {});
    });
    connect(&driver_, &qz::ConsoleDriver::found, this, &TConsolePart::showFound);
    connect(&driver_, &qz::ConsoleDriver::relayed, this, &TConsolePart::showRelayed);
    connect(&driver_, &qz::ConsoleDriver::ended, this, &TConsolePart::showEnded);
    connect(this, &TConsolePart::changed, this, [this] {
        edtConsole->setPlaceholderText(connected() ? QStringLiteral("Text for the connected device; Enter sends it")
                                                   : QStringLiteral("AT command; Enter sends it"));
    });
}

void TConsolePart::closePort()
{
    driver_.close();
    emit changed();
}

bool TConsolePart::deviceChosen() const
{
    return tvDevices->currentItem() != nullptr;
}

void TConsolePart::showStatus(const QString& words)
{
    lbStatus->setText(words);
}

// The port open with the dialog's choices as they stand now; reopened when they changed.
bool TConsolePart::portReady()
{
    const SerialLink wanted = link_();
    if (wanted.port.empty()) {
        showStatus(QStringLiteral("Choose or type the serial port the module is on."));
        return false;
    }
    if (driver_.isOpen() && sameLink(wanted, open_))
        return true;
    driver_.close();
    const std::string problem = driver_.open(wanted.port, wanted.settings);
    if (!problem.empty()) {
        showStatus(QStringLiteral("Cannot open %1: %2.")
                        .arg(qz::fromBytes(qz::serial::EscapedBytes(wanted.port)), qz::fromBytes(problem)));
        return false;
    }
    open_ = wanted;
    return true;
}

void TConsolePart::sendLine()
{
    const QString line = edtConsole->text();
    if (line.isEmpty() || driver_.busy())
        return;
    // With Hex the line is the bytes it writes; it stays in the field when it is none.
    const std::optional<std::string> typed = cbHex->isChecked() ? hexLine(line) : std::optional(qz::toBytes(line));
    if (!typed) {
        showStatus(QStringLiteral("With Hex, type the bytes as hex digit pairs, like 48 65 6C 6C 6F 0D 0A."));
        return;
    }
    const bool connected = driver_.connected();
    // One line is one command: a line break inside would send two as one write.
    if (!connected && typed->find_first_of("\r\n") != std::string::npos) {
        showStatus(QStringLiteral("The line holds a line break: send one command at a time."));
        return;
    }
    if (!portReady())
        return;
    if (history_.isEmpty() || history_.last() != line)
        history_ << line;
    while (history_.size() > historyLength)
        history_.removeFirst();
    recalled_ = static_cast<int>(history_.size());
    edtConsole->clear();
    // Hex bytes go as they are; a line of text gets the chosen line ending.
    const std::string ending =
        cbHex->isChecked() ? std::string() : std::string(qz::serial::LineEndingBytes(open_.settings.lineEnding));
    if (connected)
        driver_.relay(*typed + ending);
    else
        driver_.command(*typed);
    emit changed();
}

void TConsolePart::discover()
{
    if (driver_.busy() || driver_.connected() || !portReady())
        return;
    tvDevices->clear();
    showStatus(QStringLiteral("The module is scanning for devices..."));
    driver_.discover();
    emit changed();
}

void TConsolePart::connectChosen()
{
    const QTreeWidgetItem* chosen = tvDevices->currentItem();
    if (chosen == nullptr || driver_.busy() || driver_.connected() || !portReady())
        return;
    const std::string address = qz::toBytes(chosen->data(1, addressRole).toString());
    for (const qz::serial::FoundDevice& device : driver_.devices()) {
        if (device.address != address)
            continue;
        showStatus(QStringLiteral("Connecting to %1...").arg(qz::fromBytes(qz::ColonAddress(device.address))));
        driver_.connectTo(device);
        emit changed();
        return;
    }
}

void TConsolePart::showFound(const qz::serial::FoundDevice& device)
{
    auto* item = new QTreeWidgetItem(tvDevices, {qz::fromBytes(qz::serial::EscapedBytes(std::string(1, device.type))),
                                                 qz::fromBytes(qz::ColonAddress(device.address)),
                                                 device.name ? qz::fromBytes(qz::serial::EscapedBytes(*device.name))
                                                             : QStringLiteral("(no name)")});
    item->setData(1, addressRole, qz::fromBytes(device.address));
    if (tvDevices->topLevelItemCount() == 1)
        tvDevices->setCurrentItem(item);
}

void TConsolePart::showRelayed(const std::string& bytes)
{
    tvTranscript->showLines({QStringLiteral("< ") + (cbHex->isChecked() ? hexBytes(bytes) : qz::fromBytes(qz::serial::EscapedBytes(bytes)))});
}

void TConsolePart::showEnded(const qz::serial::TalkOutcome& outcome)
{
    using qz::serial::TalkEnd;
    if (!outcome.message.empty())
        showStatus(qz::fromBytes(outcome.message) + QLatin1Char('.'));
    else if (outcome.end == TalkEnd::Replied)
        showStatus(QStringLiteral("The module replied."));
    emit changed();
}

void TConsolePart::disconnectLink()
{
    if (!driver_.connected())
        return;
    showStatus(QStringLiteral("Ending the link..."));
    driver_.disconnectLink();
    emit changed();
}

// Up and Down walk through the lines sent before, as a shell's history does.
void TConsolePart::recall(int step)
{
    if (history_.isEmpty())
        return;
    recalled_ = std::clamp(recalled_ + step, 0, static_cast<int>(history_.size()));
    edtConsole->setText(recalled_ < history_.size() ? history_.at(recalled_) : QString());
}

bool TConsolePart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edtConsole && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            recall(key == Qt::Key_Up ? -1 : 1);
            return true;
        }
        // Enter sends the line, and goes no further: the dialog has no default button, and
        // the list must never go out for a key meant for the console.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            sendLine();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
