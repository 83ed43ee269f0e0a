#include "Decode.h"

#include "Output.h"
#include "PackageDecoder.h"
#include "PageModel.h"

#include <nlohmann/json.hpp>

namespace qz::cli {

std::string DecodeHelp()
{
    return "\n"
           "Explaining a package:\n"
           "  decode TEXT [--json]\n"
           "             the structures of one advertising or scan-response package, as\n"
           "             the broadcast page reads it (trimmed, an optional 0x, either\n"
           "             case, at most 64 bytes), each with its raw bytes and its meaning;\n"
           "             or why the broadcast button would refuse it, and where. Exit\n"
           "             status 0 or 1 as the button would take it or refuse it. UUIDs\n"
           "             are shown in their usual written form, although a package\n"
           "             carries them little-endian. --json prints one JSON object.\n";
}

namespace {

// As long as the broadcast page's package fields allow.
std::size_t longestPackageText()
{
    return FindField(*FindPage(BroadcastPage), Field::AdvertPackage)->maxBytes;
}

nlohmann::json fieldJson(const DecodedField& field)
{
    nlohmann::json value = {{"key", field.key}, {"value", field.value}};
    if (field.number)
        value["number"] = *field.number;
    return value;
}

std::string packageJson(const DecodedPackage& package)
{
    nlohmann::json structures = nlohmann::json::array();
    for (const DecodedStructure& structure : package.structures) {
        nlohmann::json fields = nlohmann::json::array();
        for (const DecodedField& field : structure.fields)
            fields.push_back(fieldJson(field));
        structures.push_back({{"position", structure.position},
                              {"length", structure.length},
                              {"type", structure.type},
                              {"name", structure.name},
                              {"raw", structure.raw},
                              {"meaning", structure.meaning()},
                              {"fields", fields}});
    }
    const nlohmann::json document = {
        {"accepted", package.accepted},
        {"problem", package.accepted ? nlohmann::json() : nlohmann::json(package.problem)},
        {"digits", package.digits},
        {"bytes", package.byteCount},
        {"packetBytes", AdvertisingPacketBytes},
        {"structures", structures},
        {"warnings", package.warnings},
    };
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace

Outcome RunDecode(const std::vector<std::string_view>& args)
{
    const std::string seeDecodeHelp = " (see qzconfig decode --help)";
    std::optional<std::string_view> text;
    bool json = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (isHelpRequest(args[i]))
            return printed("Usage: qzconfig decode TEXT [--json]\n" + DecodeHelp());
        if (args[i] == "--json")
            json = true;
        else if (args[i].substr(0, 2) == "--")
            return usageError("decode: unknown option '" + printable(args[i]) + "'" + seeDecodeHelp);
        else if (text)
            return usageError("decode: one package at a time, not '" + printable(args[i]) + "' too" + seeDecodeHelp);
        else
            text = args[i];
    }
    if (!text)
        return usageError("decode needs the package text" + seeDecodeHelp);
    if (text->size() > longestPackageText())
        return usageError("decode: the package is " + std::to_string(text->size())
                          + " bytes long; its field holds at most " + std::to_string(longestPackageText())
                          + seeDecodeHelp);
    const DecodedPackage package = DecodePackage(*text);
    std::string out = json ? packageJson(package) : joinedLines(DescribePackage(package));
    if (package.accepted)
        return printed(std::move(out));
    return Printed{Refused, std::move(out), "qzconfig: decode: " + package.problem + "\n"};
}

} // namespace qz::cli
