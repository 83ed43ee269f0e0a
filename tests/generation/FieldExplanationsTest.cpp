// Each field's explanation: its verdict, which must be the button's, and its words.

#include "BeaconList.h"
#include "BroadcastList.h"
#include "FieldExplanations.h"
#include "StudyList.h"

#include <gtest/gtest.h>

#include <functional>

namespace qz {
namespace {

using Explain = std::function<FieldExplanation(std::string_view)>;

const Explain shortCharacteristic = [](std::string_view text) { return ExplainCharacteristic(UUIDType16Bit, text); };
const Explain longCharacteristic = [](std::string_view text) { return ExplainCharacteristic(UUIDType128Bit, text); };

TEST(FieldExplanations, SayHowEachFieldIsReadAndWhatToMend)
{
    struct Case {
        const char* field;
        Explain explain;
        std::string text;
        FieldVerdict verdict;
        std::string words;
    };
    const Case cases[] = {
        {"16-bit", shortCharacteristic, " ffe1", FieldVerdict::Taken, "read as the 16-bit UUID FFE1, sent as 0xFFE1"},
        {"16-bit", shortCharacteristic, "FF-E1", FieldVerdict::Notice,
         "read as the 16-bit UUID FFE1, sent as 0xFFE1: the dashes are left out wherever they stand"},
        {"16-bit", shortCharacteristic, "FFE", FieldVerdict::Refused, "a 16-bit UUID needs 4 hex digits, this has 3"},
        {"16-bit", shortCharacteristic, "0000", FieldVerdict::Refused, "0000 is no UUID: a 16-bit UUID is from 0001 to FFFF"},
        {"16-bit", shortCharacteristic, "0000FFE1-0000-1000-8000-00805F9B34FB", FieldVerdict::Refused,
         "a 128-bit UUID, and the UUID type is 16 bit: choose the 128-bit type, or type its 4 digits (FFE1)"},
        {"16-bit", shortCharacteristic, "FF:E1", FieldVerdict::Refused,
         "\":\" is not a hex digit: a UUID holds the digits 0 to 9 and A to F, with dashes or nothing between them"},
        // An empty field says what to type in it.
        {"16-bit", shortCharacteristic, " \t", FieldVerdict::Refused, "empty: type the UUID's 4 hex digits, like FFE1"},
        {"128-bit", longCharacteristic, "", FieldVerdict::Refused,
         "empty: type the UUID's 32 hex digits, like 0000FFE0-0000-1000-8000-00805F9B34FB"},
        {"iBeacon UUID", ExplainBeaconUUID, " ", FieldVerdict::Refused,
         "empty: type the UUID's 32 hex digits, like 0000FFE0-0000-1000-8000-00805F9B34FB"},
        {"major", ExplainBeaconNumber, "", FieldVerdict::Refused,
         "empty: type four hex digits (04D2) or five decimal digits (01234)"},
        {"name", ExplainDeviceName, "", FieldVerdict::Refused, "empty: type the name to advertise, up to 15 bytes"},
        {"package", ExplainPackage, " ", FieldVerdict::Refused,
         "empty: type the package in hex, up to 31 bytes, like 0201060302F0FF"},
        {"128-bit", longCharacteristic, "0000ffe1-0000-1000-8000-00805f9b34fb", FieldVerdict::Taken,
         "read as the 128-bit UUID 0000FFE1-0000-1000-8000-00805F9B34FB"},
        {"128-bit", longCharacteristic, "FFE1", FieldVerdict::Refused, "a 128-bit UUID needs 32 hex digits, this has 4"},
        {"iBeacon UUID", ExplainBeaconUUID, "FDA50693A4E24FB1AFCFC6EB07647825", FieldVerdict::Taken,
         "read as the 128-bit UUID FDA50693-A4E2-4FB1-AFCF-C6EB07647825"},
        {"iBeacon UUID", ExplainBeaconUUID, "FDA50693A4E24FB1AFCFC6EB0764782-5", FieldVerdict::Notice,
         "read as the 128-bit UUID FDA50693-A4E2-4FB1-AFCF-C6EB07647825: the dashes are left out wherever they stand"},
        {"iBeacon UUID", ExplainBeaconUUID, "FDA5 0693", FieldVerdict::Refused,
         "a space is not a hex digit: a UUID holds the digits 0 to 9 and A to F, with dashes or nothing between them"},
        {"major", ExplainBeaconNumber, "1000", FieldVerdict::Notice,
         "1000 has four characters, so it is read as hex: 4096, sent as 0x1000 (for decimal 1000 write 01000)"},
        {"major", ExplainBeaconNumber, "04d2", FieldVerdict::Taken, "04d2 is read as hex: 1234, sent as 0x04D2"},
        {"major", ExplainBeaconNumber, "65536", FieldVerdict::Refused, "65536 is 65536, and the value must be from 1 to 65535"},
        {"name", ExplainDeviceName, "Lamp", FieldVerdict::Taken, "sent as AT+NAMELamp"},
        {"name", ExplainDeviceName, " Lamp ", FieldVerdict::Notice, "sent as AT+NAMELamp: the spaces at its ends are not sent"},
        {"name", ExplainDeviceName, "L\xC3\xA4mp", FieldVerdict::Notice,
         "sent as AT+NAMEL\xC3\xA4mp: its bytes above 126 reach the module as they are, and a phone may show them otherwise"},
        {"name", ExplainDeviceName, "La\nmp", FieldVerdict::Refused,
         "a line break cannot be sent inside a name: the module would take half of it"},
        {"address", ExplainDeviceAddress, "000E0B123456", FieldVerdict::Taken,
         "sent as AT+ADDR000E0B123456, the address 00:0E:0B:12:34:56"},
        {"address", ExplainDeviceAddress, "000e0b123456", FieldVerdict::Refused,
         "lower-case letters: the address is written in capitals, 000E0B123456"},
        {"address", ExplainDeviceAddress, "00:0E:0B:12:", FieldVerdict::Refused,
         "the separators were cut by the 12-character limit: type the 12 digits without separators, like 000E0B123456"},
        {"address", ExplainDeviceAddress, "000E0B12345G", FieldVerdict::Refused,
         "\"G\" is not a hex digit: an address holds the digits 0 to 9 and A to F"},
        {"address", ExplainDeviceAddress, "000E0B", FieldVerdict::Refused, "an address needs 12 hex digits, this has 6"},
        {"address", ExplainDeviceAddress, "  ", FieldVerdict::Refused,
         "empty: type the address as 12 hex digits, like 000E0B123456"},
        {"package", ExplainPackage, "0201060302F0FF", FieldVerdict::Taken, "0201060302F0FF: 7 of 31 bytes, 2 structures"},
        {"package", ExplainPackage, "02010600", FieldVerdict::Refused,
         "byte 4: length 0x00 is below 2; a structure holds its type and at least one byte"},
    };
    for (const Case& c : cases) {
        const FieldExplanation explanation = c.explain(c.text);
        EXPECT_EQ(explanation.verdict, c.verdict) << c.field << " [" << c.text << "]";
        EXPECT_EQ(explanation.text, c.words) << c.field << " [" << c.text << "]";
    }
    EXPECT_EQ(ExplainPackage("0201060302F0FF").details.size(), 3u); // the header and one line per structure
}

// The verdict is the button's: a field explained as refused is the field the button
// refuses when every other field is good, and only then.
TEST(FieldExplanations, AgreeWithTheButtonOnEveryField)
{
    const std::string texts[] = {"", " ", "FFE1", "ffe1", "0000", "FFE", "FF-E1", "0000FFE1-0000-1000-8000-00805F9B34FB",
                                 "04D2", "01234", "65535", "65536", "Lamp", "La\rmp", "000E0B123456", "000e0b123456",
                                 "00:0E:0B:12:", "G", "FDA50693A4E24FB1AFCFC6EB07647825", "-"};
    const auto refuses = [](const GeneratorResult& result, Field field) {
        const auto* rejection = std::get_if<Rejection>(&result);
        return rejection != nullptr && rejection->field == field;
    };
    const std::string goodUUID = "0000FFE1-0000-1000-8000-00805F9B34FB";
    for (const std::string& text : texts) {
        for (int type : {UUIDType16Bit, UUIDType128Bit}) {
            const std::string good = type == UUIDType16Bit ? "FFE2" : goodUUID;
            EXPECT_EQ(ExplainCharacteristic(type, text).verdict == FieldVerdict::Refused,
                      refuses(BuildStudyList(type, text, good), Field::StudyNotify)) << text;
            EXPECT_EQ(ExplainCharacteristic(type, text).verdict == FieldVerdict::Refused,
                      refuses(BuildStudyList(type, good, text), Field::StudyWrite)) << text;
        }
        EXPECT_EQ(ExplainBeaconUUID(text).verdict == FieldVerdict::Refused,
                  refuses(BuildBeaconList(text, "04D2", "04D3"), Field::BeaconUUID)) << text;
        EXPECT_EQ(ExplainDeviceName(text).verdict == FieldVerdict::Refused,
                  refuses(BuildBroadcastList(text, "000E0B123456", "020106", "", true), Field::DeviceName)) << text;
        EXPECT_EQ(ExplainDeviceAddress(text).verdict == FieldVerdict::Refused,
                  refuses(BuildBroadcastList("Lamp", text, "020106", "", true), Field::DeviceAddress)) << text;
    }
}

} // namespace
} // namespace qz
