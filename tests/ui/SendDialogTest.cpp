// The send dialog offscreen against the fake module: progress, transcript, Stop, the
// verdict, and a window that keeps handling events while it waits for the module.

#include "ATCommandList.h"
#include "BeaconList.h"
#include "FakeModule.h"
#include "ConsolePart.h"
#include "SendList.h"
#include "SendToModule.h"
#include "SeveralModules.h"
#include "Pictures.h"
#include "Transcript.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QStandardPaths>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <functional>
#include <map>

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
    QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
    QVERIFY(dialog.sendList->btnStop->isEnabled());
    QVERIFY(!dialog.sendList->btnSend->isEnabled());
    QVERIFY(!dialog.cbPort->isEnabled());
    QVERIFY(!dialog.console->isEnabled()); // one tool at a time
}

// A central module, as the study page's list leaves it: it scans, connects, then passes
// bytes through (the device behind it answers hello with world).
FakeModule::Reply central(const std::string& command)
{
    if (command == "AT+DISC?")
        return {{{milliseconds(5), "OK+DISCSOK+DIS00017EA0943AELamp-01\r\n"}, {milliseconds(40), "OK+DIS1001122334455"},
                 {milliseconds(200), "OK+DISCE"}}};
    if (command == "AT+CO00017EA0943AE")
        return {{{milliseconds(5), "OK+CONNA"}, {milliseconds(200), "OK+CONN"}}};
    if (command == "hello")
        return FakeModule::ok("world\x01");
    return FakeModule::ok(command == "AT+ROLE?" ? "OK+Get:1" : "OK");
}

// Answers the next question box with the given button once it is shown.
void answerNextQuestion(QMessageBox::StandardButton answer)
{
    QTimer::singleShot(50, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr)
            box->button(answer)->click();
        else
            answerNextQuestion(answer);
    });
}

} // namespace

class SendDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // the dialog's settings go to a test folder
        QSettings(QStringLiteral("Kavrel"), QStringLiteral("Kavrel Config Assistant")).clear();
    }

    void sendsEveryCommandAndKeepsHandlingEvents()
    {
        FakeModule module(slowOK(20));
        TfrmSend dialog(beaconCommands, nullptr);
        QCOMPARE(dialog.sendList->memCommands->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 8);
        QCOMPARE(dialog.objectName(), QStringLiteral("frmSend"));
        for (const char* name : {"cbPort", "btnRefresh", "cbBaud", "cbLineEnding", "spnTimeout", "tabTools",
                                 "tabSendList", "memCommands", "pbProgress", "tvTranscript", "lbVerdict", "btnCopy",
                                 "btnSave", "btnSend", "btnStop", "btnClose", "tabConsole"})
            QVERIFY2(dialog.findChild<QWidget*>(QLatin1String(name)) != nullptr, name);
        // Nothing chosen before: the module's factory settings.
        QCOMPARE(dialog.spnTimeout->value(), 1000);
        QCOMPARE(dialog.cbBaud->currentText(), QStringLiteral("9600"));
        QCOMPARE(dialog.cbLineEnding->currentText(), QStringLiteral("None"));
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
        PaintCounter progressPaints(dialog.sendList->pbProgress);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Done")), 20000);
        QCOMPARE(dialog.sendList->lbVerdict->text(), QStringLiteral("Done: 8 of 8 commands were taken. The module is set up."));
        // A wait that blocked the thread would stall it for the restart pause at least.
        QVERIFY2(longestGap < 450, qPrintable(QString::number(longestGap)));
        QCOMPARE(dialog.sendList->pbProgress->value(), 8);
        QVERIFY2(progressPaints.count >= 4, qPrintable(QString::number(progressPaints.count))); // drawn as it moved
        QStringList sent{QStringLiteral("AT")};
        for (const std::string& command : beaconCommands)
            sent << QString::fromStdString(command);
        QCOMPARE(column(dialog.sendList->tvTranscript, 0), sent);
        QCOMPARE(column(dialog.sendList->tvTranscript, 1).join(QLatin1Char(' ')), QStringLiteral("OK OK OK OK OK OK OK OK OK"));
        QVERIFY(dialog.sendList->btnSend->isEnabled());
        QCOMPARE(dialog.sendList->btnSend->text(), QStringLiteral("Send again"));
        QVERIFY(!dialog.sendList->btnStop->isEnabled());
        QVERIFY(dialog.cbPort->isEnabled());
        picture(dialog, QStringLiteral("send-after"));
    }

    void aRefusedCommandIsMarkedAndEndsTheSession()
    {
        FakeModule module(slowOK(1, "AT+IBE100001000"));
        TfrmSend dialog(beaconCommands, nullptr);
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Failed")), 20000);
        QCOMPARE(dialog.sendList->lbVerdict->text(),
                 QStringLiteral("Failed: The module answered AT+IBE100001000 with \"ERROR\"; 3 of 8 commands were "
                                "taken; the module is partly set up."));
        // The whole verdict is there to read, broken into lines within the dialog.
        QVERIFY(dialog.sendList->lbVerdict->minimumSizeHint().width() <= dialog.sendList->lbVerdict->width());
        QVERIFY(dialog.sendList->lbVerdict->heightForWidth(dialog.sendList->lbVerdict->width()) <= dialog.sendList->lbVerdict->height());
        const QTreeWidgetItem* last = dialog.sendList->tvTranscript->topLevelItem(dialog.sendList->tvTranscript->topLevelItemCount() - 1);
        QCOMPARE(last->text(0), QStringLiteral("AT+IBE100001000"));
        QCOMPARE(last->data(1, Qt::UserRole).toBool(), false);
        QCOMPARE(dialog.sendList->tvTranscript->topLevelItem(1)->data(1, Qt::UserRole).toBool(), true);
        QCOMPARE(dialog.sendList->pbProgress->value(), 3);
        QCOMPARE(module.commands().size(), std::size_t(5));
    }

    // Stop and Close both let the command in flight finish and send nothing after it,
    // whenever they come; the test reads where the session stood when it pressed them.
    void stopEndsAfterTheCurrentReplyAndClosingStopsFirst()
    {
        FakeModule module(slowOK(300));
        TfrmSend dialog(beaconCommands, nullptr);
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->tvTranscript->topLevelItemCount() >= 3, 10000);
        const int sentAtStop = dialog.sendList->tvTranscript->topLevelItemCount();
        QTest::mouseDClick(dialog.sendList->btnSend, Qt::LeftButton); // disabled: starts nothing anew
        QTest::mouseClick(dialog.sendList->btnStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Stopped")), 10000);
        QCOMPARE(dialog.sendList->lbVerdict->text(), QStringLiteral("Stopped; %1 of 8 commands were taken; the module is partly "
                                                          "set up.")
                                               .arg(sentAtStop - 1));
        QCOMPARE(dialog.sendList->tvTranscript->topLevelItemCount(), sentAtStop);
        QCOMPARE(module.commands().size(), std::size_t(sentAtStop));
        QVERIFY(dialog.sendList->btnSend->isEnabled());

        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->tvTranscript->topLevelItemCount() >= 2, 10000);
        answerNextQuestion(QMessageBox::No);
        const int sentAtNo = dialog.sendList->tvTranscript->topLevelItemCount();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.sendList->btnStop->isEnabled());
        // Answered no: the session goes on.
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->tvTranscript->topLevelItemCount() > sentAtNo + 1, 10000);
        const int sentAtClose = dialog.sendList->tvTranscript->topLevelItemCount();
        answerNextQuestion(QMessageBox::Yes);
        dialog.close();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        QVERIFY(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Stopped; %1 of 8").arg(sentAtClose - 1)));
        QCOMPARE(module.commands().size(), std::size_t(sentAtStop + sentAtClose));
    }

    void aHangUpShowsWhereTheSessionBroke()
    {
        FakeModule module([](const std::string& command) {
            return command == "AT+IBEA1" ? FakeModule::Reply{{}, true} : FakeModule::ok();
        });
        TfrmSend dialog(beaconCommands, nullptr);
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Failed")), 10000);
        QCOMPARE(column(dialog.sendList->tvTranscript, 1).last(), QStringLiteral("(port failed)"));
        QCOMPARE(column(dialog.sendList->tvTranscript, 0).last(), QStringLiteral("AT+IBEA1"));
    }

    void aPortThatCannotBeOpenedSendsNothing()
    {
        TfrmSend dialog(beaconCommands, nullptr);
        dialog.show();
        dialog.cbPort->setEditText(QStringLiteral("/dev/qz-missing"));
        QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
        QCOMPARE(dialog.sendList->lbVerdict->text(), QStringLiteral("Cannot open /dev/qz-missing: no such device. Nothing was sent."));
        QVERIFY(dialog.sendList->btnSend->isEnabled());
        QCOMPARE(dialog.sendList->tvTranscript->topLevelItemCount(), 0);
    }

    void theNextDialogOffersTheLastChoices()
    {
        const PageValues page{qz::FindPage("ibeacon"), {}, {}};
        const QString record = QDir::temp().filePath(QStringLiteral("qz-kept-record.csv"));
        {
            TfrmSend first(beaconCommands, nullptr, page);
            first.show();
            first.cbPort->setEditText(QStringLiteral("/dev/qz-missing"));
            first.cbBaud->setCurrentText(QStringLiteral("115200"));
            first.cbLineEnding->setCurrentText(QStringLiteral("CR LF"));
            first.spnTimeout->setValue(2500);
            first.several->cbEachGets->setCurrentIndex(1);
            first.several->spnModules->setValue(7);
            first.several->edtRecordFile->setText(record);
            QTest::mouseClick(first.sendList->btnSend, Qt::LeftButton);
        }
        TfrmSend second(beaconCommands, nullptr, page);
        QCOMPARE(second.cbPort->currentText(), QStringLiteral("/dev/qz-missing"));
        QCOMPARE(second.cbBaud->currentText(), QStringLiteral("115200"));
        QCOMPARE(second.cbLineEnding->currentText(), QStringLiteral("CR LF"));
        QCOMPARE(second.spnTimeout->value(), 2500);
        // What counts, how many modules and the record come back with the port.
        QCOMPARE(second.several->cbEachGets->currentText(), QStringLiteral("Counting up the minor value"));
        QCOMPARE(second.several->spnModules->value(), 7);
        QCOMPARE(second.several->edtRecordFile->text(), record);
    }

    // The dialog fits a 1366x768 screen with a 40-pixel panel, and 1280x720, with room for
    // a title bar, whichever tool was shown before: it opens within its screen, it can be
    // made smaller, and a taller dialog gives its room to the transcript.
    void theDialogFitsSmallScreens()
    {
        TfrmSend dialog(beaconCommands, nullptr, {qz::FindPage("ibeacon"), {}, {}});
        dialog.show();
        QVERIFY(dialog.minimumSize() != dialog.maximumSize());
        const QRect screen = dialog.screen()->availableGeometry();
        for (QWidget* tool : {static_cast<QWidget*>(dialog.several), static_cast<QWidget*>(dialog.console),
                              static_cast<QWidget*>(dialog.sendList)}) {
            dialog.tabTools->setCurrentWidget(tool);
            QVERIFY2(dialog.minimumSizeHint().height() <= 720 - 40, qPrintable(tool->objectName()));
            QVERIFY(dialog.frameGeometry().bottom() <= screen.bottom() && dialog.height() <= screen.height() - 40);
        }
        dialog.resize(dialog.minimumSizeHint());
        QTRY_COMPARE(dialog.height(), dialog.minimumSizeHint().height());
        const int smallest = dialog.sendList->tvTranscript->height();
        QVERIFY(smallest >= 3 * dialog.sendList->tvTranscript->fontMetrics().height());
        dialog.resize(dialog.width(), dialog.height() + 200);
        QTRY_VERIFY(dialog.sendList->tvTranscript->height() > smallest + 100);
        // A broadcast batch counts the name and the address together unless told otherwise:
        // the name alone would give every module one address.
        TfrmSend broadcast({"AT+RENEW"}, nullptr, {qz::FindPage("broadcast"), {}, {}});
        QCOMPARE(broadcast.several->cbEachGets->currentData().toList(),
                 (QVariantList{static_cast<int>(qz::Field::DeviceName), static_cast<int>(qz::Field::DeviceAddress)}));
        // The study page's list brings the console's device table.
        TfrmSend study({"AT+IMME1", "AT+ROLE1"}, nullptr, {qz::FindPage("study"), {}, {}});
        QVERIFY2(study.minimumSizeHint().height() <= 720 - 40, qPrintable(QString::number(study.minimumSizeHint().height())));
        for (QWidget* tool : {static_cast<QWidget*>(dialog.several), static_cast<QWidget*>(dialog.console),
                              static_cast<QWidget*>(dialog.sendList)}) {
            dialog.tabTools->setCurrentWidget(tool);
            picture(dialog, QStringLiteral("send-") + tool->objectName());
        }
    }

    // One tool works at a time: what each state leaves usable, all else waits.
    void eachStateLeavesItsOwnControlsUsable()
    {
        const QStringList checked = {"cbPort", "btnSend", "btnStop", "btnVerify", "btnStartBatch", "btnStopBatch",
                                     "btnNextModule", "spnModules", "edtValuesFile", "edtConsole", "btnConsoleSend",
                                     "btnConsoleStop", "btnDiscover", "btnConnect", "btnDisconnect"};
        const QString record = QDir::temp().filePath(QStringLiteral("qz-dialog-states.csv"));
        struct Case {
            const char* state;
            const char* page;
            std::vector<std::string> commands;
            std::function<void(TfrmSend&)> reach; // brings the dialog, on its fake module, there
            QStringList usable;
        };
        const std::vector<std::string> study = {"AT+IMME1", "AT+ROLE1"};
        const Case cases[] = {
            {"idle", "ibeacon", beaconCommands, [](TfrmSend&) {},
             {"cbPort", "btnSend", "btnStartBatch", "spnModules", "edtConsole", "btnConsoleSend", "btnDiscover"}},
            {"sending", "ibeacon", beaconCommands,
             [](TfrmSend& dialog) { QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton); }, {"btnStop"}},
            {"a batch waiting for the next module", "ibeacon", beaconCommands,
             [&](TfrmSend& dialog) {
                 dialog.tabTools->setCurrentWidget(dialog.several);
                 dialog.several->spnModules->setValue(2);
                 dialog.several->edtRecordFile->setText(record);
                 QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
                 QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().contains(QStringLiteral("Waiting for the next")),
                                          10000);
             },
             {"btnStopBatch", "btnNextModule"}},
            {"discovering", "study", study,
             [](TfrmSend& dialog) { QTest::mouseClick(dialog.console->btnDiscover, Qt::LeftButton); },
             {"edtConsole", "btnConsoleStop"}},
            {"connected", "study", study,
             [](TfrmSend& dialog) {
                 QTest::mouseClick(dialog.console->btnDiscover, Qt::LeftButton);
                 QTRY_VERIFY(dialog.console->btnConnect->isEnabled());
                 QTest::mouseClick(dialog.console->btnConnect, Qt::LeftButton);
                 QTRY_VERIFY(dialog.console->connected());
             },
             {"edtConsole", "btnConsoleSend", "btnDisconnect"}},
        };
        for (const Case& c : cases) {
            QFile::remove(record);
            FakeModule module(central);
            TfrmSend dialog(c.commands, nullptr, {qz::FindPage(c.page), {}, {}});
            dialog.show();
            dialog.cbPort->setEditText(QString::fromStdString(module.path()));
            c.reach(dialog);
            QStringList usable;
            for (const QString& name : checked) {
                const auto* control = dialog.findChild<QWidget*>(name);
                if (control != nullptr && control->isEnabled())
                    usable << name;
            }
            QVERIFY2(usable == c.usable, qPrintable(QStringLiteral("%1: %2").arg(c.state, usable.join(' '))));
            dialog.sendList->btnStop->click();
            if (dialog.several != nullptr)
                dialog.several->btnStopBatch->click();
            dialog.console->btnConsoleStop->click();
        }
    }

    // The console: a typed command and its reply, then a discovery, a connection, and
    // bytes both ways; the port is given back for the next send.
    // Typed as a person types, each line then Enter, with the focus wherever it is: the
    // module gets the console's lines and nothing of the list, whose first command would
    // reset it.
    void typingInTheConsoleSendsOnlyItsLines()
    {
        FakeModule module(central);
        TfrmSend dialog(beaconCommands, nullptr, {qz::FindPage("ibeacon"), {}, {}});
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        dialog.console->edtConsole->setFocus();
        for (const QString& line : {QStringLiteral("AT"), QStringLiteral("AT+ROLE?")}) {
            QTRY_VERIFY(QApplication::focusWidget() == dialog.console->edtConsole);
            QTest::keyClicks(QApplication::focusWidget(), line);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTRY_VERIFY(!dialog.console->btnConsoleSend->isEnabled());
            QTRY_VERIFY(dialog.console->btnConsoleSend->isEnabled()); // its reply is in
        }
        QTest::keyClick(&dialog, Qt::Key_Return); // no button is the dialog's default
        QTest::qWait(300);
        QCOMPARE(module.commands(), (std::vector<std::string>{"AT", "AT+ROLE?"}));
    }

    // Closing the dialog while the module holds a link asks, then ends the link first.
    void closingWhileConnectedEndsTheLinkFirst()
    {
        FakeModule module(central);
        TfrmSend dialog({"AT+IMME1", "AT+ROLE1"}, nullptr, {qz::FindPage("study"), {}, {}});
        dialog.show();
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        TConsolePart* console = dialog.console;
        QTest::mouseClick(console->btnDiscover, Qt::LeftButton);
        QTRY_VERIFY(console->tvDevices->topLevelItemCount() == 2 && console->btnDiscover->isEnabled());
        console->tvDevices->setCurrentItem(console->tvDevices->topLevelItem(0));
        QTest::mouseClick(console->btnConnect, Qt::LeftButton);
        QTRY_VERIFY(console->connected());
        answerNextQuestion(QMessageBox::Yes);
        dialog.close();
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(module.commands().back(), std::string("AT"));
    }

    void theConsoleDiscoversAndConnects()
    {
        FakeModule module(central);
        TfrmSend dialog({"AT+IMME1", "AT+ROLE1"}, nullptr, {qz::FindPage("study"), {}, {}});
        dialog.resize(1280, 680);
        dialog.show();
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        TConsolePart* console = dialog.console;
        QTest::keyClicks(console->edtConsole, QStringLiteral("AT+ROLE?"));
        QTest::keyClick(console->edtConsole, Qt::Key_Return);
        QTRY_COMPARE(column(dialog.console->tvTranscript, 1).value(0), QStringLiteral("OK+Get:1"));
        QTest::keyClick(console->edtConsole, Qt::Key_Up);
        QCOMPARE(console->edtConsole->text(), QStringLiteral("AT+ROLE?"));
        console->edtConsole->clear();

        QTest::mouseClick(console->btnDiscover, Qt::LeftButton);
        QVERIFY(console->btnConsoleStop->isEnabled() && !console->btnDiscover->isEnabled());
        QTRY_COMPARE(console->tvDevices->topLevelItemCount(), 2);
        QCOMPARE(column(console->tvDevices, 1), (QStringList{"00:17:EA:09:43:AE", "00:11:22:33:44:55"}));
        QCOMPARE(column(console->tvDevices, 2), (QStringList{"Lamp-01", "(no name)"}));
        QTRY_VERIFY(dialog.console->lbStatus->text().startsWith(QStringLiteral("The module finished its scan: 2 devices")));
        picture(dialog, QStringLiteral("console"));

        console->tvDevices->setCurrentItem(console->tvDevices->topLevelItem(0));
        QTest::mouseClick(console->btnConnect, Qt::LeftButton);
        QTRY_VERIFY(dialog.console->lbStatus->text().startsWith(QStringLiteral("Connected to 00:17:EA:09:43:AE")));
        QTest::keyClicks(console->edtConsole, QStringLiteral("hello"));
        QTest::keyClick(console->edtConsole, Qt::Key_Return);
        QTRY_VERIFY2(dialog.console->tvTranscript->text().endsWith(QStringLiteral("< world\\x01\n")), qPrintable(dialog.console->tvTranscript->text()));
        // With Hex the line is the bytes its digit pairs write; text is refused and kept.
        console->cbHex->setChecked(true);
        QTest::keyClicks(console->edtConsole, QStringLiteral("hello"));
        QTest::keyClick(console->edtConsole, Qt::Key_Return);
        QVERIFY(dialog.console->lbStatus->text().startsWith(QStringLiteral("With Hex, type the bytes as hex digit pairs")));
        QCOMPARE(console->edtConsole->text(), QStringLiteral("hello"));
        console->edtConsole->clear();
        QTest::keyClicks(console->edtConsole, QStringLiteral("68 65 6C 6C 6F"));
        QTest::keyClick(console->edtConsole, Qt::Key_Return);
        QTRY_COMPARE(module.commands().size(), std::size_t(5));
        QCOMPARE(module.commands(),
                 (std::vector<std::string>{"AT+ROLE?", "AT+DISC?", "AT+CO00017EA0943AE", "hello", "hello"}));
        console->cbHex->setChecked(false);
        QVERIFY(!column(dialog.console->tvTranscript, 1).contains(QStringLiteral("waiting...")));

        // While the module holds the link, Send would write to the far device: it waits.
        QVERIFY(!dialog.sendList->btnSend->isEnabled());
        QTest::mouseClick(console->btnDisconnect, Qt::LeftButton);
        QTRY_VERIFY(dialog.sendList->btnSend->isEnabled());
        QCOMPARE(module.commands().back(), std::string("AT")); // the lone AT that ends a link
        QVERIFY2(dialog.console->lbStatus->text().contains(QStringLiteral("ended")), qPrintable(dialog.console->lbStatus->text()));
        dialog.tabTools->setCurrentWidget(dialog.sendList);
        QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Done")), 10000);

        TfrmSend beacon(beaconCommands, nullptr, {qz::FindPage("ibeacon"), {}, {}});
        beacon.show();
        QVERIFY(!beacon.console->edtConsole->isHidden() && beacon.console->btnDiscover->isHidden());
        // Every control of the dialog tells a screen reader what it is, and a hover what it does.
        for (QWidget* control : dialog.findChildren<QWidget*>()) {
            const bool ours = !control->objectName().isEmpty() && !control->objectName().startsWith(QStringLiteral("qt_"))
                && qobject_cast<QTabBar*>(control->parentWidget()) == nullptr; // the tab bar's own arrows
            const bool input = qobject_cast<QAbstractButton*>(control) || qobject_cast<QComboBox*>(control)
                || qobject_cast<QLineEdit*>(control) || qobject_cast<QAbstractSpinBox*>(control)
                || qobject_cast<QPlainTextEdit*>(control) || qobject_cast<QTreeWidget*>(control);
            if (ours && input)
                QVERIFY2(!control->accessibleName().isEmpty() && !control->toolTip().isEmpty(),
                         qPrintable(control->objectName()));
        }
    }

    // A timeout typed outside its range is brought to the nearest end and the mark says
    // so; one within it stays as typed.
    void aTimeoutOutsideItsRangeIsBroughtWithinItAndSaysSo()
    {
        TfrmSend dialog(beaconCommands, nullptr);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        auto* edit = dialog.spnTimeout->findChild<QLineEdit*>();
        auto* mark = edit->findChild<QAction*>(QStringLiteral("qt_spinbox_lineeditMark"));
        QVERIFY(mark != nullptr);
        // Entered and left without a key, it has nothing to say.
        dialog.spnTimeout->setFocus();
        QTest::keyClick(dialog.spnTimeout, Qt::Key_Tab);
        QVERIFY(!mark->isVisible());
        const struct {
            QString typed;
            bool outsideWhileTyped;
            int value;
            QString said; // once the field is left
        } cases[] = {
            {"99999", true, 60000, "99999 ms is outside the range, from 100 to 60000 ms: set to 60000 ms"},
            {"50", true, 100, "50 ms is outside the range, from 100 to 60000 ms: set to 100 ms"},
            {"2500", false, 2500, ""},
            {"60000", false, 60000, ""},
        };
        for (const auto& c : cases) {
            dialog.spnTimeout->setFocus();
            edit->selectAll();
            QTest::keyClicks(dialog.spnTimeout, c.typed);
            QVERIFY2(edit->text().startsWith(c.typed), qPrintable(edit->text()));
            QCOMPARE(mark->isVisible(), c.outsideWhileTyped);
            if (c.outsideWhileTyped)
                QCOMPARE(mark->toolTip(), QStringLiteral("outside the range: the value is from 100 to 60000 ms"));
            QTest::keyClick(dialog.spnTimeout, Qt::Key_Tab); // leaves the field
            QVERIFY(!dialog.spnTimeout->hasFocus());
            QCOMPARE(dialog.spnTimeout->value(), c.value);
            QCOMPARE(mark->isVisible(), !c.said.isEmpty());
            QCOMPARE(mark->toolTip(), c.said);
        }
    }

    void aTypedPortConfirmedWithEnterIsTheOneSentTo()
    {
        FakeModule module;
        TfrmSend dialog({"AT+IBEA1"}, nullptr);
        dialog.show();
        dialog.cbPort->setEditText(QString());
        QTest::keyClicks(dialog.cbPort, QString::fromStdString(module.path()));
        QTest::keyClick(dialog.cbPort, Qt::Key_Return);
        QCOMPARE(dialog.cbPort->currentText(), QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Done")), 10000);
        QCOMPARE(module.commands(), (std::vector<std::string>{"AT", "AT+IBEA1"}));
    }

    // What the user reads after a session: the rate the module is at now, long replies cut
    // short in their cells and whole in their tooltips, and a transcript that copies as
    // qzconfig prints it.
    void aSessionLeavesItsRateTranscriptAndRepliesReadable()
    {
        const std::string longReply = "OK+" + std::string(60, 'x') + "\x01";
        FakeModule module([&](const std::string& command) {
            return FakeModule::ok(command == "AT+IBEA1" ? longReply : std::string("OK"));
        });
        TfrmSend dialog({"AT+RENEW", "AT+IBEA1"}, nullptr);
        dialog.cbBaud->setCurrentText(QStringLiteral("115200"));
        startSending(dialog, module);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Done")), 10000);
        QCOMPARE(dialog.cbBaud->currentText(), QStringLiteral("9600"));
        QVERIFY2(dialog.sendList->lbVerdict->text().contains(QStringLiteral("now 9600 baud")), qPrintable(dialog.sendList->lbVerdict->text()));
        const QString escaped = QStringLiteral("OK+") + QString(60, QLatin1Char('x')) + QStringLiteral("\\x01");
        const QTreeWidgetItem* last = dialog.sendList->tvTranscript->topLevelItem(2);
        QCOMPARE(last->text(1), escaped.left(40) + QStringLiteral("..."));
        QCOMPARE(last->toolTip(1).remove(QLatin1Char('\n')), QStringLiteral("Taken: 64 bytes") + escaped);
        const QString printed = QStringLiteral("> AT\n< OK\n> AT+RENEW\n< OK\n> AT+IBEA1\n< ") + escaped
            + QStringLiteral("\n2 of 2 commands were taken\n");
        QCOMPARE(dialog.sendList->tvTranscript->text(), printed);
        dialog.sendList->tvTranscript->setFocus();
        dialog.sendList->tvTranscript->selectAll();
        QTest::keySequence(dialog.sendList->tvTranscript, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), printed);
        dialog.sendList->tvTranscript->clearSelection();
        // The keyboard moves through the transcript as through any list.
        dialog.sendList->tvTranscript->setCurrentItem(dialog.sendList->tvTranscript->topLevelItem(0));
        QTest::keyClick(dialog.sendList->tvTranscript, Qt::Key_Down);
        QCOMPARE(dialog.sendList->tvTranscript->currentItem(), dialog.sendList->tvTranscript->topLevelItem(1));
        dialog.sendList->tvTranscript->clearSelection();
        dialog.sendList->tvTranscript->topLevelItem(1)->setSelected(true);
        QTest::keySequence(dialog.sendList->tvTranscript, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("> AT+RENEW\n< OK\n"));
        QTest::mouseClick(dialog.sendList->tvTranscript->btnCopy, Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), printed);
    }

    // Several modules: the minor counts up, a module is swapped behind the port's link, the
    // table and the record show each module, and a refused counter opens no port.
    void severalModulesCountUpAsTheyArePluggedIn()
    {
        FakeModule first;
        FakeModule second;
        const QString link = QDir::temp().filePath(QStringLiteral("qz-dialog-fixture"));
        const QString record = QDir::temp().filePath(QStringLiteral("qz-dialog-record.csv"));
        QFile::remove(link);
        QFile::remove(record);
        QVERIFY(QFile::link(QString::fromStdString(first.path()), link));
        const std::string uuid = "0000FFF0-0000-1000-8000-00805F9B34FB";
        const PageValues page{qz::FindPage("ibeacon"),
                              {{qz::Field::BeaconUUID, uuid}, {qz::Field::BeaconMajor, "0001"}, {qz::Field::BeaconMinor, "FFFE"}},
                              {{qz::Field::BeaconMinor, "iBeacon Minor"}}};
        const qz::GeneratorResult list = qz::BuildBeaconList(uuid, "0001", "FFFE");
        TfrmSend dialog(std::get<qz::CommandList>(list).commands, nullptr, page);
        dialog.show();
        dialog.tabTools->setCurrentWidget(dialog.several);
        QCOMPARE(dialog.several->cbEachGets->count(), 3);
        dialog.several->cbEachGets->setCurrentIndex(1);
        QCOMPARE(dialog.several->cbEachGets->currentText(), QStringLiteral("Counting up the minor value"));
        dialog.several->spnModules->setValue(3);
        dialog.several->edtRecordFile->setText(record);
        dialog.cbPort->setEditText(link);
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        QCOMPARE(dialog.several->lbVerdict->text(),
                 QStringLiteral("iBeacon Minor: counting 3 modules from FFFE passes FFFF. No port was opened."));
        QVERIFY(first.commands().empty());

        dialog.several->spnModules->setValue(2);
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().contains(QStringLiteral("Waiting for the next module")), 10000);
        QVERIFY(dialog.several->btnNextModule->isEnabled());
        QVERIFY(!dialog.several->spnModules->isEnabled());
        QVERIFY(dialog.several->tvModules->isEnabled());
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromStdString(second.path()), link));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.several->lbVerdict->text().left(32), QStringLiteral("2 of 2 modules were set up. The "), 10000);
        QCOMPARE(column(dialog.several->tvModules, 1), (QStringList{QStringLiteral("FFFE"), QStringLiteral("FFFF")}));
        QCOMPARE(column(dialog.several->tvModules, 3), (QStringList{QStringLiteral("set up"), QStringLiteral("set up")}));
        QCOMPARE(column(dialog.several->tvModules, 2).first(), QStringLiteral("8 of 8 commands taken"));
        QCOMPARE(dialog.several->pbBatch->value(), 2);
        QCOMPARE(dialog.several->pbBatch->maximum(), 2);
        QCOMPARE(dialog.several->pbBatch->minimum(), 0);
        QCOMPARE(dialog.several->pbBatch->text(), QStringLiteral("2 of 2 modules set up"));
        // One port: the transcript's lines need not say which; each module begins with a line
        // that names its port and values, and the transcript keeps them all.
        QVERIFY(!column(dialog.several->tvTranscript, 0).join(QString()).contains(QLatin1Char('[')));
        const QString transcript = dialog.several->tvTranscript->text();
        // A module's values are its own once it told its address: then the line says them.
        QVERIFY2(transcript.startsWith(QStringLiteral("> AT\n")), qPrintable(transcript));
        QVERIFY2(transcript.contains(QStringLiteral("Module on %1: iBeacon Minor FFFE\n> AT+RENEW\n").arg(link)), qPrintable(transcript));
        QVERIFY2(transcript.contains(QStringLiteral("Module on %1: iBeacon Minor FFFF\n> AT+RENEW\n").arg(link)), qPrintable(transcript));
        QVERIFY(transcript.endsWith(QStringLiteral("2 of 2 modules were set up\n")));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnValuesFile"))->text(), QStringLiteral("Choose..."));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnRecordFile"))->text(), QStringLiteral("Choose..."));
        // Room for "8 of 8 commands taken" and a row's Next module within the dialog; the
        // values take what is left, and stretch with it.
        QHeaderView* columns = dialog.several->tvModules->header();
        QCOMPARE((QList<int>{columns->sectionSize(0), columns->sectionSize(2), columns->sectionSize(3),
                             columns->sectionSize(4)}),
                 (QList<int>{110, 140, 70, 100}));
        const int values = columns->sectionSize(1);
        QVERIFY(values >= 80);
        dialog.resize(dialog.width() + 200, dialog.height());
        QTRY_COMPARE(columns->sectionSize(1), values + 200);
        picture(dialog, QStringLiteral("batch-1280x720"));
        // Each module ends with its result line.
        QVERIFY2(transcript.contains(QStringLiteral("< OK\n8 of 8 commands were taken\n> AT\n")), qPrintable(transcript));
        QCOMPARE(dialog.several->tvTranscript->header()->sectionSize(0), 260);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5); // each module's started row, then its result
        QCOMPARE(rows[0], QStringLiteral("time,port,module,uuid,major,minor,sent,taken,total,result,message"));
        QVERIFY2(rows[3].endsWith(QStringLiteral(",FFFF,0,0,8,started,")), qPrintable(rows[3]));
        QVERIFY2(rows[4].endsWith(QStringLiteral(",FFFF,8,8,8,set up,8 of 8 commands were taken")), qPrintable(rows[4]));
        QCOMPARE(second.commands().back(), std::string("AT+MINO0xFFFF"));
        QVERIFY(dialog.several->btnStartBatch->isEnabled());
        // Its choices can be changed again, as the choice of what counts allows.
        QVERIFY(dialog.several->spnModules->isEnabled());
        QVERIFY(!dialog.several->edtValuesFile->isEnabled());
        QVERIFY(dialog.several->edtRecordFile->isEnabled());
    }

    // A batch the page or the record refuses opens no port, and says why in the window's
    // words: the field by its caption, the line or the module, never an option's name.
    void aRefusedBatchSaysWhyInTheWindowsWords()
    {
        FakeModule module;
        const QString values = QDir::temp().filePath(QStringLiteral("qz-dialog-values.csv"));
        const QString record = QDir::temp().filePath(QStringLiteral("qz-dialog-refused.csv"));
        const std::string beaconRecord = "time,port,uuid,major,minor,taken,total,result,message\n";
        struct Case {
            const char* page;
            qz::FieldValues values;
            int eachGets; // 0: the first counted field, 1: the second; -1: the values file
            int modules;
            QByteArray valuesText;
            std::string recordText;
            QString said;
        };
        const Case cases[] = {
            {"ibeacon", {}, -1, 1, "", "", "The values file is empty: its first line names the fields, like name,address."},
            {"ibeacon", {}, -1, 1, "colour\nred\n", "", "The values file's column \"colour\" is no field of this page."},
            {"ibeacon", {}, -1, 1, "minor,minor\n1,2\n", "", "The values file names \"minor\" twice."},
            {"ibeacon", {}, -1, 1, "minor\n", "", "The values file holds no module's values under its first line."},
            {"ibeacon", {}, -1, 1, "minor,major\n0001\n", "", "Line 2 of the values file: 1 values, and the first line names 2."},
            {"ibeacon", {}, -1, 1, "minor\n0001\n123456\n", "",
             "Line 3 of the values file: Minor is 6 bytes long; the field holds at most 5."},
            {"ibeacon", {}, -1, 1, "minor\n00000\n", "",
             "Line 2 of the values file: Minor: Please input correct iBeacon Minor value! (00000 is 0, and the value "
             "must be from 1 to 65535)"},
            {"ibeacon", {{qz::Field::BeaconMajor, "123"}}, 0, 2, "", "",
             "Major cannot count up from 123: only four hex digits (04D2) or five decimal digits (01234) can count up."},
            {"ibeacon", {{qz::Field::BeaconMinor, "00000"}}, 1, 2, "", "",
             "Module 1 would get 00000 as Minor: Please input correct iBeacon Minor value! (00000 is 0, and the value "
             "must be from 1 to 65535)"},
            {"ibeacon", {{qz::Field::BeaconMajor, "0000"}}, 1, 2, "", "",
             "Major: Please input correct iBeacon Major value! (0000 is 0, and the value must be from 1 to 65535)"},
            {"ibeacon", {}, 1, 2, "", "time,port,minor,taken,total,result,message\n",
             "The record file records another batch: its columns are time,port,minor,taken,total,result,message, and "
             "this batch's are time,port,module,uuid,major,minor,sent,taken,total,result,message. Choose another record "
             "file."},
            {"ibeacon", {{qz::Field::BeaconMajor, "0002"}}, 1, 2, "",
             beaconRecord + "t,p,0000FFF0-0000-1000-8000-00805F9B34FB,0001,10125,8,8,set up,m\n",
             "The record file records another batch: its Major is \"0001\", and this batch's is \"0002\". Choose another "
             "record file."},
            {"broadcast",
             {{qz::Field::DeviceName, "ABCDEFGHIJKLMN9"}, {qz::Field::DeviceAddress, "000E0B123456"},
              {qz::Field::AdvertPackage, "020106"}, {qz::Field::SameAsAdvert, "yes"}},
             0, 3, "", "",
             "Module 2 would get ABCDEFGHIJKLMN10 as Name, 16 bytes; the field holds at most 15."},
        };
        const std::map<qz::Field, std::string> labels = {
            {qz::Field::BeaconMajor, "Major"}, {qz::Field::BeaconMinor, "Minor"}, {qz::Field::DeviceName, "Name"}};
        for (const Case& c : cases) {
            QFile::remove(values);
            QFile valuesFile(values);
            QVERIFY(valuesFile.open(QIODevice::WriteOnly));
            valuesFile.write(c.valuesText);
            valuesFile.close();
            QFile::remove(record);
            QFile recordFile(record);
            QVERIFY(recordFile.open(QIODevice::WriteOnly));
            recordFile.write(c.recordText.data(), static_cast<qint64>(c.recordText.size()));
            recordFile.close();
            TfrmSend dialog({"AT+IBEA1"}, nullptr, {qz::FindPage(c.page), c.values, labels});
            dialog.show();
            dialog.tabTools->setCurrentWidget(dialog.several);
            TSeveralModules* several = dialog.several;
            several->cbEachGets->setCurrentIndex(c.eachGets < 0 ? several->cbEachGets->count() - 1 : c.eachGets);
            several->spnModules->setValue(c.modules);
            several->edtValuesFile->setText(values);
            several->edtRecordFile->setText(record);
            dialog.cbPort->setEditText(QString::fromStdString(module.path()));
            QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
            QCOMPARE(dialog.several->lbVerdict->text(), c.said + QStringLiteral(" No port was opened."));
            QVERIFY(dialog.several->btnStartBatch->isEnabled());
        }
        QTest::qWait(50);
        QVERIFY(module.commands().empty());
    }

    // Two ports wait with their modules in place: only the port whose row says so goes on.
    void onlyThePortNamedTakesItsNextModule()
    {
        FakeModule first;
        FakeModule second;
        QStringList links;
        for (const FakeModule* module : {&first, &second}) {
            links << QDir::temp().filePath(QStringLiteral("qz-dialog-port%1").arg(links.size() + 1));
            QFile::remove(links.last());
            QVERIFY(QFile::link(QString::fromStdString(module->path()), links.last()));
        }
        const QString record = QDir::temp().filePath(QStringLiteral("qz-dialog-two-ports.csv"));
        QFile::remove(record);
        const PageValues page{qz::FindPage("ibeacon"), {{qz::Field::BeaconMinor, "0001"}}, {}};
        TfrmSend dialog(beaconCommands, nullptr, page);
        dialog.show();
        dialog.tabTools->setCurrentWidget(dialog.several);
        dialog.several->cbEachGets->setCurrentIndex(1);
        dialog.several->spnModules->setValue(3);
        dialog.several->edtRecordFile->setText(record);
        const QString absent = QDir::temp().filePath(QStringLiteral("qz-dialog-absent"));
        QFile::remove(absent);
        dialog.several->edtMorePorts->setText(links[1] + QStringLiteral(", ") + absent);
        dialog.cbPort->setEditText(links[0]);
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        const QString bothWait = QStringLiteral("Waiting for the next module on %1, %2").arg(links[0], links[1]);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().contains(bothWait), 10000);
        QVERIFY2(dialog.several->lbVerdict->text().endsWith(QStringLiteral(" Waiting for %1 to appear.").arg(absent)),
                 qPrintable(dialog.several->lbVerdict->text()));
        QVERIFY(!dialog.several->btnNextModule->isEnabled()); // it could not tell which
        auto* next = dialog.findChild<QPushButton*>(QStringLiteral("btnNextModuleOn") + links[1]);
        QVERIFY(next != nullptr);
        QTRY_VERIFY(next->isVisible());
        QTest::mouseClick(next, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().startsWith(QStringLiteral("3 of 3 modules were set up")), 10000);
        QCOMPARE(first.commands().size(), std::size_t(10)); // AT, AT+ADDR? and 8 commands
        QCOMPARE(second.commands().size(), std::size_t(20));
        QCOMPARE(second.commands().back(), std::string("AT+MINO0x0003"));
        const QString transcript = dialog.several->tvTranscript->text();
        // Every line says its port, from the first module's first line on.
        QVERIFY2((QLatin1Char('\n') + transcript).contains(QStringLiteral("\n[%1] > AT\n").arg(links[0])), qPrintable(transcript));
        QVERIFY2(transcript.contains(QStringLiteral("[%1] > AT+MINO0x0003").arg(links[1])), qPrintable(transcript));
        QTRY_COMPARE(dialog.findChildren<QPushButton*>(QRegularExpression(QStringLiteral("^btnNextModuleOn"))).size(), 0);
    }

    void newCommandsGetANewSendDialog()
    {
        TfrmResult result(nullptr);
        QString shown;
        bool several = false;
        for (const char* command : {"AT+A", "AT+B"}) {
            result.SetCommands({command}, {qz::FindPage("ibeacon"), {}, {}});
            QTimer::singleShot(0, [&] {
                auto* dialog = result.findChild<TfrmSend*>();
                shown = dialog->sendList->memCommands->toPlainText();
                several = dialog->several != nullptr; // the page's values came along
                dialog->close();
            });
            QTest::mouseClick(result.btnSend, Qt::LeftButton);
            QCOMPARE(shown, QString::fromLatin1(command) + QLatin1Char('\n'));
            QVERIFY(several);
        }
    }

    void reopenedFromTheResultWindowItShowsTheLastSession()
    {
        FakeModule module;
        TfrmResult result(nullptr);
        result.SetCommands({"AT+IBEA1"});
        QString verdictSeen;
        for (int opening = 0; opening < 2; ++opening) {
            QTimer::singleShot(0, [&, opening] {
                auto* dialog = result.findChild<TfrmSend*>();
                if (opening == 0) {
                    dialog->cbPort->setEditText(QString::fromStdString(module.path()));
                    QTest::mouseClick(dialog->sendList->btnSend, Qt::LeftButton);
                    QTRY_VERIFY_WITH_TIMEOUT(dialog->sendList->lbVerdict->text().startsWith(QStringLiteral("Done")), 10000);
                }
                verdictSeen = dialog->sendList->lbVerdict->text() + QString::number(dialog->sendList->tvTranscript->topLevelItemCount());
                dialog->close();
            });
            QTest::mouseClick(result.btnSend, Qt::LeftButton);
        }
        QCOMPARE(verdictSeen, QStringLiteral("Done: 1 of 1 commands were taken. The module is set up.2"));
    }
};

QTEST_MAIN(SendDialogTest)
#include "SendDialogTest.moc"
