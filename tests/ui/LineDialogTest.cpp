// The send dialog's batch on a record that benches share, in the PostgreSQL server
// pg_virtualenv started for the run: the line's counts beside the table, and a server that
// stops pauses the batch until it answers again.

#include "FakeModule.h"
#include "SendToModule.h"
#include "SeveralModules.h"
#include "SilentServer.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QComboBox>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <string>


namespace {

using qz::test::FakeModule;

// A new module each time it is asked its address, as a fixture whose module was swapped.
FakeModule::Script beacons()
{
    auto next = std::make_shared<int>(0);
    return [next](const std::string& command) {
        if (command == "AT+ADDR?")
            return FakeModule::ok("OK+ADDR:00170C" + QString::number(++*next).rightJustified(6, QLatin1Char('0')).toStdString());
        return FakeModule::ok();
    };
}

std::string cluster()
{
    const char* version = std::getenv("PGVERSION");
    return std::string(version != nullptr ? version : "15") + " regress";
}

} // namespace

class LineDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void aStoppedServerPausesTheBatchUntilItAnswers()
    {
        FakeModule module(beacons());
        const PageValues page{qz::FindPage("ibeacon"), {{qz::Field::BeaconMajor, "0050"}, {qz::Field::BeaconMinor, "0001"}}, {}};
        TfrmSend dialog({"AT+IBEA1"}, nullptr, page);
        dialog.show();
        TSeveralModules* several = dialog.several;
        dialog.tabTools->setCurrentWidget(several);
        several->cbEachGets->setCurrentIndex(1); // the minor
        several->spnModules->setValue(3);
        several->edtRecordFile->setText(QStringLiteral("postgresql:///postgres?batch=window"));
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(several->btnStartBatch, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(several->btnNextModule->isEnabled(), 15000);
        QTRY_COMPARE(several->lbLine->text(), QStringLiteral("The line: 1 of 3 claimed, 1 set up, 0 failed"));

        QCOMPARE(std::system(("pg_ctlcluster " + cluster() + " stop -m fast").c_str()), 0);
        const std::size_t sent = module.commands().size();
        QTest::mouseClick(several->btnNextModule, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(several->lbVerdict->text().startsWith(
                                     QStringLiteral("Paused: cannot reach the record's database at ")),
                                 15000);
        QVERIFY(several->btnStopBatch->isEnabled()); // the batch is not over
        QTest::qWait(500);
        QCOMPARE(module.commands().size(), sent + 2); // asked who it is (AT, AT+ADDR?), sent nothing of its list

        QCOMPARE(std::system(("pg_ctlcluster " + cluster() + " start").c_str()), 0);
        QTRY_VERIFY_WITH_TIMEOUT(module.commands().size() > sent + 4, 15000); // it went on by itself
        QTRY_VERIFY_WITH_TIMEOUT(several->btnNextModule->isEnabled(), 15000);
        QTest::mouseClick(several->btnNextModule, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(several->lbVerdict->text().startsWith(QStringLiteral("3 of 3 modules were set up")),
                                 15000);
        QCOMPARE(several->lbLine->text(), QStringLiteral("The line: 3 of 3 claimed, 3 set up, 0 failed"));
        // The report: one row per module, from the line's server.
        const QString report = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).filePath(QStringLiteral("window-report.csv"));
        QVERIFY(several->saveReport(report));
        QFile saved(report);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QVERIFY2(rows[3].contains(QStringLiteral(",0050,0003,00170C")) && rows[3].contains(QStringLiteral(",set up,")),
                 qPrintable(rows[3]));
    }

    // A server that accepts and never answers: the batch does not begin, and the window's
    // event loop answers all the while.
    void aServerThatDoesNotAnswerLeavesTheWindowAnswering()
    {
        const qz::test::SilentServer hole;
        QVERIFY(hole.port() != 0);
        FakeModule module(beacons());
        const PageValues page{qz::FindPage("ibeacon"), {{qz::Field::BeaconMajor, "0060"}, {qz::Field::BeaconMinor, "0001"}}, {}};
        TfrmSend dialog({"AT+IBEA1"}, nullptr, page);
        dialog.show();
        TSeveralModules* several = dialog.several;
        dialog.tabTools->setCurrentWidget(several);
        several->cbEachGets->setCurrentIndex(1);
        several->edtRecordFile->setText(
            QStringLiteral("postgresql://postgres@127.0.0.1:%1/postgres?batch=hole").arg(hole.port()));
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(100);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(several->btnStartBatch, Qt::LeftButton);
        QVERIFY2(several->lbVerdict->text().startsWith(QStringLiteral("The record: cannot reach the record's database at 127.0.0.1:")),
                 qPrintable(several->lbVerdict->text()));
        QVERIFY(clock.elapsed() < 9000);
        QVERIFY2(ticks >= clock.elapsed() / 100 - 10, qPrintable(QString::number(ticks))); // the loop ran throughout
        QVERIFY(module.commands().empty());
    }
};

QTEST_MAIN(LineDialogTest)
#include "LineDialogTest.moc"
