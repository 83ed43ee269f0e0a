// The send dialog offscreen against the fake module: progress, transcript, Stop, the
// verdict, and a window that keeps handling events while it waits for the module.

#include "FakeModule.h"
#include "SendToModule.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>

namespace {

using qz::test::FakeModule;
using std::chrono::milliseconds;

const std::vector<std::string> beaconCommands = {
    "AT+RENEW", "AT+IBEA1", "AT+IBE00000FFF0", "AT+IBE100001000", "AT+IBE280000080", "AT+IBE35F9B34FB",
    "AT+MARJ0x278B", "AT+MINO0x278D"};

FakeModule::Script slowOK(int delayMs, const std::string& refused = {})
{
    return [=](const std::string& command) {
        return FakeModule::Reply{{{milliseconds(delayMs), command == refused ? "ERROR" : "OK"}}};
    };
}

QStringList column(const QTreeWidget* tree, int index)
{
    QStringList texts;
    for (int row = 0; row < tree->topLevelItemCount(); ++row)
        texts << tree->topLevelItem(row)->text(index);
    return texts;
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget)
    {
        widget->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

void startSending(TfrmSend& dialog, const FakeModule& module)
{
    dialog.show();
    dialog.cbPort->setEditText(QString::fromStdString(module.path()));
    QTest::mouseClick(dialog.btnSend, Qt::LeftButton);
    QCOMPARE(dialog.btnSend->text(), QStringLiteral("Stop"));
    QVERIFY(!dialog.cbPort->isEnabled());
}

} // namespace

class SendDialogTest : public QObject {
    Q_OBJECT

private slots:
    void sendsEveryCommandAndKeepsHandlingEvents()
    {
        FakeModule module(slowOK(20));
        TfrmSend dialog(beaconCommands, nullptr);
        QCOMPARE(dialog.memCommands->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 8);
        // Ticks of a timer on the same thread: a long gap would mean a frozen window.
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longestGap = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - lastTick);
            lastTick = clock.elapsed();
        });
        clock.start();
        ticker.start(10);
        startSending(dialog, module);
        PaintCounter progressPaints(dialog.pbProgress);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.lbVerdict->text().startsWith(QStringLiteral("Done")), 20000);
        QCOMPARE(dialog.lbVerdict->text(), QStringLiteral("Done: 8 of 8 commands were taken. The module is set up."));
        // A wait that blocked the thread would stall it for the restart pause at least.
        QVERIFY2(longestGap < 450, qPrintable(QString::number(longestGap)));
        QCOMPARE(dialog.pbProgress->value(), 8);
        QVERIFY2(progressPaints.count >= 4, qPrintable(QString::number(progressPaints.count))); // drawn as it moved
        QStringList sent{QStringLiteral("AT")};
        for (const std::string& command : beaconCommands)
            sent << QString::fromStdString(command);
        QCOMPARE(column(dialog.tvTranscript, 0), sent);
        QCOMPARE(column(dialog.tvTranscript, 1).join(QLatin1Char(' ')), QStringLiteral("OK OK OK OK OK OK OK OK OK"));
        QCOMPARE(dialog.btnSend->text(), QStringLiteral("Send"));
        QVERIFY(dialog.cbPort->isEnabled());
    }

    void aRefusedCommandIsMarkedAndEndsTheSession()
    {
        FakeModule module(slowOK(1, "AT+IBE100001000"));
        TfrmSend dialog(beaconCommands, nullptr);
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.lbVerdict->text().startsWith(QStringLiteral("Failed")), 20000);
        QCOMPARE(dialog.lbVerdict->text(),
                 QStringLiteral("Failed: The module answered AT+IBE100001000 with \"ERROR\"; 3 of 8 commands were "
                                "taken; the module is partly set up."));
        const QTreeWidgetItem* last = dialog.tvTranscript->topLevelItem(dialog.tvTranscript->topLevelItemCount() - 1);
        QCOMPARE(last->text(0), QStringLiteral("AT+IBE100001000"));
        QCOMPARE(last->data(1, Qt::UserRole).toBool(), false);
        QCOMPARE(dialog.tvTranscript->topLevelItem(1)->data(1, Qt::UserRole).toBool(), true);
        QCOMPARE(dialog.pbProgress->value(), 3);
        QCOMPARE(module.commands().size(), std::size_t(5));
    }

    // Stop and Close both let the command in flight finish and send nothing after it,
    // whenever they come; the test reads where the session stood when it pressed them.
    void stopEndsAfterTheCurrentReplyAndClosingStopsFirst()
    {
        FakeModule module(slowOK(300));
        TfrmSend dialog(beaconCommands, nullptr);
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.tvTranscript->topLevelItemCount() >= 3, 10000);
        const int sentAtStop = dialog.tvTranscript->topLevelItemCount();
        QTest::mouseClick(dialog.btnSend, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.lbVerdict->text().startsWith(QStringLiteral("Stopped")), 10000);
        QCOMPARE(dialog.lbVerdict->text(), QStringLiteral("Stopped; %1 of 8 commands were taken; the module is partly "
                                                          "set up.")
                                               .arg(sentAtStop - 1));
        QCOMPARE(dialog.tvTranscript->topLevelItemCount(), sentAtStop);
        QCOMPARE(module.commands().size(), std::size_t(sentAtStop));
        QCOMPARE(dialog.btnSend->text(), QStringLiteral("Send"));

        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.tvTranscript->topLevelItemCount() >= 2, 10000);
        const int sentAtClose = dialog.tvTranscript->topLevelItemCount();
        dialog.close();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        QVERIFY(dialog.lbVerdict->text().startsWith(QStringLiteral("Stopped; %1 of 8").arg(sentAtClose - 1)));
        QCOMPARE(module.commands().size(), std::size_t(sentAtStop + sentAtClose));
    }

    void aPortThatCannotBeOpenedSendsNothing()
    {
        TfrmSend dialog(beaconCommands, nullptr);
        dialog.show();
        dialog.cbPort->setEditText(QStringLiteral("/dev/qz-missing"));
        QTest::mouseClick(dialog.btnSend, Qt::LeftButton);
        QCOMPARE(dialog.lbVerdict->text(), QStringLiteral("Cannot open /dev/qz-missing: no such device. Nothing was sent."));
        QCOMPARE(dialog.btnSend->text(), QStringLiteral("Send"));
        QCOMPARE(dialog.tvTranscript->topLevelItemCount(), 0);
    }

    void theNextDialogOffersTheLastChoices()
    {
        {
            TfrmSend first(beaconCommands, nullptr);
            first.cbPort->setEditText(QStringLiteral("/dev/qz-missing"));
            first.cbBaud->setCurrentText(QStringLiteral("115200"));
            first.cbLineEnding->setCurrentText(QStringLiteral("CR LF"));
            QTest::mouseClick(first.btnSend, Qt::LeftButton);
        }
        TfrmSend second(beaconCommands, nullptr);
        QCOMPARE(second.cbPort->currentText(), QStringLiteral("/dev/qz-missing"));
        QCOMPARE(second.cbBaud->currentText(), QStringLiteral("115200"));
        QCOMPARE(second.cbLineEnding->currentText(), QStringLiteral("CR LF"));
    }
};

QTEST_MAIN(SendDialogTest)
#include "SendDialogTest.moc"
