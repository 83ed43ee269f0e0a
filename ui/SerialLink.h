#pragma once

#include "SendSession.h"

#include <functional>
#include <string>

// The port and settings the send dialog's choices name, as they stand when a tool asks.
struct SerialLink {
    std::string port; // empty: none chosen
    qz::serial::SessionSettings settings;
};

// Gives a tool the link to use now; the dialog frees the port from whoever held it first.
using TakeLink = std::function<SerialLink()>;
