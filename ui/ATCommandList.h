#pragma once

#include <QDialog>

#include <string>

class QGroupBox;
class QPlainTextEdit;
class QPushButton;

// The window that shows one command list, read-only, for the user to copy from.
// Created for one button press, filled, shown modally and destroyed when it closes.
class TfrmResult : public QDialog {
    Q_OBJECT
public:
    TfrmResult();

    // Appends one line and its line break to the end of memLog.
    void AddLine(const std::string& line);

    QGroupBox* GBResult;
    QPushButton* btnOK;
    QPlainTextEdit* memLog;

private slots:
    void btnOKClick();
};
