#include "PackageDecoder.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

std::vector<std::string> meanings(const DecodedPackage& package)
{
    std::vector<std::string> lines;
    for (const DecodedStructure& structure : package.structures)
        lines.push_back(structure.meaning());
    return lines;
}

TEST(PackageDecoder, NamesAndDecodesTheStructuresOfRealPackages)
{
    struct Case {
        std::string text;
        std::vector<std::string> meanings;
    };
    const Case cases[] = {
        {"0x0201060B09 4B6974636865 6E2031", {}}, // a space inside is no hex digit: see the refusals
        {" 0x0201060302f0ff ",
         {"Flags: LE General Discoverable Mode, BR/EDR Not Supported",
          "Incomplete List of 16-bit Service Class UUIDs: FFF0"}},
        {"0201050A094B697463686520310A020CAB",
         {"Flags: LE Limited Discoverable Mode, BR/EDR Not Supported", "Complete Local Name: Kitche 1\\x0A",
          "Unknown type 0x0C: data AB"}},
        {"1AFF4C000215FDA50693A4E24FB1AFCFC6EB0764782504D204D3C5",
         {"Manufacturer Specific Data: company 0x004C (Apple, Inc.), iBeacon, uuid "
          "FDA50693-A4E2-4FB1-AFCF-C6EB07647825, major 1234, minor 1235, measured power -59 dBm"}},
        {"1516AAFE00EE00112233445566778899AABBCCDDEEFF",
         {"Service Data - 16-bit UUID: uuid FEAA, Eddystone-UID, tx power at 0 m -18 dBm, namespace "
          "00112233445566778899, instance AABBCCDDEEFF"}},
        {"0D16AAFE10F8016B617672656C07",
         {"Service Data - 16-bit UUID: uuid FEAA, Eddystone-URL, tx power at 0 m -8 dBm, url https://www.kavrel.com"}},
        {"1107FB349B5F8000008000100000E0FF00000503E0FFF0FF",
         {"Complete List of 128-bit Service Class UUIDs: 0000FFE0-0000-1000-8000-00805F9B34FB",
          "Complete List of 16-bit Service Class UUIDs: FFE0, FFF0"}},
        {"020AF40319C103081B5634120B0E0000",
         {"Tx Power Level: tx power -12 dBm", "Appearance: appearance 0x03C1, Human Interface Device, subcategory 1",
          "LE Bluetooth Device Address: 00:0E:0B:12:34:56 (public)" }},
    };
    for (const Case& c : cases) {
        const DecodedPackage package = DecodePackage(c.text);
        if (c.meanings.empty()) {
            EXPECT_FALSE(package.accepted) << c.text;
            continue;
        }
        EXPECT_TRUE(package.accepted) << c.text << ": " << package.problem;
        EXPECT_EQ(meanings(package), c.meanings) << c.text;
    }
}

TEST(PackageDecoder, ExplainsEachKindOfRefusalWithItsPosition)
{
    struct Case {
        std::string text;
        std::string problem;
        std::size_t structuresBefore;
    };
    const Case cases[] = {
        {"   ", "the package is empty", 0},
        {"0x02", "too short: 4 characters, and a package needs at least 6 (3 bytes)", 0},
        {"0201060", "an odd number of digits (7): every byte takes two", 0},
        {"0x0201G6", "character 7 ('G') is not a hex digit", 0},
        {"0201 6", "character 5 (' ') is not a hex digit", 0},
        {"0x0201", "byte 1: length 0x02 runs past the end of the 2 bytes", 0},
        {"02010600", "byte 4: length 0x00 is below 2; a structure holds its type and at least one byte", 1},
        {"0201060302F0FF1F09414243", "byte 8: length 0x1F is above 30 (0x1E), the longest a structure may be", 2},
        {"0201060302F0FF0509414243", "byte 8: length 0x05 runs past the end of the 12 bytes", 2},
    };
    for (const Case& c : cases) {
        const DecodedPackage package = DecodePackage(c.text);
        EXPECT_FALSE(package.accepted) << c.text;
        EXPECT_EQ(package.problem, c.problem) << c.text;
        EXPECT_EQ(package.structures.size(), c.structuresBefore) << c.text;
    }
}

TEST(PackageDecoder, DescribesAPackageWithItsRawBytesAndWarnsPast31Bytes)
{
    EXPECT_EQ(DescribePackage(DecodePackage("0201060302F0FF")),
              (std::vector<std::string>{
                  "0201060302F0FF: 7 of 31 bytes, 2 structures",
                  "  byte 1  02 01 06    Flags: LE General Discoverable Mode, BR/EDR Not Supported",
                  "  byte 4  03 02 F0FF  Incomplete List of 16-bit Service Class UUIDs: FFF0",
              }));
    const DecodedPackage full = DecodePackage("0F" + std::string(30, 'A') + "0F" + std::string(30, 'B'));
    EXPECT_TRUE(full.accepted);
    EXPECT_EQ(full.byteCount, 32u);
    EXPECT_EQ(full.warnings,
              std::vector<std::string>{"warning: 32 bytes, but one advertising packet holds 31; the module is sent all of them"});
    EXPECT_TRUE(DecodePackage("0F" + std::string(60, 'A')).warnings.empty());
}

} // namespace
} // namespace qz
