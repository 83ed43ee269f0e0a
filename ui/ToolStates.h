#pragma once

// Which of the send dialog's controls can be used, decided in one place for every tool:
// the dialog does one thing at a time, and what it is doing says what else may be touched.

namespace qz::ui {

// What the dialog is doing now; at most one tool is busy at a time.
enum class Activity {
    Idle,
    Sending,   // the list goes to one module
    Listening, // the module that took the list is listened for over the air
    Batch,     // several modules are being set up
    Talking,   // the console waits for the module: a reply, a scan, a link made or ended
    Connected, // the module holds a link; the console passes bytes to the far device
};

// What else a control's use depends on.
struct Facts {
    bool listSetUp = false;      // the last send of the list ended well
    bool canListen = false;      // something here can listen over the air
    bool deviceChosen = false;   // a row of the console's discovery is chosen
    bool oneSwappedPort = false; // exactly one port of the batch waits for Next module
    bool valuesFromFile = false; // the batch takes each module's values from a file
};

enum class Control {
    PortChoices, // port, rate, line ending, reply timeout
    SendTool,
    BatchTool,
    ConsoleTool,
    Send,
    Verify,
    SendStop,
    BatchChoices,
    ModuleCount,
    ValuesFile,
    VerifyEach,
    BatchStart,
    BatchStop,
    NextModule,
    ConsoleSend,
    ConsoleStop,
    Discover,
    Connect,
    Disconnect,
};

bool Enabled(Control control, Activity activity, const Facts& facts);

} // namespace qz::ui
