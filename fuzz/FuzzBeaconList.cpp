#include "BeaconList.h"
#include "FuzzInput.h"

using namespace qz;
using namespace qz::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FieldReader reader(data, size);
    const std::string uuid = reader.next();
    const std::string major = reader.next(40);
    const std::string minor = reader.next(40);

    const GeneratorResult result = BuildBeaconList(uuid, major, minor);
    requireWellFormed(result, 17,
                      {"Please fill in all fields", "Please input correct iBeacon UUID!",
                       "Please input correct iBeacon UUID value!", "Please input correct iBeacon Major value!",
                       "Please input correct iBeacon Minor value!"},
                      {Field::BeaconUUID, Field::BeaconMajor, Field::BeaconMinor});
    if (const auto* lines = std::get_if<CommandList>(&result)) {
        for (int piece = 0; piece < 4; ++piece)
            requireHexParameter((*lines)[static_cast<std::size_t>(6 + 2 * piece)], "AT+IBE" + std::to_string(piece), 8);
        requireHexParameter((*lines)[14], "AT+MARJ0x", 4);
        requireHexParameter((*lines)[16], "AT+MINO0x", 4);
        require((*lines)[14] != "AT+MARJ0x0000" && (*lines)[16] != "AT+MINO0x0000", "values from 1 to 65535");
    }
    requireSameAnswer(result, BuildBeaconList(uuid, major, minor));
    requireAgreement(ExplainBeaconUUID(uuid), BuildBeaconList(uuid, "04D2", "04D3"), Field::BeaconUUID, uuid);

    // The window's explanation of a value refuses exactly what the button refuses.
    if (!TrimField(major).empty()) {
        const bool majorRefused =
            std::get_if<Rejection>(&result) != nullptr && std::get<Rejection>(result).field == Field::BeaconMajor;
        const bool validOthers = !std::holds_alternative<Rejection>(BuildBeaconList(uuid, "0001", minor));
        if (validOthers)
            require(majorRefused == (ExplainBeaconValue(major).reading == ValueReading::Refused),
                    "the explanation agrees with the button", major);
    }
    return 0;
}
