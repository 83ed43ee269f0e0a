#include "AirWords.h"

#include "FieldRules.h"
#include "Output.h"
#include "StandardStreams.h"

#include <nlohmann/json.hpp>

namespace qz::cli {

namespace {

std::string resultName(air::CheckResult result)
{
    switch (result) {
    case air::CheckResult::Matched: return "matched";
    case air::CheckResult::Differed: return "differs";
    case air::CheckResult::Unconfirmed: return "not confirmed";
    case air::CheckResult::Extra: return "not in the list";
    case air::CheckResult::NotShown: break;
    }
    return "not shown";
}

// Text from the air is anybody's bytes: JSON takes only valid UTF-8.
std::string jsonText(const std::string& text)
{
    return printable(text);
}

template <typename T>
nlohmann::json optionalJson(const std::optional<T>& value)
{
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json deviceJson(const air::HeardDevice& device)
{
    nlohmann::json made{{"address", device.address},
                        {"name", device.name ? nlohmann::json(jsonText(*device.name)) : nlohmann::json(nullptr)},
                        {"name_remembered", air::NameMaybeRemembered(device)},
                        {"rssi", optionalJson(device.rssi)},
                        {"tx_power", optionalJson(device.txPower)},
                        {"flags", device.flags ? nlohmann::json(air::HexOfBytes(*device.flags)) : nlohmann::json(nullptr)},
                        {"appearance", optionalJson(device.appearance)}};
    nlohmann::json manufacturer = nlohmann::json::object();
    for (const auto& [company, data] : device.manufacturerData.value_or(std::map<std::uint16_t, air::Bytes>()))
        manufacturer[HexText(company, 4)] = air::HexOfBytes(data);
    nlohmann::json service = nlohmann::json::object();
    for (const auto& [uuid, data] : device.serviceData.value_or(std::map<std::string, air::Bytes>()))
        service[jsonText(uuid)] = air::HexOfBytes(data);
    nlohmann::json other = nlohmann::json::object();
    for (const auto& [type, data] : device.advertisingData.value_or(std::map<std::uint8_t, air::Bytes>()))
        other[HexText(type, 2)] = air::HexOfBytes(data);
    nlohmann::json uuids = nlohmann::json::array();
    for (const std::string& uuid : device.uuids.value_or(std::vector<std::string>()))
        uuids.push_back(jsonText(uuid));
    made["manufacturer_data"] = manufacturer;
    made["service_data"] = service;
    made["uuids"] = uuids;
    made["advertising_data"] = other;
    nlohmann::json structures = nlohmann::json::array();
    const std::vector<std::string> lines = air::DescribeDevice(device);
    for (std::size_t i = 1; i < lines.size(); ++i)
        structures.push_back(jsonText(lines[i].substr(2)));
    made["structures"] = structures;
    return made;
}

} // namespace

std::string AirVerdictText(const air::Verdict& verdict, int seconds, bool json)
{
    if (!json) {
        std::string text;
        for (const std::string& line : air::DescribeVerdict(verdict))
            text += printable(line) + "\n";
        return text;
    }
    nlohmann::json checks = nlohmann::json::array();
    for (const air::Check& check : verdict.checks)
        checks.push_back({{"result", resultName(check.result)},
                          {"what", check.what},
                          {"expected", jsonText(check.expected)},
                          {"heard", jsonText(check.heard)},
                          {"by_pattern", check.byPattern}});
    const nlohmann::json made{{"outcome", air::OutcomeName(verdict.outcome)},
                              {"summary", jsonText(air::VerdictSummary(verdict))},
                              {"address", verdict.address.empty() ? nlohmann::json(nullptr) : nlohmann::json(verdict.address)},
                              {"name", verdict.name ? nlohmann::json(jsonText(*verdict.name)) : nlohmann::json(nullptr)},
                              {"rssi", optionalJson(verdict.rssi)},
                              {"checks", checks},
                              {"shown", verdict.shown},
                              {"notes", verdict.notes},
                              {"restart_needed", verdict.restartNeeded},
                              {"seconds", seconds}};
    return made.dump(2) + "\n";
}

std::string CannotListenText(const std::string& why, bool json)
{
    if (!json)
        return "qzconfig: cannot listen over the air: " + why + "\n";
    const nlohmann::json made{{"outcome", "cannot listen"}, {"verdict", "cannot listen"}, {"reason", jsonText(why)}};
    return made.dump(2) + "\n";
}

int TellCannotListen(const std::string& why, bool json)
{
    const std::string text = CannotListenText(why, json);
    if (json)
        WriteOut(text);
    else
        WriteErr(text);
    return SendFailed;
}

std::string ScanText(const std::vector<air::HeardDevice>& devices, int seconds, bool json)
{
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const air::HeardDevice& device : devices)
            list.push_back(deviceJson(device));
        return list.dump(2) + "\n";
    }
    if (devices.empty())
        return "No device was heard in " + std::to_string(seconds) + " s.\n";
    std::string text;
    for (const air::HeardDevice& device : devices) {
        for (const std::string& line : air::DescribeDevice(device))
            text += printable(line) + "\n";
    }
    return text;
}

} // namespace qz::cli
