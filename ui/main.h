#pragma once

#include "FieldExplanations.h"
#include "FieldRules.h"
#include "PageValues.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <string_view>
#include <utility>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void btnShowClick();
    void btniBeaconClick();
    void btBroadcastClick();

private:
    void FormCreate();
    void edtCharNotifyKeyPress(QKeyEvent* key);

    void createStudyPage();
    void createBeaconPage();
    void createBroadcastPage();
    void createStatusBar();

    // A 72-high group box holding one edit and the hint under it.
    struct FieldBox {
        const char* boxName;
        const char* caption;
        const char* editName;
        const char* text;
        int maxLength;
        qz::Field field;
        const char* hintName;
        const char* hint;
    };
    QLineEdit* addFieldBox(QWidget* page, const FieldBox& fieldBox);
    void showAnswer(const qz::GeneratorResult& answer, PageValues page);
    void takeBackActivation();
    // The marks that explain, as the user types, how each field will be read.
    using Explainer = std::function<qz::FieldExplanation(std::string_view)>;
    void addExplanationMarks();
    void updateMark(QLineEdit* edit);

    std::map<qz::Field, QLineEdit*> editsByField_;
    std::map<QLineEdit*, std::pair<qz::FieldMark*, Explainer>> marks_;
};
