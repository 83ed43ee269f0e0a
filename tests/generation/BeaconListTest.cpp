#include "BeaconList.h"

#include "ResultHelpers.h"

namespace qz {
namespace {

const std::string fillIn = "Please fill in all fields";
const std::string uuidMessage = "Please input correct iBeacon UUID!";
const std::string uuidValueMessage = "Please input correct iBeacon UUID value!";
const std::string majorMessage = "Please input correct iBeacon Major value!";
const std::string minorMessage = "Please input correct iBeacon Minor value!";

const std::string initialUUID = "0000FFF0-0000-1000-8000-00805F9B34FB";
const std::string uuid31 = "0000FFF000001000800000805F9B34F";

TEST(BeaconList, InitialTextsGiveTheWholeList)
{
    const CommandList expected = {
        "         Those AT Command only need be executed once more",
        separator,
        "AT+RENEW",
        "",
        "AT+IBEA1",
        "",
        "AT+IBE00000FFF0",
        "",
        "AT+IBE100001000",
        "",
        "AT+IBE280000080",
        "",
        "AT+IBE35F9B34FB",
        "",
        "AT+MARJ0x278B",
        "",
        "AT+MINO0x278D",
    };
    EXPECT_EQ(listOf(BuildBeaconList(initialUUID, "10123", "10125")), expected);
}

TEST(BeaconList, ValuesInBothModesGiveFourUpperCaseDigits)
{
    const struct {
        std::string text;
        std::string digits;
    } cases[] = {
        {"04D2", "04D2"},  {"04d2", "04D2"},  {"01234", "04D2"}, {"1234", "1234"}, {"FFFF", "FFFF"},
        {"ffff", "FFFF"},  {"65535", "FFFF"}, {"0001", "0001"},  {"00001", "0001"}, {" 04d2", "04D2"},
        {"\t10123\r\n", "278B"}, {"9999", "9999"}, {"10000", "2710"}, {"aBcD", "ABCD"},
    };
    for (const auto& c : cases) {
        const CommandList asMajor = listOf(BuildBeaconList(initialUUID, c.text, "0001"));
        const CommandList asMinor = listOf(BuildBeaconList(initialUUID, "0001", c.text));
        ASSERT_EQ(asMajor.size(), 17u) << c.text;
        ASSERT_EQ(asMinor.size(), 17u) << c.text;
        EXPECT_EQ(asMajor[14], "AT+MARJ0x" + c.digits) << c.text;
        EXPECT_EQ(asMinor[16], "AT+MINO0x" + c.digits) << c.text;
    }
}

TEST(BeaconList, UUIDIsNormalisedBeforeItIsCut)
{
    for (const std::string uuid : {"0000fff0-0000-1000-8000-00805f9b34fb", "0000FFF000001000800000805F9B34FB",
                                   "-0000FFF0000010-0080000-0805F9B34FB--", " 0000fff000001000800000805f9b34fb\t"}) {
        const CommandList lines = listOf(BuildBeaconList(uuid, "10123", "10125"));
        ASSERT_EQ(lines.size(), 17u) << uuid;
        EXPECT_EQ(lines[6], "AT+IBE00000FFF0") << uuid;
        EXPECT_EQ(lines[12], "AT+IBE35F9B34FB") << uuid;
    }
}

TEST(BeaconList, RejectionsNameTheirMessageAndField)
{
    const struct {
        std::string uuid;
        std::string major;
        std::string minor;
        std::string message;
        Field field;
    } cases[] = {
        // emptiness, in the order UUID, major, minor
        {"", "", "", fillIn, Field::BeaconUUID},
        {"  ", "10123", "10125", fillIn, Field::BeaconUUID},
        {initialUUID, " \t", "10125", fillIn, Field::BeaconMajor},
        {initialUUID, "10123", "\r\n", fillIn, Field::BeaconMinor},
        // UUID characters and length
        {"{0000FFF0-0000-1000-8000-00805F9B34FB}", "10123", "10125", uuidMessage, Field::BeaconUUID},
        {"0000FFG0-0000-1000-8000-00805F9B34FB", "10123", "10125", uuidMessage, Field::BeaconUUID},
        {"0000FFF0 0000-1000-8000-00805F9B34FB", "10123", "10125", uuidMessage, Field::BeaconUUID},
        {"---", "10123", "10125", uuidValueMessage, Field::BeaconUUID},
        {uuid31, "10123", "10125", uuidValueMessage, Field::BeaconUUID},
        {uuid31 + "BB", "10123", "10125", uuidValueMessage, Field::BeaconUUID},
        // major and minor: characters, lengths, values
        {initialUUID, "12G4", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "12A45", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "4D2", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "12 45", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "-1234", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "123", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "12", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "123456", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "0000", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "00000", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "65536", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "99999", "10125", majorMessage, Field::BeaconMajor},
        {initialUUID, "10123", "0000", minorMessage, Field::BeaconMinor},
        {initialUUID, "10123", "65536", minorMessage, Field::BeaconMinor},
        {initialUUID, "10123", "1", minorMessage, Field::BeaconMinor},
        {initialUUID, "10123", "FFFG", minorMessage, Field::BeaconMinor},
        // precedence
        {"0000FFG0", "10123", "", fillIn, Field::BeaconMinor},
        {"0000FFG0", "12G45", "10125", uuidMessage, Field::BeaconUUID},
        {uuid31, "12G45", "10125", majorMessage, Field::BeaconMajor},
        {uuid31, "10123", "12G45", minorMessage, Field::BeaconMinor},
        {uuid31, "123", "10125", uuidValueMessage, Field::BeaconUUID},
        {initialUUID, "0000", "12G", minorMessage, Field::BeaconMinor},
        {initialUUID, "99999", "123", minorMessage, Field::BeaconMinor},
        {initialUUID, "123", "12G", minorMessage, Field::BeaconMinor},
        {initialUUID, "0000", "0000", majorMessage, Field::BeaconMajor},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rejectionOf(BuildBeaconList(c.uuid, c.major, c.minor)), (Rejection{c.message, c.field}))
            << c.uuid << " / " << c.major << " / " << c.minor;
    }
}

} // namespace
} // namespace qz

namespace qz {
namespace {

TEST(BeaconList, ExplainsHowEachValueIsReadAsTheButtonReadsIt)
{
    struct Case {
        std::string text;
        ValueReading reading;
        std::string explanation;
    };
    const Case cases[] = {
        {"04D2", ValueReading::Hex, "04D2 is read as hex: 1234, sent as 0x04D2"},
        {" 04d2", ValueReading::Hex, "04d2 is read as hex: 1234, sent as 0x04D2"},
        {"01234", ValueReading::Decimal, "01234 is read as decimal: 1234, sent as 0x04D2"},
        {"1000", ValueReading::FourDecimalDigits,
         "1000 has four characters, so it is read as hex: 4096, sent as 0x1000 (for decimal 1000 write 01000)"},
        {"0012", ValueReading::FourDecimalDigits,
         "0012 has four characters, so it is read as hex: 18, sent as 0x0012 (for decimal 12 write 00012)"},
        {"12G4", ValueReading::Refused, "12G4 has four characters, so it is read as hex, and \"G\" is not a hex digit"},
        {"4D2", ValueReading::Refused,
         "4D2 is read as decimal (only four characters are read as hex), and \"D\" is not a decimal digit"},
        {"123", ValueReading::Refused, "123 has 3 characters: write four hex digits (04D2) or five decimal digits (01234)"},
        {"0000", ValueReading::Refused, "0000 is 0, and the value must be from 1 to 65535"},
        {"65536", ValueReading::Refused, "65536 is 65536, and the value must be from 1 to 65535"},
        {"   ", ValueReading::Refused,
         "Nothing but spaces, which counts as an empty field: type four hex digits (04D2) or five decimal digits (01234)"},
        // 0x04D2 cut by the field's five characters; 0x04 would be read as hex.
        {"0x04D", ValueReading::Refused,
         "0x04D starts with 0x, which is not typed here: write four hex digits without it, like 04D2 for 0x04D2"},
        {"0X04", ValueReading::Refused,
         "0X04 starts with 0x, which is not typed here: write four hex digits without it, like 04D2 for 0x04D2"},
    };
    const std::string uuid = "0000FFF0-0000-1000-8000-00805F9B34FB";
    for (const Case& c : cases) {
        const ValueExplanation explanation = ExplainBeaconValue(c.text);
        EXPECT_EQ(explanation.reading, c.reading) << c.text;
        EXPECT_EQ(explanation.text, c.explanation) << c.text;
        const bool refused = std::holds_alternative<Rejection>(BuildBeaconList(uuid, c.text, "0001"));
        EXPECT_EQ(refused, c.reading == ValueReading::Refused) << c.text;
    }
}

} // namespace
} // namespace qz
