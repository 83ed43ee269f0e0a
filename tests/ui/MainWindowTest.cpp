// Drives the real windows: types into the edits, presses the buttons and reads and closes
// the real modal boxes from a timer while their nested message loops run.

#include "ATCommandList.h"
#include "BeaconList.h"
#include "BroadcastList.h"
#include "FieldMark.h"
#include "PageModel.h"
#include "WindowStyle.h"
#include "main.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QGroupBox>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
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
    bool roomForCaption = false;
    QString name = QString();
    bool hasIcon = false;
    bool centred = false;
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
        // Keys are for ASCII; anything else arrives as an input method would put it.
        const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
        if (ascii)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);
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
            // The caption must fit the title bar beside the window manager's buttons.
            auto* grid = qobject_cast<QGridLayout*>(box->layout());
            QFont titleFont = box->font();
            titleFont.setBold(true);
            const int wanted = QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + 120;
            int row = -1, column = -1, rows = 0, columns = 0;
            if (grid != nullptr)
                grid->getItemPosition(grid->count() - 1, &row, &column, &rows, &columns);
            // A row of its own under the rest, across every column, as wide as the caption needs.
            notice.roomForCaption = grid != nullptr && grid->itemAt(grid->count() - 1)->spacerItem() != nullptr
                && grid->itemAt(grid->count() - 1)->sizeHint() == QSize(wanted, 0) && box->width() >= wanted
                && row == grid->rowCount() - 1 && column == 0 && rows == 1 && columns == grid->columnCount();
            notice.name = box->objectName();
            notice.hasIcon = !box->windowIcon().pixmap(32).isNull();
            notice.centred = isCentred(box);
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
            // Waits without returning early: the window must be closed whatever happens. The
            // focus is the result window's once it is active (Wine activates it a little later).
            (void)QTest::qWaitFor([result] {
                return QApplication::activeWindow() == result && QApplication::focusWidget() != nullptr;
            });
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
        // Under Wine a new window of a process that is not in front is not activated.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    void cleanup()
    {
        window.reset();
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    // The window's fields are the page model's: each control, found by its component name, starts with
    // its field's initial text or state, and an edit holds its field's limit.
    void everyFieldIsThePageModels()
    {
        const std::map<qz::Field, const char*> controls = {
            {qz::Field::StudyUUIDType, "cbUUIDType"}, {qz::Field::StudyNotify, "edtCharNotify"},
            {qz::Field::StudyWrite, "edtCharWrite"},   {qz::Field::BeaconUUID, "edtiBeaconUUID"},
            {qz::Field::BeaconMajor, "edtiBeaconMajor"}, {qz::Field::BeaconMinor, "edtiBeaconMinor"},
            {qz::Field::DeviceName, "edtDeviceName"},   {qz::Field::DeviceAddress, "edtDeviceAddress"},
            {qz::Field::AdvertPackage, "edtAdvert"},    {qz::Field::ScanPackage, "edtScan"},
            {qz::Field::SameAsAdvert, "cbSame"}};
        std::size_t checked = 0;
        for (const qz::PageSpec& page : qz::Pages()) {
            for (const qz::FieldSpec& field : page.fields) {
                const char* name = controls.at(field.field);
                const QString initial = QString::fromLatin1(field.initial.data(), static_cast<int>(field.initial.size()));
                switch (field.kind) {
                case qz::FieldKind::Text:
                    QCOMPARE(find<QLineEdit>(name)->text(), initial);
                    QCOMPARE(find<QLineEdit>(name)->maxLength(), static_cast<int>(field.maxBytes));
                    break;
                case qz::FieldKind::UUIDType:
                    QCOMPARE(find<QComboBox>(name)->currentIndex(), initial == QStringLiteral("128") ? 1 : 0);
                    break;
                case qz::FieldKind::Flag:
                    QCOMPARE(find<QCheckBox>(name)->isChecked(), initial == QStringLiteral("yes"));
                    break;
                }
                ++checked;
            }
        }
        QCOMPARE(checked, controls.size());
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
        QVERIFY(notice.roomForCaption);
        QCOMPARE(notice.name, QStringLiteral("Notice"));
        QVERIFY(notice.hasIcon);
        QVERIFY(notice.centred);
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

    // Every named control where the drawing puts it, with its text, and no label cut off.
    // Positions are in the control's parent; a width of -1 spans the parent, a width of 0
    // is a label's own width, and a height of 0 or less fills the parent down to that many
    // pixels above its bottom.
    void layoutMatchesTheDrawing()
    {
        struct Place {
            const char* name;
            const char* parent;
            int left, top, width, height;
            const char* text;
        };
        const Place places[] = {
            {"GBUUIDType", "tbStudy", 0, 0, -1, 41, "UUID Type"},
            {"lbStudyUUIDType", "GBUUIDType", 8, 19, 0, 14, "Chose UUID type:"},
            {"GBUUIDNotify", "tbStudy", 0, 41, -1, 72, "Characteristic included \"Notify\" property"},
            {"edtCharNotify", "GBUUIDNotify", 8, 16, 497, 21, "FFE1"},
            {"lbCharNotify", "GBUUIDNotify", 8, 48, 0, 14, "Please input UUID which included \"Notify\" property"},
            {"GBUUIDWrite", "tbStudy", 0, 113, -1, 72,
             "Characteristic included \"Write\" or \"WriteWithoutResponse\" property"},
            {"edtCharWrite", "GBUUIDWrite", 8, 16, 497, 21, "FFE1"},
            {"lbCharWrite", "GBUUIDWrite", 8, 48, 0, 14,
             "Please input UUID which included \"Write\" or \"WriteWithoutResponse\" property"},
            {"GBHelp", "tbStudy", 0, 185, -1, -44, "Help information"},
            {"lbStudyHelp1", "GBHelp", 8, 20, 0, 14, "1. 16 Bits UUID format is like 'FFF0'"},
            {"lbStudyHelp2", "GBHelp", 8, 40, 0, 14,
             "2. 128 Bits UUID format is like '0000FFE0-0000-1000-8000-00805F9B34FB'"},
            {"lbStudyHelp3", "GBHelp", 8, 60, 0, 14,
             "3. Please use LightBlue for iOS to find UUID, android always show as 128 Bits UUID"},
            {"lbStudyHelp4", "GBHelp", 8, 80, 0, 14,
             "4. If slave device is used one UUID, please keep those two UUID is same"},
            // Docked at the page's bottom, whose height is the style's (the tab bar above it).
            {"GBButton", "tbStudy", 0, -44, -1, 44, ""},
            {"btnShow", "GBButton", -8, 11, 155, 25, "Create AT Commands List"},
            {"gbiBeaconUUID", "tabBeacon", 0, 0, -1, 72, "iBeacon UUID or WeChat UUID"},
            {"edtiBeaconUUID", "gbiBeaconUUID", 8, 16, 497, 21, "0000FFF0-0000-1000-8000-00805F9B34FB"},
            {"lbiBeaconUUID", "gbiBeaconUUID", 8, 48, 0, 14,
             "Please input UUID, Should like \"0000FFE0-0000-1000-8000-00805F9B34FB\""},
            {"gbiBeaconMajor", "tabBeacon", 0, 72, -1, 72, "iBeacon Major or WeChat Major"},
            {"edtiBeaconMajor", "gbiBeaconMajor", 8, 16, 497, 21, "10123"},
            {"lbiBeaconMajor", "gbiBeaconMajor", 8, 48, 0, 14,
             "Please input Major, Should like \"04D2\" (Hex mode) or \"01234\" (Decimal mode)"},
            {"gbiBeaconMinor", "tabBeacon", 0, 144, -1, 72, "iBeacon Minor or WeChat Minor"},
            {"edtiBeaconMinor", "gbiBeaconMinor", 8, 16, 497, 21, "10125"},
            {"lbiBeaconMinor", "gbiBeaconMinor", 8, 48, 0, 14,
             "Please input Minor, Should like \"04D3\" (Hex mode) or \"01235\" (Decimal mode)"},
            {"gbiBeaconHelp", "tabBeacon", 0, 216, -1, 0, "Help information"},
            {"lbiBeaconHelp1", "gbiBeaconHelp", 8, 20, 0, 14,
             "1. Major or Minor is between 1~65535, Hex mode length is 4, Decimal mode is 5."},
            {"lbiBeaconHelp2", "gbiBeaconHelp", 8, 40, 0, 14,
             "2. If you want to use it in WeChat, Please ask Tencent to get UUID information."},
            {"lbiBeaconHelp3", "gbiBeaconHelp", 8, 60, 0, 14,
             "3. iBeacon is based on BLE, iBeacon format is 21 Bytes in advertising data."},
            {"btniBeacon", "gbiBeaconHelp", -8, 84, 227, 25, "Create iBeacon AT Commands List"},
            {"gbDeviceName", "TabSheet1", 0, 0, -1, 72, "Device Name"},
            {"edtDeviceName", "gbDeviceName", 8, 16, 497, 21, "QZSoft"},
            {"lbDeviceName", "gbDeviceName", 8, 48, 0, 14, "Please input device name string, Max legnth is 15 strings."},
            {"gbDeviceAddress", "TabSheet1", 0, 72, -1, 72, "Device Address"},
            {"edtDeviceAddress", "gbDeviceAddress", 8, 16, 497, 21, ""},
            {"lbDeviceAddress", "gbDeviceAddress", 8, 48, 0, 14,
             "Please input device address strings, should like \"000E0B123456\""},
            {"gbAdvert", "TabSheet1", 0, 144, -1, 72, "Advertisement package"},
            {"edtAdvert", "gbAdvert", 8, 16, 497, 21, ""},
            {"lbAdvert", "gbAdvert", 8, 48, 0, 14,
             "Please input Advertisement package, Max length is 31 Hex Bytes,62 ASCII strings"},
            {"gbScan", "TabSheet1", 0, 216, -1, 72, "ScanResponse package"},
            {"edtScan", "gbScan", 8, 16, 497, 21, ""},
            {"lbScan", "gbScan", 8, 48, 0, 14,
             "Please input ScanResponse package, Max length is 31 Hex Bytes,62 ASCII strings"},
            // The check box sits 2 px above the drawing's 304, centred on the button's row.
            {"cbSame", "TabSheet1", 8, 302, 345, 21, "ScanResponse package as same as Advertisiment package"},
            {"btBroadcast", "TabSheet1", 360, 299, 147, 25, "Create AT Commands List"},
        };
        for (int page = 0; page < window->MainPage->count(); ++page)
            window->MainPage->setCurrentIndex(page); // lays every page out
#ifndef Q_OS_WIN
        // Under Fusion a page is the drawing's 516 x 331 px. The native Windows style draws
        // the tab bar a pixel lower and the page's frame wider: what is docked to the
        // page's right or bottom edge follows the edge, and so is placed from it below.
        QCOMPARE(find("tbStudy")->size(), QSize(516, 331));
#endif
        QCOMPARE(window->font().family(), QStringLiteral("Liberation Sans"));
        QVERIFY(!window->windowIcon().pixmap(48).isNull()); // the packaged icon, compiled in
        QCOMPARE(window->font().pixelSize(), 12);
        // A box's caption stands 6 px in from where the page's style would put it.
        auto* box = find<QGroupBox>("gbDeviceName");
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        const QRect inset = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        const QRect plain = window->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        QCOMPARE(inset.topLeft() - plain.topLeft(), QPoint(6, 0));
        // Only the caption moves: the box's frame, and the controls inside it, stay.
        for (QStyle::SubControl part : {QStyle::SC_GroupBoxFrame, QStyle::SC_GroupBoxContents}) {
            option.subControls = part;
            QCOMPARE(box->style()->subControlRect(QStyle::CC_GroupBox, &option, part, box),
                     window->style()->subControlRect(QStyle::CC_GroupBox, &option, part, box));
        }
        QStyleOptionComboBox comboOption;
        comboOption.initFrom(window->cbUUIDType);
        QCOMPARE(window->cbUUIDType->style()->subControlRect(QStyle::CC_ComboBox, &comboOption,
                                                             QStyle::SC_ComboBoxEditField, window->cbUUIDType),
                 window->style()->subControlRect(QStyle::CC_ComboBox, &comboOption, QStyle::SC_ComboBoxEditField,
                                                 window->cbUUIDType));
        // A box with a button kept at its right edge is drawn as any other: its frame shows.
        const QImage drawn = find("GBButton")->grab().toImage();
        const QRgb inside = drawn.pixel(4, drawn.height() / 2);
        bool frameSeen = false;
        for (int x = 0; x < drawn.width(); ++x) {
            for (int y : {drawn.height() - 1, drawn.height() - 2})
                frameSeen = frameSeen || drawn.pixel(x, y) != inside;
        }
        for (int y = 0; y < drawn.height(); ++y)
            frameSeen = frameSeen || drawn.pixel(0, y) != inside || drawn.pixel(1, y) != inside;
        QVERIFY(frameSeen);
        for (const Place& place : places) {
            auto* control = find(place.name);
            QWidget* parent = find(place.parent);
            const QString name = QLatin1String(place.name);
            const QRect at(control->mapTo(parent, QPoint(0, 0)), control->size());
            // A negative left is the gap between the control's right edge and its parent's, a
            // negative top the distance of its top from the parent's bottom. A push button
            // wider than drawn (under a style that pads more) keeps its right edge.
            const int grown = qobject_cast<QPushButton*>(control) && place.width > 0 ? at.width() - place.width : 0;
            const int left = place.left < 0 ? parent->width() + place.left - at.width() : place.left - grown;
            const int top = place.top < 0 ? parent->height() + place.top : place.top;
            const int width = place.width == -1 ? parent->width() : place.width == 0 ? control->sizeHint().width()
                                                                                     : place.width;
            QCOMPARE(QString(name + QStringLiteral(" at %1,%2").arg(at.left()).arg(at.top())),
                     QString(name + QStringLiteral(" at %1,%2").arg(left).arg(top)));
            QVERIFY2(at.width() >= width && (place.width != -1 || at.width() == width), qPrintable(name));
            if (place.height <= 0)
                QCOMPARE(at.bottom() + 1, parent->height() + place.height);
            else
                QCOMPARE(at.height(), place.height);
            QVERIFY2(at.right() < parent->width(), qPrintable(name + QStringLiteral(" reaches past its parent")));
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control))
                text = label->text();
            else if (auto* button = qobject_cast<QAbstractButton*>(control))
                text = button->text();
            else if (auto* box = qobject_cast<QGroupBox*>(control))
                text = box->title();
            else if (auto* edit = qobject_cast<QLineEdit*>(control))
                text = edit->text();
            QCOMPARE(text, QString::fromUtf8(place.text));
            if (auto* button = qobject_cast<QPushButton*>(control)) {
                QVERIFY2(qz::captionFits(button), qPrintable(name + QStringLiteral(" clips its caption")));
                // A button wider than drawn is no wider than its caption needs.
                if (grown > 0) {
                    button->resize(button->width() - 1, button->height());
                    QVERIFY2(!qz::captionFits(button), qPrintable(name + QStringLiteral(" grew more than it needed")));
                    button->resize(button->width() + 1, button->height());
                }
            }
        }
        TfrmResult result(window.get());
        const std::pair<QWidget*, QRect> resultPlaces[] = {
            {result.GBResult, QRect(0, 0, 467, 385)},
            {result.memLog, QRect(2, 14, 463, 369)},
            {result.btnOK, QRect(176, 392, 75, 25)},
            {result.btnSend, QRect(259, 392, 120, 25)},
        };
        for (const auto& [control, rect] : resultPlaces)
            QCOMPARE(QRect(control->mapTo(&result, QPoint(0, 0)), control->size()), rect);
        for (const char* name : {"GBResult", "memLog", "btnOK", "btnSend"})
            QVERIFY2(result.findChild<QWidget*>(QLatin1String(name)) != nullptr, name);
        QCOMPARE(result.objectName(), QStringLiteral("frmResult"));
        QCOMPARE(result.btnOK->text(), QStringLiteral("OK"));
        QCOMPARE(window->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(result.btnSend->text(), QStringLiteral("Send to Module..."));
    }

    // The byte limits of the edits as a user meets them, typing and pasting.
    void editsHoldWhatFitsAndOneLine()
    {
        struct Case {
            const char* edit;
            QString start;
            int caret;
            QString pasted; // or typed, when typing is set
            bool typing;
            QString result;
            int caretAfter = -1; // where the caret stands after a paste, when it is checked
        };
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // four bytes, two UTF-16 units
        const QString e = QString(QChar(0xE9)); // two bytes in UTF-8
        const Case cases[] = {
            {"edtDeviceName", "QZSoft", 2, "ABCDEFGHIJKLMN", false, "QZABCDEFGHISoft"},
            {"edtDeviceName", "123456789012345", 5, "X", true, "123456789012345"},
            {"edtDeviceName", "12345678901234", 14, e, true, "12345678901234"},
            {"edtDeviceName", "1234567890123", 13, e, true, "1234567890123" + e},
            {"edtDeviceName", "!", 0, "QZ\r\nSoft", false, "QZ Soft!", 7},
            {"edtDeviceName", "", 0, smile + smile + smile + smile, false, smile + smile + smile, 6},
            {"edtAdvert", "", 0, "0201\n06\r0302F0FF", false, "0201 06 0302F0FF"},
            {"edtiBeaconMajor", "04", 1, "D2FFFF", false, "0D2F4"},
            // Five characters fit the edit's length, but not its 5 bytes: cut at the caret.
            {"edtiBeaconMajor", "", 0, e + e + e + e + e, false, e + e},
            {"edtiBeaconMajor", "12", 1, e + e, false, "1" + e + "2"},
        };
        for (const Case& c : cases) {
            auto* edit = find<QLineEdit>(c.edit);
            edit->setText(c.start);
            edit->setCursorPosition(c.caret);
            if (c.typing) {
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, c.pasted, Qt::NoModifier);
            } else {
                QGuiApplication::clipboard()->setText(c.pasted);
                edit->paste();
            }
            QCOMPARE(edit->text(), c.result);
            if (c.caretAfter >= 0)
                QCOMPARE(edit->cursorPosition(), c.caretAfter);
        }
    }

    void closingTheResultWindowGivesTheKeyboardBack()
    {
        showPage("tabBeacon");
        pressForResult("btniBeacon");
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window.get()));
        QCOMPARE(focusName(), QStringLiteral("btniBeacon"));
    }

    void marksFollowTypingAndLeaveTheAnswersAlone()
    {
        struct Step {
            const char* page;
            const char* edit;
            QString typed;
            bool same;
            const char* mark; // "taken", "notice" or "refused"
            QString tooltipPart;
        };
        const Step steps[] = {
            {"TabSheet1", "edtAdvert", "", false, "refused", "empty: type the package in hex"},
            {"TabSheet1", "edtAdvert", "0x0201060302f0ff", false, "taken", "0201060302F0FF: 7 of 31 bytes, 2 structures\n"
                                                                              "  byte 1  02 01 06    Flags:"},
            {"TabSheet1", "edtAdvert", "0x0201G6", false, "refused", "character 7 ('G') is not a hex digit"},
            {"TabSheet1", "edtScan", "02", false, "refused", "too short: 2 characters"},
            {"TabSheet1", "edtScan", "02", true, "notice",
             "not used while \"ScanResponse package as same as Advertisiment package\" is ticked"},
            {"tabBeacon", "edtiBeaconMajor", "04d2", false, "taken", "04d2 is read as hex: 1234, sent as 0x04D2"},
            {"tabBeacon", "edtiBeaconMajor", "1000", false, "notice",
             "1000 has four characters, so it is read as hex: 4096, sent as 0x1000 (for decimal 1000 write 01000)"},
            {"tabBeacon", "edtiBeaconMinor", "12G4", false, "refused", "\"G\" is not a hex digit"},
            {"tabBeacon", "edtiBeaconMinor", "", false, "refused", "empty: type four hex digits"},
            {"tabBeacon", "edtiBeaconMinor", "01235", false, "taken", "The field is full: it takes 5 characters, no more."},
            {"TabSheet1", "edtDeviceName", "ABCDEFGHIJKLM\u00e9", false, "notice",
             "The field is full: it takes 15 bytes, and a character outside ASCII takes two, no more."},
            {"TabSheet1", "edtDeviceName", "ABCDEFGHIJKLMN", false, "taken", "sent as AT+NAMEABCDEFGHIJKLMN"},
            {"tabBeacon", "edtiBeaconUUID", "FDA5", false, "refused", "a 128-bit UUID needs 32 hex digits, this has 4"},
            {"tabBeacon", "edtiBeaconUUID", "0000FFF0-0000-1000-8000-00805F9B34FB", false, "taken",
             "read as the 128-bit UUID 0000FFF0-0000-1000-8000-00805F9B34FB"},
            {"tbStudy", "edtCharNotify", "0000", false, "refused", "0000 is no UUID"},
            {"tbStudy", "edtCharWrite", "ff-e1", false, "notice", "the dashes are left out wherever they stand"},
            {"TabSheet1", "edtDeviceName", " Lamp", false, "notice", "the spaces at its ends are not sent"},
            {"TabSheet1", "edtDeviceAddress", "000e0b123456", false, "refused",
             "lower-case letters: the address is written in capitals, 000E0B123456"},
            {"TabSheet1", "edtDeviceAddress", "000E0B123456", false, "taken", "the address 00:0E:0B:12:34:56"},
        };
        // At start the empty fields that the button needs say what to type.
        for (QLineEdit* edit : {window->edtDeviceAddress, window->edtAdvert, window->edtScan}) {
            auto* mark = edit->findChild<QAction*>(edit->objectName() + QStringLiteral("Mark"));
            QVERIFY(mark->isVisible());
            QVERIFY2(mark->toolTip().startsWith(QStringLiteral("empty: type ")), qPrintable(mark->toolTip()));
        }
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
            QVERIFY(mark->isVisible());
            QVERIFY2(edit->accessibleDescription().contains(step.tooltipPart), qPrintable(edit->accessibleDescription()));
            // Several lines go into a fixed-width block, escaped; one line stays as it is.
            const QString shown = mark->toolTip().startsWith(QStringLiteral("<pre>")) ? step.tooltipPart.toHtmlEscaped()
                                                                                      : step.tooltipPart;
            QVERIFY2(mark->toolTip().contains(shown), qPrintable(mark->toolTip()));
            QCOMPARE(mark->icon().pixmap(16).toImage(),
                     edit->style()->standardIcon(icons.value(QLatin1String(step.mark))).pixmap(16).toImage());
        }

        // A pasted 0x04D2 is cut by the field's five characters; the mark says how to write it.
        showPage("tabBeacon");
        typeInto("edtiBeaconMinor", QStringLiteral("0x04D2"));
        QCOMPARE(window->edtiBeaconMinor->text(), QStringLiteral("0x04D"));
        QVERIFY2(window->edtiBeaconMinor->accessibleDescription().startsWith(
                     QStringLiteral("0x04D starts with 0x, which is not typed here: write four hex digits without it")),
                 qPrintable(window->edtiBeaconMinor->accessibleDescription()));

        // The characteristics' marks follow the UUID type as well as the text.
        showPage("tbStudy");
        typeInto("edtCharNotify", QStringLiteral("0000FFE1-0000-1000-8000-00805F9B34FB"));
        QVERIFY(window->edtCharNotify->accessibleDescription().startsWith(QStringLiteral("a 128-bit UUID, and the")));
        window->cbUUIDType->setCurrentIndex(1);
        QCOMPARE(window->edtCharNotify->accessibleDescription(),
                 QStringLiteral("read as the 128-bit UUID 0000FFE1-0000-1000-8000-00805F9B34FB\n"
                                "The field is full: it takes 36 characters, no more."));
        window->cbUUIDType->setCurrentIndex(0);

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
                 listText(qz::BuildBroadcastList(" Lamp", "000E0B123456", "0x0201060302f0ff", "02", true)));
        typeInto("edtAdvert", QStringLiteral("02010600"));
        QCOMPARE(pressForNotice("btBroadcast").text, QStringLiteral("Please fill in correct advertisiment package"));
        QTRY_COMPARE(focusName(), QStringLiteral("edtAdvert"));
    }

    void aFullPackagesTooltipFitsTheScreen()
    {
        showPage("TabSheet1");
        const QString full = QStringLiteral("1EFF4C00") + QString(54, QLatin1Char('A'));
        typeInto("edtAdvert", full);
        auto* mark = window->edtAdvert->findChild<QAction*>(QStringLiteral("edtAdvertMark"));
        QString shown = mark->toolTip();
        QVERIFY(shown.startsWith(QStringLiteral("<pre>")));
        shown = shown.mid(5, shown.size() - 11);
        int widest = 0;
        for (const QString& line : shown.split(QLatin1Char('\n')))
            widest = std::max(widest, int(line.size()));
        QVERIFY2(widest <= 100, qPrintable(shown));
        QVERIFY2(widest >= 90, qPrintable(shown)); // broken near the limit, not anywhere
        // A line broken in two goes on four columns further in than it began.
        const QStringList shownLines = shown.split(QLatin1Char('\n'));
        int continued = 0;
        for (int at = 1; at < shownLines.size(); ++at) {
            const QString& line = shownLines[at];
            if (line.startsWith(QStringLiteral("  byte ")))
                continue; // a structure's own line
            QVERIFY2(line.startsWith(QStringLiteral("      ")) && line.at(6) != QLatin1Char(' '), qPrintable(line));
            ++continued;
        }
        QVERIFY(continued >= 1);
        // Only white space was added: the words are the explanation's.
        const auto words = [](QString text) { return text.remove(QRegularExpression(QStringLiteral("\\s"))); };
        QCOMPARE(words(shown), words(window->edtAdvert->accessibleDescription().toHtmlEscaped()));
    }

    void aButtonTooNarrowForItsCaptionGrowsLeftwardsJustEnough()
    {
        QWidget parent;
        parent.setFont(qz::windowFont());
        QPushButton button(QStringLiteral("Create AT Commands List"), &parent);
        button.setGeometry(100, 10, 120, 25);
        QVERIFY(!qz::captionFits(&button));
        qz::widenToFitCaption(&button);
        QVERIFY(qz::captionFits(&button));
        QCOMPARE(button.geometry().right(), 219); // its right edge stays
        QCOMPARE(button.geometry().top(), 10);
        QCOMPARE(button.height(), 25);
        button.resize(button.width() - 1, 25);
        QVERIFY(!qz::captionFits(&button)); // and not a pixel wider than it needs
    }

    void aTooltipLineWithoutSpacesIsBrokenAtTheLimit()
    {
        QLineEdit edit;
        qz::FieldMark mark(&edit);
        mark.show(qz::FieldMark::Taken, QStringLiteral("head\n  ") + QString(150, QLatin1Char('A')));
        const QString tip = edit.actions().first()->toolTip();
        QCOMPARE(tip, QStringLiteral("<pre>head\n  ") + QString(98, QLatin1Char('A')) + QStringLiteral("\n      ")
                          + QString(52, QLatin1Char('A')) + QStringLiteral("</pre>"));
        const QString full = QString(100, QLatin1Char('B')); // exactly the limit: kept whole
        mark.show(qz::FieldMark::Taken, QStringLiteral("head\n") + full);
        QCOMPARE(edit.actions().first()->toolTip(), QStringLiteral("<pre>head\n") + full + QStringLiteral("</pre>"));
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
