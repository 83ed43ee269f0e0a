// Drives the real windows: types into the edits, presses the buttons and reads and closes
// the real modal boxes from a timer while their nested message loops run.

#include "ATCommandList.h"
#include "BeaconList.h"
#include "BroadcastList.h"
#include "main.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Waits for the next modal window to become active, then hands it to the inspector,
// which must close it.
class ModalWatcher : public QObject {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> inspect)
        : inspect_(std::move(inspect))
    {
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(10);
    }
    bool handled() const { return handled_; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || handled_)
            return;
        handled_ = true;
        timer_.stop();
        inspect_(modal);
    }

    std::function<void(QWidget*)> inspect_;
    QTimer timer_;
    bool handled_ = false;
};

struct Notice {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// memLog's text for a list: every line followed by a line break, the last one included.
QString listText(const qz::GeneratorResult& result)
{
    QString text;
    for (const std::string& line : std::get<qz::CommandList>(result))
        text += QString::fromStdString(line) + QLatin1Char('\n');
    return text;
}

QString focusName()
{
    const QWidget* focus = QApplication::focusWidget();
    return focus == nullptr ? QStringLiteral("<none>") : focus->objectName();
}

// Whether a window stands in the middle of the desktop, give or take its frame.
bool isCentred(const QWidget* window)
{
    const QPoint offset = window->frameGeometry().center() - window->screen()->availableGeometry().center();
    return offset.manhattanLength() <= 40;
}


} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TfrmMain> window;

    template <typename Widget = QWidget>
    Widget* find(const char* name) const
    {
        auto* widget = window->findChild<Widget*>(QLatin1String(name));
        if (widget == nullptr)
            qFatal("no widget named %s", name);
        return widget;
    }

    void typeInto(const char* name, const QString& text)
    {
        auto* edit = find<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // Presses a page button and returns what the notice box showed, closing it with OK.
    Notice pressForNotice(const char* button)
    {
        Notice notice;
        ModalWatcher watcher([&notice](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box == nullptr) {
                modal->close();
                return;
            }
            notice = {box->text(), box->windowTitle(), box->icon(), box->standardButtons()};
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton);
        [&] { QVERIFY(watcher.handled()); }();
        return notice;
    }

    struct ResultSeen {
        QString caption;
        QString text;
        bool readOnly = false;
        QString focus;
        QSize size;
        bool centred = false;
    };

    // Presses a page button and returns what the result window showed, closing it with
    // OK or with its close box.
    ResultSeen pressForResult(const char* button, bool closeWithOK = true)
    {
        ResultSeen seen;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* result = qobject_cast<TfrmResult*>(modal);
            if (result == nullptr) {
                modal->close();
                return;
            }
            // Waits without returning early: the window must be closed whatever happens.
            (void)QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; });
            seen = {result->windowTitle(), result->memLog->toPlainText(), result->memLog->isReadOnly(),
                    focusName(), result->size(), isCentred(result)};
            if (closeWithOK)
                QTest::mouseClick(result->btnOK, Qt::LeftButton);
            else
                result->close();
        });
        QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton);
        [&] { QVERIFY(watcher.handled()); }();
        return seen;
    }

    void showPage(const char* page)
    {
        window->MainPage->setCurrentWidget(find(page));
    }

private slots:
    void init()
    {
        window = std::make_unique<TfrmMain>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup()
    {
        window.reset();
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void startState()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Kavrel Config Assistant V1.03"));
        QCOMPARE(window->size(), QSize(520, 384));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(isCentred(window.get()));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(window->MainPage->count(), 3);
        QCOMPARE(window->MainPage->tabText(0), QStringLiteral("Study Function for Master Role"));
        QCOMPARE(window->MainPage->tabText(1), QStringLiteral("iBeacon function for Slave Role"));
        QCOMPARE(window->MainPage->tabText(2), QStringLiteral("Broadcast Package"));
        QCOMPARE(window->MainPage->currentWidget()->objectName(), QStringLiteral("TabSheet1"));
        QCOMPARE(window->cbUUIDType->currentIndex(), 0);
        QCOMPARE(window->cbUUIDType->count(), 2);
        QCOMPARE(window->cbUUIDType->itemText(1), QStringLiteral("Slave device is using 128 Bit format UUID"));
        QVERIFY(!window->cbUUIDType->isEditable());
        QVERIFY(!window->cbSame->isChecked());
    }

    void editsStartWithTheirTextsAndLimits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxLength");
        QTest::newRow("notify") << "edtCharNotify" << "FFE1" << 36;
        QTest::newRow("write") << "edtCharWrite" << "FFE1" << 36;
        QTest::newRow("uuid") << "edtiBeaconUUID" << "0000FFF0-0000-1000-8000-00805F9B34FB" << 36;
        QTest::newRow("major") << "edtiBeaconMajor" << "10123" << 5;
        QTest::newRow("minor") << "edtiBeaconMinor" << "10125" << 5;
        QTest::newRow("name") << "edtDeviceName" << "QZSoft" << 15;
        QTest::newRow("address") << "edtDeviceAddress" << "" << 12;
        QTest::newRow("advert") << "edtAdvert" << "" << 64;
        QTest::newRow("scan") << "edtScan" << "" << 64;
    }

    void editsStartWithTheirTextsAndLimits()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(int, maxLength);
        auto* edit = find<QLineEdit>(name.toLatin1().constData());
        QCOMPARE(edit->text(), text);
        QCOMPARE(edit->maxLength(), maxLength);
        edit->clear();
        QTest::keyClicks(edit, QString(maxLength + 3, QLatin1Char('7')));
        QCOMPARE(edit->text(), QString(maxLength, QLatin1Char('7')));
        // A character that takes two bytes counts as two.
        edit->clear();
        for (int i = 0; i < maxLength; ++i)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(QChar(0xE9)), Qt::NoModifier);
        QCOMPARE(edit->text(), QString(maxLength / 2, QChar(0xE9)));
    }

    void tabOrderOfEachPage_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("chain");
        QTest::newRow("study") << "tbStudy"
                               << QStringList{"cbUUIDType", "edtCharWrite", "edtCharNotify", "btnShow"};
        QTest::newRow("iBeacon") << "tabBeacon"
                                 << QStringList{"edtiBeaconMinor", "edtiBeaconUUID", "edtiBeaconMajor", "btniBeacon"};
        QTest::newRow("broadcast") << "TabSheet1"
                                   << QStringList{"edtScan", "edtAdvert", "edtDeviceAddress", "edtDeviceName",
                                                  "btBroadcast", "cbSame"};
    }

    void tabOrderOfEachPage()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, chain);
        showPage(page.toLatin1().constData());
        find(chain.first().toLatin1().constData())->setFocus();
        QTRY_COMPARE(focusName(), chain.first());
        for (int i = 1; i < chain.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(focusName(), chain.at(i));
        }
    }

    void rejectionShowsNoticeThenFocusesField_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("typed"); // edit name, text, edit name, text...
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("broadcast start state") << "TabSheet1" << QStringList{} << "btBroadcast"
                                               << "Please fill in all fields" << "edtDeviceAddress";
        QTest::newRow("study lower case and dashes")
            << "tbStudy" << QStringList{"edtCharNotify", " ff-e1 ", "edtCharWrite", "ff g1"} << "btnShow"
            << "Please input correct included \"Write\" or \"WriteWithoutResponse\" Characteristic!"
            << "edtCharWrite";
        QTest::newRow("iBeacon major")
            << "tabBeacon" << QStringList{"edtiBeaconUUID", "0000fff0-0000-1000-8000-00805f9b34fb", "edtiBeaconMajor",
                                          "0000"}
            << "btniBeacon" << "Please input correct iBeacon Major value!" << "edtiBeaconMajor";
        QTest::newRow("broadcast scan")
            << "TabSheet1" << QStringList{"edtDeviceAddress", "000E0B123456", "edtAdvert", "0x020106", "edtScan",
                                          "02 106"}
            << "btBroadcast" << "Please input correct value!" << "edtScan";
    }

    void rejectionShowsNoticeThenFocusesField()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, typed);
        QFETCH(QString, button);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        showPage(page.toLatin1().constData());
        for (int i = 0; i + 1 < typed.size(); i += 2)
            typeInto(typed.at(i).toLatin1().constData(), typed.at(i + 1));

        const Notice notice = pressForNotice(button.toLatin1().constData());
        QCOMPARE(notice.text, message);
        QCOMPARE(notice.caption, QStringLiteral("www.kavrel.example"));
        QCOMPARE(notice.icon, QMessageBox::Information);
        QCOMPARE(notice.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QTRY_COMPARE(focusName(), focus);
        for (int i = 0; i + 1 < typed.size(); i += 2)
            QCOMPARE(find<QLineEdit>(typed.at(i).toLatin1().constData())->text(), typed.at(i + 1));
    }

    void comparisonRefusalLeavesFocusWhereItWas()
    {
        showPage("tbStudy");
        window->cbUUIDType->setCurrentIndex(1);
        typeInto("edtCharNotify", "0000FFE1-0000-1000-8000-00805F9B34FB");
        typeInto("edtCharWrite", "0000FFE2-0000-1000-8000-00805F9B34FC");
        const Notice notice = pressForNotice("btnShow");
        QCOMPARE(notice.text, QStringLiteral("Those two Characteristics is defferent more than 1 Bytes, We cant use it!"));
        // The click gave the button the focus, and the refusal names no edit to move it to.
        QTRY_COMPARE(focusName(), QStringLiteral("btnShow"));
    }

    void commandListOpensResultWindow()
    {
        showPage("tabBeacon");
        typeInto("edtiBeaconMajor", "04d2");
        const QString expected = listText(qz::BuildBeaconList("0000FFF0-0000-1000-8000-00805F9B34FB", "04d2", "10125"));
        const ResultSeen seen = pressForResult("btniBeacon");
        QCOMPARE(seen.caption, QStringLiteral("AT Commands List"));
        QCOMPARE(seen.text, expected);
        QVERIFY(seen.readOnly);
        QCOMPARE(seen.focus, QStringLiteral("memLog"));
        QCOMPARE(seen.size, QSize(467, 424));
        QVERIFY(seen.centred);
        QCOMPARE(find<QLineEdit>("edtiBeaconMajor")->text(), QStringLiteral("04d2"));
    }

    void studyAndBroadcastListsThroughTheirButtons()
    {
        showPage("tbStudy");
        typeInto("edtCharWrite", "ffe2");
        const ResultSeen study = pressForResult("btnShow", false);
        QVERIFY(study.text.contains(QStringLiteral("\nAT+128B0\nAT+UUID0xFFE2\nAT+CHAR0xFFE1\nAT+ROLE1\n \n")));
        QVERIFY(study.text.endsWith(QStringLiteral("\n     <P2>: Device MAC address\n")));
        QCOMPARE(study.text.count(QLatin1Char('\n')), 27);

        showPage("TabSheet1");
        typeInto("edtDeviceAddress", "000E0B123456");
        typeInto("edtAdvert", "0201060302f0ff");
        typeInto("edtScan", "not hex");
        window->cbSame->setChecked(true);
        const ResultSeen broadcast = pressForResult("btBroadcast");
        QCOMPARE(broadcast.text.count(QLatin1Char('\n')), 28);
        QVERIFY(broadcast.text.contains(QStringLiteral("\nAT+Z10201060302F0FF00000000\n")));
        QVERIFY(broadcast.text.contains(QStringLiteral("\nAT+Z40201060302F0FF00000000\n")));
    }

    void twoPressesOpenTwoFreshWindows()
    {
        showPage("tabBeacon");
        const ResultSeen first = pressForResult("btniBeacon");
        typeInto("edtiBeaconMinor", "00001");
        const ResultSeen second = pressForResult("btniBeacon", false);
        QVERIFY(first.text.endsWith(QStringLiteral("AT+MINO0x278D\n")));
        QVERIFY(second.text.endsWith(QStringLiteral("AT+MINO0x0001\n")));
        QCOMPARE(second.text.count(QStringLiteral("AT+RENEW")), 1);
    }

    void everyInputControlHasAnAccessibleName()
    {
        QList<QWidget*> inputs;
        for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
            if (!edit->objectName().isEmpty()) // the combo box's inner editor has no name
                inputs << edit;
        }
        for (QComboBox* list : window->findChildren<QComboBox*>())
            inputs << list;
        for (QCheckBox* box : window->findChildren<QCheckBox*>())
            inputs << box;
        QCOMPARE(inputs.size(), 11);
        for (QWidget* input : inputs) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(input);
            QVERIFY(accessible != nullptr);
            QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(input->objectName()));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(window->edtiBeaconMajor)->text(QAccessible::Name),
                 QStringLiteral("iBeacon Major or WeChat Major"));
    }

    void marksFollowTypingAndLeaveTheAnswersAlone()
    {
        struct Step {
            const char* page;
            const char* edit;
            QString typed;
            bool same;
            const char* mark; // "", "taken", "notice" or "refused"
            QString tooltipPart;
        };
        const Step steps[] = {
            {"TabSheet1", "edtAdvert", "", false, "", ""},
            {"TabSheet1", "edtAdvert", "0x0201060302f0ff", false, "taken", "0201060302F0FF: 7 of 31 bytes, 2 structures\n"
                                                                              "  byte 1  02 01 06    Flags:"},
            {"TabSheet1", "edtAdvert", "0x0201G6", false, "refused", "character 7 ('G') is not a hex digit"},
            {"TabSheet1", "edtScan", "02", false, "refused", "too short: 2 characters"},
            {"TabSheet1", "edtScan", "02", true, "", ""},
            {"tabBeacon", "edtiBeaconMajor", "04d2", false, "taken", "04d2 is read as hex: 1234, sent as 0x04D2"},
            {"tabBeacon", "edtiBeaconMajor", "1000", false, "notice",
             "1000 has four characters, so it is read as hex: 4096, sent as 0x1000 (for decimal 1000 write 01000)"},
            {"tabBeacon", "edtiBeaconMinor", "12G4", false, "refused", "\"G\" is not a hex digit"},
            {"tabBeacon", "edtiBeaconMinor", "", false, "", ""},
        };
        const QMap<QString, QStyle::StandardPixmap> icons = {{"taken", QStyle::SP_DialogApplyButton},
                                                              {"notice", QStyle::SP_MessageBoxInformation},
                                                              {"refused", QStyle::SP_MessageBoxWarning}};
        for (const Step& step : steps) {
            showPage(step.page);
            window->cbSame->setChecked(step.same);
            typeInto(step.edit, step.typed);
            auto* edit = find<QLineEdit>(step.edit);
            QCOMPARE(edit->text(), step.typed);
            auto* mark = edit->findChild<QAction*>(QLatin1String(step.edit) + QStringLiteral("Mark"));
            QVERIFY(mark != nullptr);
            QCOMPARE(mark->isVisible(), QString(QLatin1String(step.mark)) != QString());
            if (!mark->isVisible()) {
                QVERIFY(edit->accessibleDescription().startsWith(QStringLiteral("Please input")));
                continue;
            }
            QVERIFY2(edit->accessibleDescription().contains(step.tooltipPart), qPrintable(edit->accessibleDescription()));
            // Several lines go into a fixed-width block, escaped; one line stays as it is.
            const QString shown = mark->toolTip().startsWith(QStringLiteral("<pre>")) ? step.tooltipPart.toHtmlEscaped()
                                                                                      : step.tooltipPart;
            QVERIFY2(mark->toolTip().contains(shown), qPrintable(mark->toolTip()));
            QCOMPARE(mark->icon().pixmap(16).toImage(),
                     edit->style()->standardIcon(icons.value(QLatin1String(step.mark))).pixmap(16).toImage());
        }

        // The answers of the buttons are the generators' own, whatever the marks say.
        typeInto("edtiBeaconMajor", QStringLiteral("1000"));
        typeInto("edtiBeaconMinor", QStringLiteral("01235"));
        QCOMPARE(pressForResult("btniBeacon").text,
                 listText(qz::BuildBeaconList("0000FFF0-0000-1000-8000-00805F9B34FB", "1000", "01235")));
        showPage("TabSheet1");
        typeInto("edtDeviceAddress", QStringLiteral("000E0B123456"));
        typeInto("edtAdvert", QStringLiteral("0x0201060302f0ff"));
        window->cbSame->setChecked(true);
        QCOMPARE(pressForResult("btBroadcast").text,
                 listText(qz::BuildBroadcastList("QZSoft", "000E0B123456", "0x0201060302f0ff", "02", true)));
        typeInto("edtAdvert", QStringLiteral("02010600"));
        QCOMPARE(pressForNotice("btBroadcast").text, QStringLiteral("Please fill in correct advertisiment package"));
        QTRY_COMPARE(focusName(), QStringLiteral("edtAdvert"));
    }

    void resultWindowIsReadOnlyButSelectable()
    {
        TfrmResult frmResult(nullptr);
        frmResult.AddLine("AT+RENEW");
        frmResult.AddLine("");
        frmResult.AddLine("AT+RESET");
        QCOMPARE(frmResult.memLog->toPlainText(), QStringLiteral("AT+RENEW\n\nAT+RESET\n"));
        QTest::keyClicks(frmResult.memLog, QStringLiteral("typed"));
        QTest::keyClick(frmResult.memLog, Qt::Key_Delete);
        QCOMPARE(frmResult.memLog->toPlainText(), QStringLiteral("AT+RENEW\n\nAT+RESET\n"));
        QVERIFY(frmResult.memLog->textInteractionFlags() & Qt::TextSelectableByKeyboard);
        QCOMPARE(frmResult.memLog->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(frmResult.memLog->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(!frmResult.btnOK->isDefault() && !frmResult.btnOK->autoDefault());
        QVERIFY(!(frmResult.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
