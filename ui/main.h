#pragma once

#include "PageModel.h"
#include "PageValues.h"

#include <QMainWindow>

#include <map>
#include <string_view>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;

namespace qz {
class FieldMark;
}

// The main window: three tab pages, each with its fields and one button that hands the
// fields to a generator and shows the answer.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    TfrmMain();

    QTabWidget* MainPage;
    QStatusBar* sbTitle;

    QWidget* tbStudy;
    QComboBox* cbUUIDType;
    QLineEdit* edtCharNotify;
    QLineEdit* edtCharWrite;
    QPushButton* btnShow;

    QWidget* tabBeacon;
    QLineEdit* edtiBeaconUUID;
    QLineEdit* edtiBeaconMajor;
    QLineEdit* edtiBeaconMinor;
    QPushButton* btniBeacon;

    QWidget* TabSheet1;
    QLineEdit* edtDeviceName;
    QLineEdit* edtDeviceAddress;
    QLineEdit* edtAdvert;
    QLineEdit* edtScan;
    QCheckBox* cbSame;
    QPushButton* btBroadcast;

private slots:
    void btnShowClick();
    void btniBeaconClick();
    void btBroadcastClick();

private:
    void FormCreate();

    void createStudyPage();
    void createBeaconPage();
    void createBroadcastPage();
    void createStatusBar();

    // A 72-high group box holding one edit and the hint under it. The edit's initial text
    // and limit are its field's.
    struct FieldBox {
        qz::Field field;
        const char* boxName;
        const char* caption;
        const char* editName;
        const char* hintName;
        const char* hint;
    };
    QLineEdit* addFieldBox(QWidget* page, const FieldBox& fieldBox);
    static const qz::FieldSpec& fieldSpec(qz::Field field);
    // The one table from a page's field to its control, and what the window calls it.
    void addControl(qz::Field field, QWidget* control, const QString& label);
    qz::FieldValues valuesOf(const qz::PageSpec& page) const;
    void answerFor(std::string_view pageName);
    void showAnswer(const qz::GeneratorResult& answer, PageValues page);
    void takeBackActivation();
    // The marks that explain, as the user types, how each field will be read.
    void addExplanationMarks();
    void updateMarks(const qz::PageSpec& page);

    std::map<qz::Field, QWidget*> controls_;
    std::map<qz::Field, std::string> labels_;
    std::map<qz::Field, qz::FieldMark*> marks_;
};
