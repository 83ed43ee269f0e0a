#include "BroadcastList.h"
#include "FuzzInput.h"
#include "PackageDecoder.h"

using namespace qz;
using namespace qz::fuzz;

// decode's verdict is the broadcast button's on every text the package field can hold.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t fieldLength = 64;
    const std::string text(reinterpret_cast<const char*>(data), std::min(size, fieldLength));
    const DecodedPackage package = DecodePackage(text);
    const bool buttonTakes =
        std::holds_alternative<CommandList>(BuildBroadcastList("QZSoft", "000E0B123456", text, "", true));
    require(package.accepted == buttonTakes, "decode agrees with the broadcast button", text);
    require(package.accepted == package.problem.empty(), "a refusal says why, and only a refusal", text);

    std::string raw;
    for (const DecodedStructure& structure : package.structures)
        raw += structure.raw;
    require(package.digits.compare(0, raw.size(), raw) == 0, "the structures are the package's bytes in order", text);
    if (package.accepted)
        require(raw == package.digits, "an accepted package is all structures", text);
    for (const std::string& line : DescribePackage(package))
        require(line.find_first_of("\r\n") == std::string::npos, "no line break inside a line", line);
    return 0;
}
