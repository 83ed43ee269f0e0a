#include "SendList.h"

#include "Transcript.h"
#include "WindowStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using qz::described;
using qz::named;

QString takenText(int taken, int total)
{
    return QStringLiteral("%1 of %2 commands taken").arg(taken).arg(total);
}

} // namespace

TSendList::TSendList(std::vector<std::string> commands, qz::air::Expectation expectation, TakeLink takeLink,
                     QWidget* parent)
    : QWidget(parent)
    , memCommands(named(new QPlainTextEdit(this), "memCommands"))
    , pbProgress(named(new QProgressBar(this), "pbProgress"))
    , tvTranscript(new TTranscript(this, QString()))
    , lbVerdict(named(new QLabel(this), "lbVerdict"))
    , btnVerify(named(new QPushButton(QStringLiteral("Verify over the air"), this), "btnVerify"))
    , btnSend(named(new QPushButton(QStringLiteral("Send"), this), "btnSend"))
    , btnStop(named(new QPushButton(QStringLiteral("Stop"), this), "btnStop"))
    , commands_(std::move(commands))
    , expectation_(std::move(expectation))
    , takeLink_(std::move(takeLink))
{
    setObjectName(QStringLiteral("tabSendList"));
    described(memCommands, QStringLiteral("Commands to send"),
              QStringLiteral("The list's commands, sent in this order after an AT that checks the link"));
    described(pbProgress, QStringLiteral("Progress"), QStringLiteral("How far the session has come"));
    described(lbVerdict, QStringLiteral("Verdict"), QStringLiteral("What the module did, in words"));
    described(btnSend, QStringLiteral("Send"), QStringLiteral("Send the commands to the module, checking every reply"));
    described(btnStop, QStringLiteral("Stop"), QStringLiteral("Stop after the reply to the current command"));
    btnVerify->setAccessibleName(QStringLiteral("Verify over the air")); // its tooltip says why it can or cannot
    for (QPushButton* button : {btnVerify, btnSend, btnStop})
        button->setAutoDefault(false);

    QString commandText;
    for (const std::string& command : commands_)
        commandText += qz::fromBytes(command) + QLatin1Char('\n');
    memCommands->setPlainText(commandText);
    memCommands->setReadOnly(true);
    memCommands->setMinimumHeight(48); // three lines; more where the screen has room
    memCommands->setMaximumHeight(110);

    const int total = static_cast<int>(commands_.size());
    pbProgress->setRange(0, total);
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, total));

    qz::showsWords(lbVerdict, 4);
    lbVerdict->setText(QStringLiteral("Nothing sent yet. The module gets the %1 commands above, in order, after "
                                      "an AT that checks the link.").arg(total));
    // Its caption whole in a full row: the text, the style's margins and some air.
    btnVerify->setMinimumWidth(btnVerify->fontMetrics().horizontalAdvance(btnVerify->text())
                               + 2 * btnVerify->style()->pixelMetric(QStyle::PM_ButtonMargin) + 12);

    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(QStringLiteral("Commands to send:"), this));
    column->addWidget(memCommands);
    column->addWidget(pbProgress);
    column->addWidget(tvTranscript, 1);
    column->addWidget(lbVerdict);
    column->addLayout(tvTranscript->buttonRow({btnVerify, btnSend, btnStop}));

    listenTick_.setInterval(1000);
    connect(&listenTick_, &QTimer::timeout, this,
            [this] { pbProgress->setValue(std::min(pbProgress->value() + 1, listenSeconds_)); });
    connect(btnSend, &QPushButton::clicked, this, &TSendList::send);
    connect(btnStop, &QPushButton::clicked, this, &TSendList::stop);
    connect(btnVerify, &QPushButton::clicked, this, &TSendList::verify);
    connect(&driver_, &qz::SerialDriver::exchanged, this, &TSendList::showExchange);
    connect(&driver_, &qz::SerialDriver::finished, this, &TSendList::showVerdict);
    connect(&air_, &qz::AirCheck::finished, this, &TSendList::showHeard);
    connect(&air_, &qz::AirCheck::failed, this, &TSendList::showCannotListen);
    explainVerify();
}

TSendList::~TSendList() = default;

void TSendList::setCannotListen(const QString& cannotListen)
{
    cannotListen_ = cannotListen;
    explainVerify();
    emit changed();
}

// Listening follows a send that ended well, on a system that can listen.
void TSendList::explainVerify()
{
    if (!cannotListen_.isEmpty())
        btnVerify->setToolTip(cannotListen_);
    else if (!setUp_)
        btnVerify->setToolTip(QStringLiteral("Once the module took its list, listen for it and check that it "
                                             "advertises what it was given"));
    else
        btnVerify->setToolTip(QStringLiteral("Listen for the module and check that it advertises what it was given"));
}

void TSendList::send()
{
    if (sending() || listening())
        return;
    const SerialLink link = takeLink_();
    if (link.port.empty()) {
        lbVerdict->setText(QStringLiteral("Choose or type the serial port the module is on."));
        return;
    }
    tvTranscript->restart();
    setUp_ = false;
    explainVerify();
    const int total = static_cast<int>(commands_.size());
    pbProgress->setRange(0, total);
    pbProgress->setValue(0);
    pbProgress->setFormat(takenText(0, total));
    baudRate_ = link.settings.baudRate;
    const std::string problem = driver_.start(link.port, commands_, link.settings);
    if (!problem.empty()) {
        lbVerdict->setText(QStringLiteral("Cannot open %1: %2. Nothing was sent.")
                               .arg(qz::fromBytes(qz::serial::EscapedBytes(link.port)), qz::fromBytes(problem)));
        emit changed();
        return;
    }
    lbVerdict->setText(QStringLiteral("Sending..."));
    emit changed();
}

void TSendList::stop()
{
    if (listening()) {
        air_.stop(); // says it was stopped
        return;
    }
    if (!sending())
        return;
    lbVerdict->setText(QStringLiteral("Stopping after the reply to the current command..."));
    driver_.stop();
}

void TSendList::showExchange(const qz::serial::Exchange& exchange)
{
    tvTranscript->showExchange(exchange, {});
    pbProgress->setValue(driver_.taken());
    pbProgress->setFormat(takenText(driver_.taken(), driver_.total()));
}

void TSendList::showVerdict(const qz::serial::Verdict& verdict)
{
    tvTranscript->markUnanswered({}, verdict.ending);
    const QString verdictLine = qz::fromBytes(verdict.message);
    tvTranscript->setVerdictLine(verdictLine);
    QString words = verdictLine + QLatin1Char('.');
    // AT+RENEW put the module back to its factory rate, and the port went with it.
    if (driver_.baudRate() != baudRate_) {
        words += QStringLiteral(" The module's rate is now %1 baud, its factory rate; the rate above shows it.")
                     .arg(driver_.baudRate());
        emit rateChanged(driver_.baudRate());
    }
    setUp_ = verdict.succeeded();
    explainVerify();
    btnSend->setText(QStringLiteral("Send again"));
    btnSend->setToolTip(QStringLiteral("Send the commands to the module on the port again, from the first"));
    const bool canVerify = setUp_ && canListen();
    if (verdict.succeeded())
        lbVerdict->setText(QStringLiteral("Done: ") + words + QStringLiteral(" The module is set up.")
                           + (canVerify ? QStringLiteral(" Verify over the air to hear it advertise.") : QString()));
    else if (verdict.ending == qz::serial::Ending::Stopped)
        lbVerdict->setText(words);
    else
        lbVerdict->setText(QStringLiteral("Failed: ") + words);
    emit changed();
}

void TSendList::verify()
{
    if (!setUp_ || !canListen() || sending() || listening())
        return;
    listenSeconds_ = qz::air::DefaultListeningSeconds(expectation_);
    // Should listening not start, the check's failure says why.
    air_.start(expectation_, listenSeconds_, {});
    const std::string advice = qz::air::RestartAdvice(expectation_, listenSeconds_);
    tvTranscript->showLines({QStringLiteral("Listening over the air for %1 s").arg(listenSeconds_)});
    lbVerdict->setText(advice.empty() ? QStringLiteral("Listening over the air for %1 s...").arg(listenSeconds_)
                                      : QStringLiteral("The list has no AT+RESET, and the module applies some settings "
                                                       "only after a restart: power the module off and on now. "
                                                       "Listening for %1 s...").arg(listenSeconds_));
    pbProgress->setRange(0, listenSeconds_);
    pbProgress->setValue(0);
    pbProgress->setFormat(QStringLiteral("listening: %v of %m s"));
    listenTick_.start();
    emit changed();
}

void TSendList::showHeard(const qz::air::Verdict& verdict)
{
    listenTick_.stop();
    pbProgress->setValue(pbProgress->maximum());
    pbProgress->setFormat(qz::fromBytes(qz::air::OutcomeName(verdict.outcome)));
    QStringList lines;
    for (const std::string& line : qz::air::DescribeVerdict(verdict))
        lines << qz::fromBytes(line);
    tvTranscript->showLines(lines);
    lbVerdict->setText(lines.join(QLatin1Char('\n')));
    emit changed();
}

void TSendList::showCannotListen(const std::string& why)
{
    listenTick_.stop();
    pbProgress->setFormat(QStringLiteral("cannot listen"));
    const QString words = QStringLiteral("Cannot listen over the air: %1.").arg(qz::fromBytes(why));
    tvTranscript->showLines({words});
    lbVerdict->setText(words);
    emit changed();
}
