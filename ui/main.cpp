#include "main.h"

#include "ATCommandList.h"
#include "BeaconList.h"
#include "BroadcastList.h"
#include "FieldMark.h"
#include "FieldTextValidator.h"
#include "Notice.h"
#include "StudyList.h"
#include "Vendor.h"
#include "WindowStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using qz::named;

constexpr int clientWidth = 520;
constexpr int clientHeight = 384;
constexpr int statusBarHeight = 25;
constexpr int boxMargin = 8;
constexpr int editTop = 16;
constexpr int editWidth = 497;
constexpr int editHeight = 21;
constexpr int hintTop = 48;
constexpr int fieldBoxHeight = 72;
constexpr int helpLineSpacing = 20;
// Help lines start a little lower than the edits so that the first clears the frame.
constexpr int helpTop = 20;
constexpr int buttonHeight = 25;

QLabel* addLabel(QWidget* parent, const QString& name, const char* text, int left, int top)
{
    auto* label = named(new QLabel(QLatin1String(text), parent), name);
    label->adjustSize();
    label->move(left, top);
    return label;
}

// A group box of a page's column. A fixed height stacks it; none lets it take the rest.
QGroupBox* addGroupBox(QWidget* page, const char* name, const char* caption, int fixedHeight)
{
    auto* box = named(new QGroupBox(QLatin1String(caption), page), name);
    qz::insetCaption(box);
    if (fixedHeight > 0)
        box->setFixedHeight(fixedHeight);
    static_cast<QVBoxLayout*>(page->layout())->addWidget(box, fixedHeight > 0 ? 0 : 1);
    return box;
}

QWidget* addPage(QTabWidget* pages, const char* name, const char* caption)
{
    auto* page = named(new QWidget(pages), name);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    pages->addTab(page, QLatin1String(caption));
    return page;
}

QPushButton* addButton(QWidget* parent, const char* name, const char* caption, int width)
{
    auto* button = named(new QPushButton(QLatin1String(caption), parent), name);
    button->resize(width, buttonHeight);
    qz::widenToFitCaption(button);
    return button;
}

// Keeps a button at the right edge of its box once the page's column has sized the box.
class RightEdgePlacer : public QObject {
public:
    RightEdgePlacer(QPushButton* button, int top, QWidget* box)
        : QObject(box)
        , button_(button)
        , top_(top)
    {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Placing it on other events too would put it where it is already.
        if (event->type() == QEvent::Resize) {
            const int boxWidth = static_cast<QWidget*>(watched)->width();
            button_->move(boxWidth - boxMargin - button_->width(), top_);
        }
        return false;
    }

private:
    QPushButton* button_;
    int top_;
};

// The Tab key visits the widgets in the order given, whatever their order on screen.
void chainTabOrder(std::initializer_list<QWidget*> chain)
{
    for (auto widget = chain.begin(); widget + 1 != chain.end(); ++widget)
        QWidget::setTabOrder(*widget, *(widget + 1));
}

} // namespace

TfrmMain::TfrmMain()
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                               | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , MainPage(named(new QTabWidget(this), "MainPage"))
    , sbTitle(named(new QStatusBar(this), "sbTitle"))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kavrel Config Assistant V") + qz::fromBytes(std::string(qz::ProductVersion)));
    setFont(qz::windowFont());
    setWindowIcon(qz::applicationIcon());
    setFixedSize(clientWidth, clientHeight);
    setCentralWidget(MainPage);

    createStudyPage();
    createBeaconPage();
    createBroadcastPage();
    createStatusBar();
    addExplanationMarks();
    FormCreate();
}

void TfrmMain::FormCreate()
{
    // Qt paints every window through a back buffer, so nothing flickers to switch off here.
    MainPage->setCurrentWidget(TabSheet1);
    qz::centreOnDesktop(this);
}

QLineEdit* TfrmMain::addFieldBox(QWidget* page, const FieldBox& fieldBox)
{
    const qz::FieldSpec& field = fieldSpec(fieldBox.field);
    QGroupBox* box = addGroupBox(page, fieldBox.boxName, fieldBox.caption, fieldBoxHeight);
    auto* edit = named(new QLineEdit(qz::fromBytes(std::string(field.initial)), box), fieldBox.editName);
    edit->setGeometry(boxMargin, editTop, editWidth, editHeight);
    edit->setMaxLength(static_cast<int>(field.maxBytes));
    edit->setValidator(new qz::FieldTextValidator(static_cast<int>(field.maxBytes), edit));
    addLabel(box, fieldBox.hintName, fieldBox.hint, boxMargin, hintTop);
    // A screen reader announces the edit by its box's caption; its mark gives the description.
    edit->setAccessibleName(box->title());
    addControl(fieldBox.field, edit, box->title());
    return edit;
}

// Each control stands for a field of one of the pages.
const qz::FieldSpec& TfrmMain::fieldSpec(qz::Field field)
{
    const auto page = std::find_if(qz::Pages().begin(), qz::Pages().end(),
                                   [field](const qz::PageSpec& page) { return qz::FindField(page, field) != nullptr; });
    return *qz::FindField(*page, field);
}

void TfrmMain::addControl(qz::Field field, QWidget* control, const QString& label)
{
    controls_[field] = control;
    labels_[field] = qz::toBytes(label);
}

qz::FieldValues TfrmMain::valuesOf(const qz::PageSpec& page) const
{
    qz::FieldValues values;
    for (const qz::FieldSpec& field : page.fields) {
        QWidget* control = controls_.at(field.field);
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            values[field.field] = qz::toBytes(edit->text());
        else if (auto* list = qobject_cast<QComboBox*>(control))
            values[field.field] = std::string(qz::UUIDTypeTextOf(list->currentIndex()));
        else if (auto* box = qobject_cast<QCheckBox*>(control))
            values[field.field] = std::string(box->isChecked() ? qz::FlagOn : qz::FlagOff);
    }
    return values;
}

void TfrmMain::createStudyPage()
{
    tbStudy = addPage(MainPage, "tbStudy", "Study Function for Master Role");

    QGroupBox* type = addGroupBox(tbStudy, "GBUUIDType", "UUID Type", 41);
    QLabel* typeLabel = addLabel(type, "lbStudyUUIDType", "Chose UUID type:", boxMargin, 19);
    cbUUIDType = named(new QComboBox(type), "cbUUIDType");
    cbUUIDType->addItem(QStringLiteral("Slave device is using 16 Bit format UUID"));
    cbUUIDType->addItem(QStringLiteral("Slave device is using 128 Bit format UUID"));
    const int listLeft = typeLabel->geometry().right() + boxMargin;
    cbUUIDType->setGeometry(listLeft, 15, boxMargin + editWidth - listLeft, editHeight);
    typeLabel->setBuddy(cbUUIDType);
    cbUUIDType->setAccessibleName(type->title());

    cbUUIDType->setCurrentIndex(qz::UUIDTypeIndexOf(fieldSpec(qz::Field::StudyUUIDType).initial));
    addControl(qz::Field::StudyUUIDType, cbUUIDType, type->title());

    edtCharNotify = addFieldBox(tbStudy, {qz::Field::StudyNotify, "GBUUIDNotify",
                                          "Characteristic included \"Notify\" property", "edtCharNotify",
                                          "lbCharNotify", "Please input UUID which included \"Notify\" property"});
    edtCharWrite = addFieldBox(
        tbStudy, {qz::Field::StudyWrite, "GBUUIDWrite",
                  "Characteristic included \"Write\" or \"WriteWithoutResponse\" property", "edtCharWrite",
                  "lbCharWrite", "Please input UUID which included \"Write\" or \"WriteWithoutResponse\" property"});

    QGroupBox* help = addGroupBox(tbStudy, "GBHelp", "Help information", 0);
    const char* helpLines[] = {
        "1. 16 Bits UUID format is like 'FFF0'",
        "2. 128 Bits UUID format is like '0000FFE0-0000-1000-8000-00805F9B34FB'",
        "3. Please use LightBlue for iOS to find UUID, android always show as 128 Bits UUID",
        "4. If slave device is used one UUID, please keep those two UUID is same",
    };
    for (int i = 0; i < 4; ++i)
        addLabel(help, QStringLiteral("lbStudyHelp%1").arg(i + 1), helpLines[i], boxMargin, helpTop + i * helpLineSpacing);

    QGroupBox* buttonBox = addGroupBox(tbStudy, "GBButton", "", 44);
    btnShow = addButton(buttonBox, "btnShow", "Create AT Commands List", 155);
    new RightEdgePlacer(btnShow, 11, buttonBox);
    connect(btnShow, &QPushButton::clicked, this, &TfrmMain::btnShowClick);

    chainTabOrder({cbUUIDType, edtCharWrite, edtCharNotify, btnShow});
}

void TfrmMain::createBeaconPage()
{
    tabBeacon = addPage(MainPage, "tabBeacon", "iBeacon function for Slave Role");

    edtiBeaconUUID = addFieldBox(tabBeacon, {qz::Field::BeaconUUID, "gbiBeaconUUID", "iBeacon UUID or WeChat UUID",
                                             "edtiBeaconUUID", "lbiBeaconUUID",
                                             "Please input UUID, Should like \"0000FFE0-0000-1000-8000-00805F9B34FB\""});
    edtiBeaconMajor = addFieldBox(
        tabBeacon, {qz::Field::BeaconMajor, "gbiBeaconMajor", "iBeacon Major or WeChat Major", "edtiBeaconMajor",
                    "lbiBeaconMajor", "Please input Major, Should like \"04D2\" (Hex mode) or \"01234\" (Decimal mode)"});
    edtiBeaconMinor = addFieldBox(
        tabBeacon, {qz::Field::BeaconMinor, "gbiBeaconMinor", "iBeacon Minor or WeChat Minor", "edtiBeaconMinor",
                    "lbiBeaconMinor", "Please input Minor, Should like \"04D3\" (Hex mode) or \"01235\" (Decimal mode)"});

    QGroupBox* help = addGroupBox(tabBeacon, "gbiBeaconHelp", "Help information", 0);
    const char* helpLines[] = {
        "1. Major or Minor is between 1~65535, Hex mode length is 4, Decimal mode is 5.",
        "2. If you want to use it in WeChat, Please ask Tencent to get UUID information.",
        "3. iBeacon is based on BLE, iBeacon format is 21 Bytes in advertising data.",
    };
    for (int i = 0; i < 3; ++i)
        addLabel(help, QStringLiteral("lbiBeaconHelp%1").arg(i + 1), helpLines[i], boxMargin,
                 helpTop + i * helpLineSpacing);
    btniBeacon = addButton(help, "btniBeacon", "Create iBeacon AT Commands List", 227);
    new RightEdgePlacer(btniBeacon, helpTop + 3 * helpLineSpacing + 4, help);
    connect(btniBeacon, &QPushButton::clicked, this, &TfrmMain::btniBeaconClick);

    chainTabOrder({edtiBeaconMinor, edtiBeaconUUID, edtiBeaconMajor, btniBeacon});
}

void TfrmMain::createBroadcastPage()
{
    TabSheet1 = addPage(MainPage, "TabSheet1", "Broadcast Package");

    edtDeviceName = addFieldBox(TabSheet1, {qz::Field::DeviceName, "gbDeviceName", "Device Name", "edtDeviceName",
                                            "lbDeviceName", "Please input device name string, Max legnth is 15 strings."});
    edtDeviceAddress = addFieldBox(
        TabSheet1, {qz::Field::DeviceAddress, "gbDeviceAddress", "Device Address", "edtDeviceAddress",
                    "lbDeviceAddress", "Please input device address strings, should like \"000E0B123456\""});
    edtAdvert = addFieldBox(
        TabSheet1, {qz::Field::AdvertPackage, "gbAdvert", "Advertisement package", "edtAdvert", "lbAdvert",
                    "Please input Advertisement package, Max length is 31 Hex Bytes,62 ASCII strings"});
    edtScan = addFieldBox(
        TabSheet1, {qz::Field::ScanPackage, "gbScan", "ScanResponse package", "edtScan", "lbScan",
                    "Please input ScanResponse package, Max length is 31 Hex Bytes,62 ASCII strings"});

    // The check box and the button sit under the boxes, at the positions the page was drawn with.
    auto* bottom = new QWidget(TabSheet1);
    static_cast<QVBoxLayout*>(TabSheet1->layout())->addWidget(bottom, 1);
    const int bottomTop = 4 * fieldBoxHeight;
    cbSame = named(new QCheckBox(QStringLiteral("ScanResponse package as same as Advertisiment package"), bottom),
                   "cbSame");
    cbSame->setGeometry(boxMargin, 304 - bottomTop - 2, 345, 21);
    cbSame->setChecked(fieldSpec(qz::Field::SameAsAdvert).initial == qz::FlagOn);
    addControl(qz::Field::SameAsAdvert, cbSame, cbSame->text());
    btBroadcast = addButton(bottom, "btBroadcast", "Create AT Commands List", 147);
    btBroadcast->move(360 + 147 - btBroadcast->width(), 299 - bottomTop); // its right edge where drawn
    connect(btBroadcast, &QPushButton::clicked, this, &TfrmMain::btBroadcastClick);

    chainTabOrder({edtScan, edtAdvert, edtDeviceAddress, edtDeviceName, btBroadcast, cbSame});
}

void TfrmMain::addExplanationMarks()
{
    for (const qz::PageSpec& page : qz::Pages()) {
        // Any control of a page may change how its fields read: the UUID type, "same".
        const auto update = [this, &page] { updateMarks(page); };
        for (const qz::FieldSpec& field : page.fields) {
            QWidget* control = controls_.at(field.field);
            if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                marks_[field.field] = new qz::FieldMark(edit);
                connect(edit, &QLineEdit::textChanged, this, update);
            } else if (auto* list = qobject_cast<QComboBox*>(control)) {
                connect(list, qOverload<int>(&QComboBox::currentIndexChanged), this, update);
            } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
                connect(box, &QCheckBox::toggled, this, update);
            }
        }
        updateMarks(page);
    }
}

namespace {

// A field at its limit takes no more keys and says nothing of it: its mark says it.
std::string limitWords(const std::string& text, int maxBytes)
{
    if (static_cast<int>(text.size()) < maxBytes)
        return {};
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
    return "The field is full: it takes " + std::to_string(maxBytes)
        + (ascii ? " characters" : " bytes, and a character outside ASCII takes two") + ", no more.";
}

qz::FieldMark::Kind markKind(qz::FieldVerdict verdict)
{
    switch (verdict) {
    case qz::FieldVerdict::Refused: return qz::FieldMark::Refused;
    case qz::FieldVerdict::Notice:
    case qz::FieldVerdict::Unused: return qz::FieldMark::Notice;
    case qz::FieldVerdict::Taken:
    case qz::FieldVerdict::Setting: break;
    }
    return qz::FieldMark::Taken;
}

} // namespace

void TfrmMain::updateMarks(const qz::PageSpec& page)
{
    const qz::FieldValues values = valuesOf(page);
    for (const qz::FieldSpec& field : page.fields) {
        const auto mark = marks_.find(field.field);
        if (mark == marks_.end())
            continue;
        const qz::FieldExplanation explanation = field.explain(values);
        // The edit keeps its text while another control keeps it from being read.
        if (explanation.verdict == qz::FieldVerdict::Unused) {
            mark->second->show(qz::FieldMark::Notice,
                               qz::fromBytes("not used while \"" + labels_.at(explanation.about) + "\" is ticked, which "
                                             + explanation.text));
            continue;
        }
        std::string words = explanation.text;
        if (!explanation.details.empty()) {
            words.clear();
            for (const std::string& line : explanation.details)
                words += (words.empty() ? "" : "\n") + line;
        }
        const std::string& text = values.at(field.field);
        if (const std::string full = limitWords(text, static_cast<int>(field.maxBytes)); !full.empty())
            words += "\n" + full;
        mark->second->show(markKind(explanation.verdict), qz::fromBytes(words));
    }
}

void TfrmMain::createStatusBar()
{
    setStatusBar(sbTitle);
    sbTitle->setFixedHeight(statusBarHeight);
    sbTitle->setSizeGripEnabled(false);

    auto* web = named(new QLabel(qz::fromBytes(std::string(qz::VendorWebAddress)), sbTitle), "sbTitlePanel1");
    web->setFixedWidth(160);
    web->setAlignment(Qt::AlignCenter);
    sbTitle->addWidget(web);

    const std::string contact = "WeChat: " + std::string(qz::VendorSocialAccount) + "  Mail: "
        + std::string(qz::VendorSupportMail) + "  QQ: " + std::string(qz::VendorMessagingNumber);
    auto* contactLine = named(new QLabel(qz::fromBytes(contact), sbTitle), "sbTitlePanel2");
    contactLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sbTitle->addWidget(contactLine, 1);
}

void TfrmMain::btnShowClick()
{
    answerFor(qz::StudyPage);
}

void TfrmMain::btniBeaconClick()
{
    answerFor(qz::BeaconPage);
}

void TfrmMain::btBroadcastClick()
{
    answerFor(qz::BroadcastPage);
}

void TfrmMain::answerFor(std::string_view pageName)
{
    const qz::PageSpec& page = *qz::FindPage(pageName);
    const qz::FieldValues values = valuesOf(page);
    showAnswer(page.generate(values), {&page, values, labels_});
}

void TfrmMain::showAnswer(const qz::GeneratorResult& answer, PageValues page)
{
    if (const auto* rejection = std::get_if<qz::Rejection>(&answer)) {
        qz::ShowNotice(this, rejection->message);
        takeBackActivation();
        const auto control = controls_.find(rejection->field);
        if (control != controls_.end())
            control->second->setFocus();
        return;
    }
    {
        // A stack object: the window is destroyed however this block ends.
        TfrmResult frmResult(this);
        const auto& list = std::get<qz::CommandList>(answer);
        for (const std::string& line : list)
            frmResult.AddLine(line);
        frmResult.SetCommands(list.commands, std::move(page));
        frmResult.exec();
    }
    takeBackActivation();
}

void TfrmMain::takeBackActivation()
{
    // Not every window manager hands activation, and with it the keyboard, back to the
    // owner of a closed box.
    raise();
    activateWindow();
}
