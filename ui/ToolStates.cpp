#include "ToolStates.h"

#include <initializer_list>

namespace qz::ui {

namespace {

using A = Activity;
using C = Control;

bool always(const Facts&) { return true; }

struct Rule {
    Control control;
    std::initializer_list<Activity> while_; // what the dialog may be doing
    bool (*also)(const Facts&) = always;
};

// A tool's page stays open while it works, and the others wait: they share the port, or
// would hide what it is doing.
const Rule rules[] = {
    {C::PortChoices, {A::Idle}},
    {C::SendTool, {A::Idle, A::Sending, A::Listening}},
    {C::BatchTool, {A::Idle, A::Batch}},
    {C::ConsoleTool, {A::Idle, A::Talking, A::Connected}},
    {C::Send, {A::Idle}},
    {C::Verify, {A::Idle}, [](const Facts& f) { return f.listSetUp && f.canListen; }},
    {C::SendStop, {A::Sending, A::Listening}},
    {C::BatchChoices, {A::Idle}},
    {C::ModuleCount, {A::Idle}, [](const Facts& f) { return !f.valuesFromFile; }},
    {C::ValuesFile, {A::Idle}, [](const Facts& f) { return f.valuesFromFile; }},
    {C::VerifyEach, {A::Idle}, [](const Facts& f) { return f.canListen; }},
    {C::BatchStart, {A::Idle}},
    {C::BatchStop, {A::Batch}},
    {C::NextModule, {A::Batch}, [](const Facts& f) { return f.oneSwappedPort; }},
    // Typed while a reply is awaited, a line waits in the field for it.
    {C::ConsoleSend, {A::Idle, A::Connected}},
    {C::ConsoleStop, {A::Talking}},
    {C::Discover, {A::Idle}},
    {C::Connect, {A::Idle}, [](const Facts& f) { return f.deviceChosen; }},
    {C::Disconnect, {A::Connected}},
};

} // namespace

bool Enabled(Control control, Activity activity, const Facts& facts)
{
    for (const Rule& rule : rules) {
        if (rule.control != control)
            continue;
        for (Activity allowed : rule.while_) {
            if (allowed == activity)
                return rule.also(facts);
        }
        return false;
    }
    return false;
}

} // namespace qz::ui
