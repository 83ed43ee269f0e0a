#pragma once

#include "PageValues.h"
#include "SerialLink.h"
#include "ToolStates.h"

#include <QDialog>

#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TConsolePart;
class TSendList;
class TSeveralModules;

// The modal dialog that talks to the module on a serial port. Its port choices (port,
// rate, line ending, reply timeout) serve three tools, each on a page of its own with its
// own buttons and transcript: "Send the list" sends the list to one module, "Several
// modules" sets up one module after another with a record of each, "Console" talks to
// the module and, for a central, discovers and connects. One tool works at a time; the
// others wait. The choices are kept in the user's settings.
class TfrmSend : public QDialog {
    Q_OBJECT
public:
    TfrmSend(const std::vector<std::string>& commands, QWidget* owner, PageValues page = {});
    ~TfrmSend() override;

    QComboBox* cbPort;
    QPushButton* btnRefresh;
    QComboBox* cbBaud;
    QComboBox* cbLineEnding;
    QSpinBox* spnTimeout;
    QTabWidget* tabTools;
    TSendList* sendList;
    TSeveralModules* several; // none for a list that comes from no page: it has no values to vary
    TConsolePart* console;
    QPushButton* btnClose;

protected:
    // Esc, the close box and Close all end here: a link the module holds is ended first,
    // and during a session the user is asked whether to stop it; the dialog closes once
    // it has stopped.
    void reject() override;

private:
    void describeControls();
    void layOut();
    void refreshPorts();
    std::string chosenPort() const;
    SerialLink chosenLink() const;
    // The link for a tool that sends: the choices are kept, and the console gives the port up.
    SerialLink takeLink();
    void restoreChoices();
    void keepChoices() const;
    qz::ui::Activity activity() const;
    bool settingUp() const; // a module is being sent its list, alone or in a batch
    void applyStates();
    void showRate(int baudRate);

    std::vector<std::pair<qz::ui::Control, QWidget*>> controls_;
    bool closeWhenFinished_ = false;
    bool leavingLink_ = false; // closing: the link the module holds ends first
};
