#pragma once

#include <string>
#include <utility>
#include <vector>

// The page a command list came from, in qzconfig's words, so that the send dialog can set
// up several modules, each with its own values: the page's subcommand, its fields' texts
// as the subcommand's options, and the options that can count up from module to module.
struct PageValues {
    std::string subcommand;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> countable;
};
