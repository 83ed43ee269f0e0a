#pragma once

#include "PageModel.h"

#include <map>
#include <string>

// The page a command list came from, so that the send dialog can set up several modules,
// each with its own values: the page, its fields' values as they stood, and what the
// window calls each field (its box's caption), for the dialog's words.
struct PageValues {
    const qz::PageSpec* page = nullptr;
    qz::FieldValues values;
    std::map<qz::Field, std::string> labels;
};
