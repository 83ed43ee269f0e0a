#pragma once

#include "PageValues.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class TfrmSend;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

// The window that shows one command list, read-only, for the user to copy from.
// Created for one button press, filled, shown modally and destroyed when it closes.
// Shown transient for its owner, so that it stays above it and is never minimised alone.
class TfrmResult : public QDialog {
    Q_OBJECT
public:
    explicit TfrmResult(QWidget* owner);
    ~TfrmResult() override;

    // Appends one line and its line break to the end of memLog.
    void AddLine(const std::string& line);
    // The commands that "Send to Module..." offers, in order, and the page they came from.
    void SetCommands(std::vector<std::string> commands, PageValues page = {});

    QGroupBox* GBResult;
    QPushButton* btnOK;
    QPlainTextEdit* memLog;
    QPushButton* btnSend;

private slots:
    void btnOKClick();
    void btnSendClick();

private:
    std::vector<std::string> commands_;
    PageValues page_;
    // Made at the first "Send to Module...": opened again, it shows the last session.
    std::unique_ptr<TfrmSend> frmSend_;
};
