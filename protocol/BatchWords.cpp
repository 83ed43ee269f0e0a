#include "BatchWords.h"

namespace qz::batch {

std::string ModuleOnWords(std::string_view port, std::string_view values)
{
    return "Module on " + std::string(port) + ": " + std::string(values);
}

std::string UntoldWords(std::string_view why)
{
    return "The module did not tell its own address (" + std::string(why) + "): the record cannot tell it from another";
}

std::string SentNothingWords(std::string_view why)
{
    return "Sent nothing: " + std::string(why);
}

std::string PortUnopenedWords(std::string_view port, std::string_view why)
{
    return "Cannot open " + std::string(port) + ": " + std::string(why) + "; trying again every second";
}

std::string HeldWords(std::string_view port, KnownModules::State state)
{
    const std::string on = std::string(port);
    switch (state) {
    case KnownModules::State::Carrying: return "The record shows a module on " + on + " that failed, carrying its values";
    case KnownModules::State::Started:
        return "The record shows a module on " + on
            + " that was being set up when the batch stopped, carrying its values";
    case KnownModules::State::SetUp: break;
    }
    return "The record shows a module set up on " + on;
}

std::string LeftOutWords(std::size_t carried, std::string_view retryOption)
{
    return "The record shows " + std::to_string(carried)
        + " more taken by modules that failed or were cut short: they are left out, as those modules may carry them; "
          "once they are back on the bench, "
        + std::string(retryOption) + " sets them up again";
}

std::string InProgressWords(std::size_t units)
{
    return "The record shows " + std::to_string(units) + " more being set up on other benches now";
}

std::string LineCountsWords(int claimed, int total, int setUp, int failed, int cutShort, int inProgress)
{
    std::string counts = std::to_string(claimed) + " of " + std::to_string(total) + " claimed, " + std::to_string(setUp)
        + " set up, " + std::to_string(failed) + " failed";
    if (cutShort > 0)
        counts += ", " + std::to_string(cutShort) + " cut short (their modules may carry them)";
    if (inProgress > 0)
        counts += ", " + std::to_string(inProgress) + " in progress";
    return counts;
}

std::string CarriedElsewhereWords(std::string_view values, std::string_view carrier)
{
    return std::string(values) + " is carried by " + std::string(carrier) + ": put it on to finish it";
}

std::string UnknownCarrierWords(std::string_view values)
{
    return std::string(values) + " was left carried by a module that did not tell its address: this module takes it, "
                                 "as retrying the failed modules asks";
}

} // namespace qz::batch
