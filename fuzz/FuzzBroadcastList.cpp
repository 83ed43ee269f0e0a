#include "BroadcastList.h"
#include "FuzzInput.h"

using namespace qz;
using namespace qz::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FieldReader reader(data, size);
    const bool same = (reader.nextByte() & 1) != 0;
    // The name and the address may run long; the packages keep to the 64 characters that
    // their edits hold, because the padding relies on it.
    const std::string name = reader.next();
    const std::string address = reader.next(40);
    const std::string advert = reader.next(64);
    const std::string scan = reader.next(64);

    const GeneratorResult result = BuildBroadcastList(name, address, advert, scan, same);
    requireWellFormed(result, 28,
                      {"Please fill in all fields", "Please input correct MAC value!", "Please input correct value!",
                       "Please fill in correct advertisiment package", "Please fill in correct ScanResponse package"},
                      {Field::DeviceName, Field::DeviceAddress, Field::AdvertPackage, Field::ScanPackage});
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        require(!same || rejection->field != Field::ScanPackage, "a scan response that is the same is never tested");
    } else {
        const CommandList& lines = std::get<CommandList>(result);
        requireHexParameter(lines[8], "AT+ADDR", 12);
        for (int piece = 0; piece < 6; ++piece)
            requireHexParameter(lines[static_cast<std::size_t>(10 + 2 * piece)], "AT+Z" + std::to_string(piece + 1), 22);
        if (same) {
            for (std::size_t piece = 0; piece < 3; ++piece)
                require(lines[10 + 2 * piece].substr(5) == lines[16 + 2 * piece].substr(5), "same package twice");
        }
    }
    requireSameAnswer(result, BuildBroadcastList(name, address, advert, scan, same));
    requireAgreement(ExplainDeviceName(name), BuildBroadcastList(name, "000E0B123456", "020106", "", true),
                     Field::DeviceName, name);
    requireAgreement(ExplainDeviceAddress(address), BuildBroadcastList("Lamp", address, "020106", "", true),
                     Field::DeviceAddress, address);
    return 0;
}
