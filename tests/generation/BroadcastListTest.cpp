#include "BroadcastList.h"

#include "ResultHelpers.h"
#include "Vendor.h"

namespace qz {
namespace {

const std::string fillIn = "Please fill in all fields";
const std::string macMessage = "Please input correct MAC value!";
const std::string valueMessage = "Please input correct value!";
const std::string advertMessage = "Please fill in correct advertisiment package";
const std::string scanMessage = "Please fill in correct ScanResponse package";

const std::string address = "000E0B123456";
const std::string advert = "0201060302F0FF";
const std::string scan = "0509414243440302F0FF";

std::string zeros(std::size_t count)
{
    return std::string(count, '0');
}

std::string rightAligned(std::string_view text)
{
    return std::string(57 - text.size(), ' ') + std::string(text);
}

TEST(BroadcastList, WholeListForOneValidInput)
{
    const CommandList expected = {
        "         This function need V7.09 or higher for (QZ-10/11)",
        "         Those AT Command only need be executed once more",
        separator,
        "",
        "AT+RENEW",
        "",
        "AT+NAMEQZ Soft",
        "",
        "AT+ADDR000E0B123456",
        "",
        "AT+Z1" + advert + zeros(8),
        "",
        "AT+Z2" + zeros(22),
        "",
        "AT+Z3" + zeros(22),
        "",
        "AT+Z4" + scan + zeros(2),
        "",
        "AT+Z5" + zeros(22),
        "",
        "AT+Z6" + zeros(22),
        "",
        "AT+RESET",
        "",
        separator,
        rightAligned(VendorWebAddress),
        rightAligned(VendorSupportMail),
        rightAligned("WeChat: " + std::string(VendorSocialAccount)),
    };
    EXPECT_EQ(listOf(BuildBroadcastList(" QZ Soft ", address, advert, scan, false)), expected);
    for (std::size_t trailer = 25; trailer < 28; ++trailer) {
        EXPECT_EQ(expected[trailer].size(), 57u);
        EXPECT_NE(expected[trailer].back(), ' ');
    }
}

struct PackageCase {
    std::string advert;
    std::string scan;
    bool same;
    std::array<std::string, 6> pieces;
};

TEST(BroadcastList, PackagesArePaddedAndCutIntoThreePieces)
{
    const std::string twoStructures = "0F" + std::string(30, 'A') + "0F" + std::string(30, 'B');
    const PackageCase cases[] = {
        // the worked example: "0x" prefix removed, same package twice
        {"0x" + advert, "", true,
         {advert + zeros(8), zeros(22), zeros(22), advert + zeros(8), zeros(22), zeros(22)}},
        {"0X020106", "020106", false,
         {"020106" + zeros(16), zeros(22), zeros(22), "020106" + zeros(16), zeros(22), zeros(22)}},
        {twoStructures, "\t020106 ", false,
         {twoStructures.substr(0, 22), twoStructures.substr(22, 22), twoStructures.substr(44) + "00",
          "020106" + zeros(16), zeros(22), zeros(22)}},
        {"0201060302f0ff", "not hex at all", true,
         {advert + zeros(8), zeros(22), zeros(22), advert + zeros(8), zeros(22), zeros(22)}},
        {"0x0302aabb", "0X0302AABB", false,
         {"0302AABB" + zeros(14), zeros(22), zeros(22), "0302AABB" + zeros(14), zeros(22), zeros(22)}},
    };
    for (const PackageCase& c : cases) {
        const CommandList lines = listOf(BuildBroadcastList("QZSoft", address, c.advert, c.scan, c.same));
        ASSERT_EQ(lines.size(), 28u) << c.advert;
        for (std::size_t piece = 0; piece < 6; ++piece)
            EXPECT_EQ(lines[10 + 2 * piece], "AT+Z" + std::to_string(piece + 1) + c.pieces[piece]) << c.advert;
    }
}

TEST(BroadcastList, RejectionsNameTheirMessageAndField)
{
    const std::string brokenChain = "02010600";
    const struct {
        std::string name;
        std::string address;
        std::string advert;
        std::string scan;
        bool same;
        std::string message;
        Field field;
    } cases[] = {
        // the start state
        {"QZSoft", "", "", "", false, fillIn, Field::DeviceAddress},
        {"   ", address, advert, scan, false, fillIn, Field::DeviceName},
        {"QZ\nSoft", address, advert, scan, false, valueMessage, Field::DeviceName},
        {"QZ\rSoft", address, advert, scan, false, valueMessage, Field::DeviceName},
        // the address: length before characters, tested before upper-casing
        {"QZSoft", "000E0B12345", advert, scan, false, fillIn, Field::DeviceAddress},
        {"QZSoft", "000E0B1234567", advert, scan, false, fillIn, Field::DeviceAddress},
        {"QZSoft", "000e0b123456", advert, scan, false, macMessage, Field::DeviceAddress},
        {"QZSoft", "00:0E:0B:12:3", advert, scan, false, fillIn, Field::DeviceAddress},
        {"QZSoft", "000E0B12345G", "", "", false, macMessage, Field::DeviceAddress},
        // package lengths
        {"QZSoft", address, "0201060", scan, false, fillIn, Field::AdvertPackage},
        {"QZSoft", address, "0201", scan, false, fillIn, Field::AdvertPackage},
        {"QZSoft", address, advert, "", false, fillIn, Field::ScanPackage},
        {"QZSoft", address, advert, "12345", false, fillIn, Field::ScanPackage},
        {"QZSoft", address, "02010G", "", false, fillIn, Field::ScanPackage},
        // characters
        {"QZSoft", address, "0x0x020106", scan, false, valueMessage, Field::AdvertPackage},
        {"QZSoft", address, "02 106", scan, false, valueMessage, Field::AdvertPackage},
        {"QZSoft", address, advert, "02010G", false, valueMessage, Field::ScanPackage},
        {"QZSoft", address, brokenChain, "02010G", false, valueMessage, Field::ScanPackage},
        {"QZSoft", address, "020106x0", scan, false, valueMessage, Field::AdvertPackage},
        // structures
        {"QZSoft", address, "0x0201", scan, false, advertMessage, Field::AdvertPackage},
        {"QZSoft", address, brokenChain, brokenChain, false, advertMessage, Field::AdvertPackage},
        {"QZSoft", address, advert, brokenChain, false, scanMessage, Field::ScanPackage},
        {"QZSoft", address, "1F" + std::string(60, '0'), scan, true, advertMessage, Field::AdvertPackage},
        // same: the scan-response text is not looked at, whatever it holds
        {"QZSoft", address, brokenChain, "", true, advertMessage, Field::AdvertPackage},
        {"QZSoft", address, "02010G", "zz", true, valueMessage, Field::AdvertPackage},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rejectionOf(BuildBroadcastList(c.name, c.address, c.advert, c.scan, c.same)),
                  (Rejection{c.message, c.field}))
            << c.name << " / " << c.address << " / " << c.advert << " / " << c.scan << " / " << c.same;
    }
}

} // namespace
} // namespace qz
