#include "Subcommands.h"

#include "Output.h"

namespace qz::cli {

std::string PortsHelp()
{
    return "\n"
           "Finding the module's port:\n"
           "  ports      the serial ports on this computer, one per line, USB adapters\n"
           "             first: the name to give --port, then the adapter's description,\n"
           "             its USB vendor:product and its serial number, where it has them\n";
}

Outcome RunPortsCommand(const std::vector<std::string_view>& args)
{
    if (args.size() > 1 && isHelpRequest(args[1]))
        return printed("Usage: qzconfig ports\n" + PortsHelp());
    if (args.size() > 1)
        return usageError("ports: unexpected argument '" + printable(args[1]) + "' (see qzconfig --help)");
    return ListPorts{};
}

} // namespace qz::cli
