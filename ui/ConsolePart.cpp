#include "ConsolePart.h"

#include "WindowStyle.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
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

bool sameLink(const TConsolePart::Link& a, const TConsolePart::Link& b)
{
    return a.port == b.port && a.settings.baudRate == b.settings.baudRate
        && a.settings.lineEnding == b.settings.lineEnding && a.settings.replyTimeout == b.settings.replyTimeout;
}

} // namespace

TConsolePart::TConsolePart(std::function<Link()> link, bool central, QWidget* parent)
    : QGroupBox(QStringLiteral("Console"), parent)
    , edtConsole(named(new QLineEdit(this), "edtConsole"))
    , btnConsoleSend(named(new QPushButton(QStringLiteral("Send line"), this), "btnConsoleSend"))
    , cbHex(named(new QCheckBox(QStringLiteral("Hex"), this), "cbHex"))
    , btnDiscover(named(new QPushButton(QStringLiteral("Discover devices"), this), "btnDiscover"))
    , btnConnect(named(new QPushButton(QStringLiteral("Connect"), this), "btnConnect"))
    , btnDisconnect(named(new QPushButton(QStringLiteral("Disconnect"), this), "btnDisconnect"))
    , tvDevices(named(new QTreeWidget(this), "tvDevices"))
    , link_(std::move(link))
{
    setObjectName(QStringLiteral("gbConsole"));
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
    for (QPushButton* button : {btnConsoleSend, btnDiscover, btnConnect, btnDisconnect})
        button->setAutoDefault(false);
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

    connect(btnConsoleSend, &QPushButton::clicked, this, &TConsolePart::sendLine);
    connect(btnDiscover, &QPushButton::clicked, this, &TConsolePart::discover);
    connect(btnConnect, &QPushButton::clicked, this, &TConsolePart::connectChosen);
    connect(btnDisconnect, &QPushButton::clicked, this, &TConsolePart::disconnectLink);
    connect(tvDevices, &QTreeWidget::itemDoubleClicked, this, &TConsolePart::connectChosen);
    connect(tvDevices, &QTreeWidget::itemSelectionChanged, this, &TConsolePart::enableControls);
    connect(&driver_, &qz::ConsoleDriver::exchanged, this, [this](const qz::serial::Exchange& exchange) {
        // Once connected what is sent awaits no reply: it goes in as a line of its own, as
        // what the device sends does.
        if (driver_.connected() && exchange.kind == qz::serial::Exchange::Sent)
            emit lines({qz::fromBytes(qz::serial::TranscriptLine(exchange))});
        else
            emit exchanged(exchange);
    });
    connect(&driver_, &qz::ConsoleDriver::found, this, &TConsolePart::showFound);
    connect(&driver_, &qz::ConsoleDriver::relayed, this, &TConsolePart::showRelayed);
    connect(&driver_, &qz::ConsoleDriver::ended, this, &TConsolePart::showEnded);
    enableControls();
}

void TConsolePart::closePort()
{
    driver_.close();
    enableControls();
}

// The port open with the dialog's choices as they stand now; reopened when they changed.
bool TConsolePart::portReady()
{
    const Link wanted = link_();
    if (wanted.port.empty()) {
        emit status(QStringLiteral("Choose or type the serial port the module is on."));
        return false;
    }
    if (driver_.isOpen() && sameLink(wanted, open_))
        return true;
    driver_.close();
    const std::string problem = driver_.open(wanted.port, wanted.settings);
    if (!problem.empty()) {
        emit status(QStringLiteral("Cannot open %1: %2.")
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
        emit status(QStringLiteral("With Hex, type the bytes as hex digit pairs, like 48 65 6C 6C 6F 0D 0A."));
        return;
    }
    const bool connected = driver_.connected();
    // One line is one command: a line break inside would send two as one write.
    if (!connected && typed->find_first_of("\r\n") != std::string::npos) {
        emit status(QStringLiteral("The line holds a line break: send one command at a time."));
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
    enableControls();
}

void TConsolePart::discover()
{
    if (driver_.busy() || driver_.connected() || !portReady())
        return;
    tvDevices->clear();
    emit status(QStringLiteral("The module is scanning for devices..."));
    driver_.discover();
    enableControls();
}

void TConsolePart::connectChosen()
{
    const QTreeWidgetItem* chosen = tvDevices->currentItem();
    const std::vector<qz::serial::FoundDevice> devices = driver_.devices();
    const int row = chosen == nullptr ? -1 : tvDevices->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(chosen));
    if (row < 0 || row >= static_cast<int>(devices.size()) || driver_.busy() || driver_.connected() || !portReady())
        return;
    const qz::serial::FoundDevice device = devices[static_cast<std::size_t>(row)];
    emit status(QStringLiteral("Connecting to %1...").arg(qz::fromBytes(qz::serial::ColonAddress(device.address))));
    driver_.connectTo(device);
    enableControls();
}

void TConsolePart::showFound(const qz::serial::FoundDevice& device)
{
    auto* item = new QTreeWidgetItem(tvDevices, {qz::fromBytes(qz::serial::EscapedBytes(std::string(1, device.type))),
                                                 qz::fromBytes(qz::serial::ColonAddress(device.address)),
                                                 device.name ? qz::fromBytes(qz::serial::EscapedBytes(*device.name))
                                                             : QStringLiteral("(no name)")});
    if (tvDevices->topLevelItemCount() == 1)
        tvDevices->setCurrentItem(item);
}

void TConsolePart::showRelayed(const std::string& bytes)
{
    emit lines({QStringLiteral("< ") + (cbHex->isChecked() ? hexBytes(bytes) : qz::fromBytes(qz::serial::EscapedBytes(bytes)))});
}

void TConsolePart::showEnded(const qz::serial::TalkOutcome& outcome)
{
    using qz::serial::TalkEnd;
    if (!outcome.message.empty())
        emit status(qz::fromBytes(outcome.message) + QLatin1Char('.'));
    else if (outcome.end == TalkEnd::Replied)
        emit status(QStringLiteral("The module replied."));
    enableControls();
}

void TConsolePart::disconnectLink()
{
    if (!driver_.connected())
        return;
    emit status(QStringLiteral("Ending the link..."));
    driver_.disconnectLink();
    enableControls();
}

void TConsolePart::enableControls()
{
    const bool busy = driver_.busy();
    const bool connected = driver_.connected();
    // The line stays open while a reply is awaited, so that the typing and the focus stay
    // in it; Enter sends nothing until the reply is in.
    btnConsoleSend->setEnabled(!busy);
    btnDiscover->setEnabled(!busy && !connected);
    btnConnect->setEnabled(!busy && !connected && tvDevices->currentItem() != nullptr);
    btnDisconnect->setEnabled(!busy && connected);
    edtConsole->setPlaceholderText(connected ? QStringLiteral("Text for the connected device; Enter sends it")
                                             : QStringLiteral("AT command; Enter sends it"));
    emit busyChanged(busy);
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
        // Enter sends the line; it must not reach the dialog, whose default button sends the list.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            sendLine();
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}
