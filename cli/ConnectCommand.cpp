#include "Subcommands.h"

#include "Options.h"
#include "Output.h"

namespace qz::cli {

namespace {

struct ConnectOptions {
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> lineEnding;
    std::optional<std::string> to;
    std::optional<std::string> type;
    std::optional<std::string> linger;
};

const std::vector<OptionSpec>& connectOptions()
{
    static const std::vector<OptionSpec> options = [] {
        std::vector<OptionSpec> made = talkPortOptions();
        made.insert(made.begin() + 1, {"to", OptionKind::Device, 0, "",
                                       "the device: its address, its number in the last discover, or its name"});
        made.push_back({"type", OptionKind::DeviceType, 0, "",
                        "the device's type as discover shows it; with an address, no discovery"});
        made.push_back({"linger", OptionKind::Seconds, 0, "",
                        "seconds to wait for the device's answer after the end of input, 0 to 600; default: 1"});
        return made;
    }();
    return options;
}

const std::vector<Member<ConnectOptions>>& connectMembers()
{
    using O = ConnectOptions;
    static const std::vector<Member<O>> members = {
        {"port", &O::port}, {"baud", &O::baud},      {"line-ending", &O::lineEnding},
        {"to", &O::to},     {"type", &O::type},      {"linger", &O::linger}};
    return members;
}

bool isDeviceNumber(const std::string& text)
{
    return !text.empty() && text.size() <= 3 && AllDecimalDigits(text) && DecimalValue(text) >= 1
        && DecimalValue(text) <= serial::MostDevices;
}

// A device type is one visible character, as the module writes it.
bool isDeviceType(const std::string& text)
{
    return text.size() == 1 && text[0] > ' ' && text[0] < 127;
}

} // namespace

Outcome RunConnectCommand(const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(connectOptions(), name); }, "connect",
        talkUsage("connect", connectOptions(),
                  "Connects the module on the port, a central once it took the study page's list,\n"
                  "to a device with AT+CO. --to names the device by its number in the last\n"
                  "discover on the port (kept 10 minutes; run discover first), by its address or\n"
                  "by its name; an address or a name not in the last discovery is looked for by\n"
                  "a new one, unless --type is given with an address. Connecting names the\n"
                  "device: address, type and name. Once connected, the module passes bytes\n"
                  "through: standard input goes to the device as it is, and the device's bytes\n"
                  "come out on standard output, until the end of input (exit status 0), and\n"
                  "--linger seconds after it for the device's answer, or Ctrl-C (130); then the\n"
                  "link is ended (a lone AT, which the module answers OK+LOST), and qzconfig says\n"
                  "whether the module confirmed it. Exit status 4 when the device was not found,\n"
                  "the module was silent or did not connect, 3 when the port failed, 2 for a\n"
                  "number without a discover.\n"));
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const ConnectOptions options = Filled(std::get<ParsedOptions>(parsed).values, connectMembers());
    const PortSettingsOptions settings{options.baud, options.lineEnding, std::nullopt};
    if (std::optional<Printed> problem = talkPortProblem("connect", options.port, settings))
        return *problem;
    const std::string see = seeHelpOf("connect");
    if (!options.to)
        return usageError("connect needs --to=ADDRESS, --to=NUMBER or --to=NAME, the device to connect to" + see);
    const bool lingerGiven = options.linger.has_value();
    if (lingerGiven && *options.linger != "0" && !isListeningSeconds(*options.linger))
        return usageError("--linger must be a number of seconds from 0 to 600, not '" + printable(*options.linger) + "'"
                          + see);
    ConnectRequest request;
    request.port = *options.port;
    if (lingerGiven)
        request.linger = std::chrono::seconds(DecimalValue(*options.linger));
    request.settings = portSettings(settings);
    if (const std::optional<std::string> address = AddressDigitsOf(*options.to))
        request.address = *address;
    else if (isDeviceNumber(*options.to))
        request.number = DecimalValue(*options.to);
    else if (!options.to->empty() && !AllDecimalDigits(*options.to))
        request.name = *options.to;
    else
        return usageError("--to must be a device's address (12 hex digits, like 00:17:EA:09:43:AE), its number in "
                          "the last discovery, 1 to " + std::to_string(serial::MostDevices) + ", or its name, not '"
                          + printable(*options.to) + "'" + see);
    if (options.type) {
        if (!isDeviceType(*options.type))
            return usageError("--type must be one character, the device's type as discover shows it, not '"
                              + printable(*options.type) + "'" + see);
        if (request.address.empty())
            return usageError("--type goes with an address in --to; a number or a name takes its type from the discovery"
                              + see);
        request.type = (*options.type)[0];
    }
    return request;
}

} // namespace qz::cli
