// The send dialog listening over the air, against a fake BlueZ on a private system bus.
// The bus is the process's system bus from the first test on; each test plays its own
// bluetoothd on it.

#include "FakeBluez.h"
#include "FakeModule.h"

#include "BeaconList.h"
#include "BroadcastList.h"
#include "PageModel.h"
#include "ConsolePart.h"
#include "Pictures.h"
#include "SendList.h"
#include "SendToModule.h"
#include "SeveralModules.h"
#include "Transcript.h"
#include "StudyList.h"
#include "WindowStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include <QElapsedTimer>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

using nlohmann::json;
using qz::test::FakeBluez;
using qz::test::FakeModule;
using qz::test::FakeSystemBus;

std::vector<std::string> beaconCommands()
{
    return std::get<qz::CommandList>(qz::BuildBeaconList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125")).commands;
}

json beaconHeard(int afterMs)
{
    return {{"address", "11:22:33:44:55:66"},
            {"after_ms", afterMs},
            {"rssi", -48},
            {"manufacturer", qz::test::BeaconData("0000FFF000001000800000805F9B34FB", "278B", "278D")}};
}

} // namespace

class AirDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QStringLiteral("Kavrel"), QStringLiteral("Kavrel Config Assistant")).clear();
        bus_ = std::make_unique<FakeSystemBus>(QDir::temp().filePath(QStringLiteral("qz-air-bus")).toStdString());
        QVERIFY(bus_->running());
    }

    void whereNothingCanListenTheControlsSayWhy()
    {
        TfrmSend withoutBlueZ(beaconCommands(), nullptr, {qz::FindPage("ibeacon"), {}, {}});
        const QString noBlueZ = QStringLiteral("BlueZ is not running: no org.bluez on the system bus; start bluetoothd "
                                               "(systemctl start bluetooth)");
        QVERIFY(!withoutBlueZ.sendList->btnVerify->isEnabled());
        QTRY_COMPARE(withoutBlueZ.sendList->btnVerify->toolTip(), noBlueZ); // asked without waiting on the bus
        QVERIFY(!withoutBlueZ.several->cbVerifyEach->isEnabled());
        QCOMPARE(withoutBlueZ.several->cbVerifyEach->toolTip(), noBlueZ);

        FakeBluez bluez(*bus_, qz::test::OneAdapter());
        const qz::GeneratorResult study = qz::BuildStudyList(0, "FFE1", "FFE2");
        TfrmSend central(std::get<qz::CommandList>(study).commands, nullptr, {qz::FindPage("study"), {}, {}});
        QVERIFY(!central.sendList->btnVerify->isEnabled());
        QCOMPARE(central.sendList->btnVerify->toolTip(),
                 QStringLiteral("Nothing to hear: the study list makes the module a central: it listens and does not "
                                "advertise, so there is nothing to hear"));
    }

    void afterASessionThatEndedWellTheModuleIsHeard()
    {
        FakeBluez bluez(*bus_, qz::test::OneAdapter({beaconHeard(300)}));
        FakeModule module;
        TfrmSend dialog(beaconCommands(), nullptr, {qz::FindPage("ibeacon"), {}, {}});
        dialog.show();
        QVERIFY(!dialog.sendList->btnVerify->isEnabled()); // nothing was set up yet
        QTRY_VERIFY(dialog.several->cbVerifyEach->isEnabledTo(dialog.several));
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
        QVERIFY(!dialog.sendList->btnVerify->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("Done: ")), 10000);
        QVERIFY(dialog.sendList->lbVerdict->text().endsWith(QStringLiteral("Verify over the air to hear it advertise.")));
        QVERIFY(dialog.sendList->btnVerify->isEnabled());

        QVERIFY(qz::captionFits(dialog.sendList->btnVerify));
        QTest::mouseClick(dialog.sendList->btnVerify, Qt::LeftButton);
        QCOMPARE(dialog.sendList->lbVerdict->text(),
                 QStringLiteral("The list has no AT+RESET, and the module applies some settings only after a restart: "
                                "power the module off and on now. Listening for 30 s..."));
        QCOMPARE(dialog.sendList->pbProgress->maximum(), 30);
        QCOMPARE(dialog.sendList->pbProgress->text(), QStringLiteral("listening: 0 of 30 s"));
        QVERIFY(!dialog.sendList->btnVerify->isEnabled() && !dialog.sendList->btnSend->isEnabled() && dialog.sendList->btnStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("heard as set: ")), 10000);
        QCOMPARE(dialog.sendList->lbVerdict->text(), QStringLiteral("heard as set: 11:22:33:44:55:66, RSSI -48 dBm\n"
                                                          "  matched: iBeacon UUID 0000FFF0-0000-1000-8000-00805F9B34FB\n"
                                                          "  matched: major 10123 (0x278B)\n"
                                                          "  matched: minor 10125 (0x278D)\n"
                                                          "  shown, not compared: measured power -59 dBm"));
        QVERIFY(dialog.sendList->tvTranscript->text().endsWith(QStringLiteral("8 of 8 commands were taken\n"
                                                                "Listening over the air for 30 s\n"
                                                                "heard as set: 11:22:33:44:55:66, RSSI -48 dBm\n"
                                                                "  matched: iBeacon UUID 0000FFF0-0000-1000-8000-00805F9B34FB\n"
                                                                "  matched: major 10123 (0x278B)\n"
                                                                "  matched: minor 10125 (0x278D)\n"
                                                                "  shown, not compared: measured power -59 dBm\n")));
        QVERIFY(dialog.sendList->btnVerify->isEnabled() && dialog.sendList->btnSend->isEnabled() && !dialog.sendList->btnStop->isEnabled());
        QCOMPARE(bluez.calls().back(), std::string("StopDiscovery hci0"));
        picture(dialog, QStringLiteral("verify"));

        // Stop ends the listening at once, and says so: not hearing is no finding.
        QTest::mouseClick(dialog.sendList->btnVerify, Qt::LeftButton);
        QTest::mouseClick(dialog.sendList->btnStop, Qt::LeftButton);
        QCOMPARE(dialog.sendList->lbVerdict->text(),
                 QStringLiteral("stopped: listening was stopped before the module was heard as set"));
        QVERIFY(dialog.sendList->btnVerify->isEnabled());
    }

    // BlueZ that answers only after 4 s holds up nothing: the window goes on meanwhile.
    void theWindowNeverWaitsOnTheBus()
    {
        FakeBluez bluez(*bus_, qz::test::OneAdapter({beaconHeard(100)}));
        FakeModule module;
        TfrmSend dialog(beaconCommands(), nullptr, {qz::FindPage("ibeacon"), {}, {}});
        dialog.show();
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.sendList->btnSend, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->btnVerify->isEnabled(), 10000);

        ::kill(bluez.pid(), SIGSTOP);
        QTimer::singleShot(4000, [&bluez] { ::kill(bluez.pid(), SIGCONT); });
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(100);
        QElapsedTimer clicked;
        clicked.start();
        QTest::mouseClick(dialog.sendList->btnVerify, Qt::LeftButton);
        QVERIFY(clicked.elapsed() < 1000);
        QTest::qWait(3000);
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks))); // events were handled all along
        QTRY_VERIFY_WITH_TIMEOUT(dialog.sendList->lbVerdict->text().startsWith(QStringLiteral("heard as set: ")), 15000);
    }

    void aBatchListensForEachModule()
    {
        // bluetoothd -E: its monitor finds the name in what the module sent.
        json lamp = {{"address", "00:0E:0B:12:34:56"}, {"after_ms", 30}, {"name", "Lamp-1"}, {"flags", "06"},
                     {"raw", "02010607094C616D702D31"}};
        json scenario = qz::test::OneAdapter({lamp});
        scenario["adapters"][0]["monitor"] = true;
        FakeBluez bluez(*bus_, scenario);
        FakeModule module;
        const QString record = QDir::temp().filePath(QStringLiteral("qz-air-record.csv"));
        QFile::remove(record);
        const PageValues page{qz::FindPage("broadcast"),
                              {{qz::Field::DeviceName, "Lamp-1"},
                               {qz::Field::DeviceAddress, "000E0B123456"},
                               {qz::Field::AdvertPackage, "02010607094C616D702D31"},
                               {qz::Field::ScanPackage, ""},
                               {qz::Field::SameAsAdvert, "yes"}},
                              {{qz::Field::DeviceName, "Device name"}}};
        const qz::GeneratorResult list = qz::BuildBroadcastList("Lamp-1", "000E0B123456", "02010607094C616D702D31", "", true);
        TfrmSend dialog(std::get<qz::CommandList>(list).commands, nullptr, page);
        dialog.show();
        dialog.tabTools->setCurrentWidget(dialog.several);
        dialog.several->spnModules->setValue(1);
        dialog.several->edtRecordFile->setText(record);
        QTRY_VERIFY(dialog.several->cbVerifyEach->isEnabled());
        dialog.several->cbVerifyEach->setChecked(true);
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        QVERIFY(!dialog.several->cbVerifyEach->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().startsWith(QStringLiteral("1 of 1 modules were set up")), 10000);
        QVERIFY2(dialog.several->tvTranscript->text().contains(QStringLiteral("\nheard as set: 00:0E:0B:12:34:56 (Lamp-1)\n"
                                                                 "  matched: address 00:0E:0B:12:34:56\n")),
                 qPrintable(dialog.several->tvTranscript->text()));
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll())
                    .endsWith(QStringLiteral(",set up,10 of 10 commands were taken; heard as set: 00:0E:0B:12:34:56 "
                                             "(Lamp-1)\n")));
        QVERIFY(dialog.several->cbVerifyEach->isEnabled());
    }

    // The radio going away pauses the window's batch: no module is sent its list until it
    // is back, and the batch goes on by itself then.
    void aBatchPausesWhileNothingCanListen()
    {
        json scenario = qz::test::OneAdapter();
        scenario["adapters"][0]["off_after_ms"] = 300;
        scenario["adapters"][0]["on_after_ms"] = 1500;
        FakeBluez bluez(*bus_, scenario);
        FakeModule module;
        const QString record = QDir::temp().filePath(QStringLiteral("qz-air-paused.csv"));
        QFile::remove(record);
        TfrmSend dialog(beaconCommands(), nullptr,
                        {qz::FindPage("ibeacon"), qz::InitialValues(*qz::FindPage("ibeacon")), {}});
        dialog.show();
        dialog.tabTools->setCurrentWidget(dialog.several);
        dialog.several->spnModules->setValue(2);
        dialog.several->edtRecordFile->setText(record);
        QTRY_VERIFY(dialog.several->cbVerifyEach->isEnabled());
        dialog.several->cbVerifyEach->setChecked(true);
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.several->lbVerdict->text().startsWith(
                                     QStringLiteral("Paused: nothing can listen over the air (the Bluetooth adapter "
                                                    "hci0 was switched off).")),
                                 10000);
        QVERIFY(dialog.several->btnStopBatch->isEnabled()); // the batch is not over
        QTRY_COMPARE_WITH_TIMEOUT(dialog.several->lbVerdict->text(), QStringLiteral("The radio is back: the batch goes on."), 8000);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll())
                    .endsWith(QStringLiteral(",failed,8 of 8 commands were taken; cannot listen over the air: the "
                                             "Bluetooth adapter hci0 was switched off\n")));
        QTest::mouseClick(dialog.several->btnStopBatch, Qt::LeftButton);
        QTRY_VERIFY(dialog.several->lbVerdict->text().startsWith(QStringLiteral("0 of 2 modules were set up")));
    }

    void aBatchThatCannotListenOpensNoPort()
    {
        FakeBluez bluez(*bus_, {{"adapters", {{{"name", "hci0"}, {"powered", false}}}}});
        FakeModule module;
        TfrmSend dialog(beaconCommands(), nullptr,
                        {qz::FindPage("ibeacon"), qz::InitialValues(*qz::FindPage("ibeacon")), {}});
        dialog.show();
        dialog.tabTools->setCurrentWidget(dialog.several);
        QTRY_VERIFY(dialog.several->cbVerifyEach->isEnabled());
        dialog.several->cbVerifyEach->setChecked(true);
        dialog.several->edtRecordFile->setText(QDir::temp().filePath(QStringLiteral("qz-air-unused.csv")));
        dialog.cbPort->setEditText(QString::fromStdString(module.path()));
        QTest::mouseClick(dialog.several->btnStartBatch, Qt::LeftButton);
        QCOMPARE(dialog.several->lbVerdict->text(), QStringLiteral("Cannot listen over the air: the Bluetooth adapter hci0 is off: "
                                                          "bluetoothctl power on switches it on. No port was opened."));
        QVERIFY(module.received().empty());
        QVERIFY(dialog.several->btnStartBatch->isEnabled());
    }

    void cleanupTestCase() { bus_.reset(); }

private:
    std::unique_ptr<FakeSystemBus> bus_;
};

QTEST_MAIN(AirDialogTest)
#include "AirDialogTest.moc"
