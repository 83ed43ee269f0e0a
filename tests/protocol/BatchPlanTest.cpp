// Planning a batch: every module's values, counted ones too, pass the page before any
// port opens, and a record must be this very batch's.

#include "BatchPlan.h"

#include <gtest/gtest.h>

namespace qz::batch {
namespace {

using Texts = std::vector<std::string>;

// The record's columns before modules were asked their address and rows said what was sent.
const char* const beaconHeader = "time,port,uuid,major,minor,taken,total,result,message\n";
const char* const currentBeaconHeader = "time,port,module,uuid,major,minor,sent,taken,total,result,message\n";
const char* const beaconUUID = "0000FFF0-0000-1000-8000-00805F9B34FB";

std::vector<Values> rows(const Units& units)
{
    std::vector<Values> all;
    for (std::size_t unit = 0; unit < units.size(); ++unit)
        all.push_back(units[unit]);
    return all;
}

// The minors of the units the record shows as shown.
Texts minorsRecorded(const Plan& plan, Recorded shown)
{
    Texts minors;
    for (std::size_t unit = 0; unit < plan.units.size(); ++unit) {
        if (plan.recorded[unit] == shown)
            minors.push_back(plan.units[unit][2]);
    }
    return minors;
}

Source counted(Field field, std::size_t modules)
{
    return {{field}, modules, false, {}};
}

Source fromFile(std::string_view text)
{
    return {{}, 0, true, text};
}

TEST(BatchPlan, RefusesBeforeAnyPortOpensNamingWhatIsAtFault)
{
    struct Case {
        const char* name;
        const char* page;
        FieldValues values;
        Source source;
        std::string record;
        Refusal expected; // reason, line, module, field, value, other, message, mend
    };
    const std::string twoBeacons = std::string("uuid\n") + beaconUUID + "\n" + beaconUUID + "\n";
    const std::string otherMajor = std::string(beaconHeader) + "t,p," + beaconUUID + ",0001,00FE,8,8,set up,m\n";
    const Case cases[] = {
        {"a counted name past its field's 15 bytes", "broadcast",
         {{Field::DeviceName, "ABCDEFGHIJKLMN9"}, {Field::DeviceAddress, "000E0B123456"},
          {Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
         counted(Field::DeviceName, 3), "",
         {Refusal::TooLong, 0, 2, Field::DeviceName, "ABCDEFGHIJKLMN10", "15", "", ""}},
        {"a record of the same page with another fixed value", "ibeacon", {{Field::BeaconMajor, "0002"}},
         counted(Field::BeaconMinor, 3), otherMajor,
         {Refusal::RecordOtherValues, 0, 0, Field::BeaconMajor, "0002", "0001", "", ""}},
        {"a record of another page", "ibeacon", {}, counted(Field::BeaconMinor, 3),
         "time,port,minor,taken,total,result,message\n",
         {Refusal::RecordOfAnotherBatch, 0, 0, Field::None, "time,port,minor,taken,total,result,message",
          "time,port,module,uuid,major,minor,sent,taken,total,result,message", "", ""}},
        {"counting past the top", "ibeacon", {{Field::BeaconMinor, "FFFE"}}, counted(Field::BeaconMinor, 3), "",
         {Refusal::PassesTheTop, 0, 0, Field::BeaconMinor, "FFFE", "FFFF", "counting up from it would pass FFFF", ""}},
        {"a form that does not count", "ibeacon", {{Field::BeaconMajor, "123"}}, counted(Field::BeaconMajor, 2), "",
         {Refusal::CannotCount, 0, 0, Field::BeaconMajor, "123", "",
          "only four hex digits (04D2) or five decimal digits (01234) can count up", ""}},
        {"a field that does not count", "ibeacon", {}, counted(Field::BeaconUUID, 2), "",
         {Refusal::NotCountable, 0, 0, Field::BeaconUUID, "", "", "", ""}},
        {"a counted value the page refuses", "ibeacon", {{Field::BeaconMinor, "00000"}}, counted(Field::BeaconMinor, 2),
         "", {Refusal::PageRefused, 0, 1, Field::BeaconMinor, "00000", "", "Please input correct iBeacon Minor value!",
          "00000 is 0, and the value must be from 1 to 65535"}},
        {"an empty values file", "broadcast", {}, fromFile("\n"), "", {Refusal::ValuesFileEmpty, 0, 0, Field::None, "", "", "", ""}},
        {"an unknown column", "broadcast", {}, fromFile("name,colour\nA,red\n"), "",
         {Refusal::UnknownColumn, 0, 0, Field::None, "colour", "", "", ""}},
        {"a check box as a column", "broadcast", {}, fromFile("same\nyes\n"), "",
         {Refusal::UnknownColumn, 0, 0, Field::None, "same", "", "", ""}},
        {"a column twice", "broadcast", {}, fromFile("name,name\nA,B\n"), "",
         {Refusal::ColumnTwice, 0, 0, Field::None, "name", "", "", ""}},
        {"a header alone", "broadcast", {}, fromFile("name\n\n"), "", {Refusal::NoRows, 0, 0, Field::None, "", "", "", ""}},
        {"a short row", "broadcast", {}, fromFile("name,address\nA,000E0B123456\nB\n"), "",
         {Refusal::RowLength, 3, 0, Field::None, "1", "2", "", ""}},
        {"a row's value the page refuses, with its mend", "broadcast",
         {{Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
         fromFile("Name,ADDRESS\nA,000E0B123456\nB,000e0b123457\n"), "",
         {Refusal::PageRefused, 3, 0, Field::DeviceAddress, "000e0b123457", "", "Please input correct MAC value!",
          "lower-case letters: the address is written in capitals, 000E0B123457"}},
        {"a row's value too long for its field", "ibeacon", {}, fromFile("major\n0x04D2\n"), "",
         {Refusal::TooLong, 2, 0, Field::BeaconMajor, "0x04D2", "5", "", ""}},
        {"a row's UUID type that is no choice", "study", {}, fromFile("uuid-type\n32\n"), "",
         {Refusal::PageRefused, 2, 0, Field::StudyUUIDType, "32", "", "the UUID type is 16 or 128", ""}},
        // No two modules get one identity.
        {"one address on every module", "broadcast",
         {{Field::DeviceName, "Lamp-01"}, {Field::DeviceAddress, "000E0B000001"}, {Field::AdvertPackage, "020106"},
          {Field::SameAsAdvert, "yes"}},
         counted(Field::DeviceName, 3), "", {Refusal::SameEverywhere, 0, 0, Field::DeviceAddress, "000E0B000001", "", "", ""}},
        {"one iBeacon on every module", "ibeacon", {}, fromFile(twoBeacons), "", {Refusal::SameIdentity, 3, 0, Field::BeaconUUID, beaconUUID, "2", "", ""}},
        {"one minor written two ways", "ibeacon", {}, fromFile("minor\n00FE\n00FF\n00254\n"), "",
         {Refusal::SameIdentity, 4, 0, Field::BeaconMinor, "00254", "2", "", ""}},
        {"two rows with one address", "broadcast", {{Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
         fromFile("name,address\nA,000E0B000001\nB,000E0B000002\nA,000E0B000001\n"), "",
         {Refusal::SameIdentity, 4, 0, Field::DeviceAddress, "000E0B000001", "2", "", ""}},
    };
    for (const Case& c : cases) {
        const auto planned = PlanBatch(*FindPage(c.page), c.values, c.source, c.record);
        ASSERT_TRUE(std::holds_alternative<Refusal>(planned)) << c.name;
        const Refusal& refusal = std::get<Refusal>(planned);
        const Refusal& e = c.expected;
        EXPECT_EQ(refusal.reason, e.reason) << c.name;
        EXPECT_EQ(refusal.line, e.line) << c.name;
        EXPECT_EQ(refusal.module, e.module) << c.name;
        EXPECT_EQ(refusal.field, e.field) << c.name;
        EXPECT_EQ(refusal.value, e.value) << c.name;
        EXPECT_EQ(refusal.other, e.other) << c.name;
        EXPECT_EQ(refusal.message, e.message) << c.name;
        EXPECT_EQ(refusal.mend, e.mend) << c.name;
    }
}

TEST(BatchPlan, AModuleCountsAsSetUpOnlyWhenEveryFieldMatchesASetUpRow)
{
    const std::string record = std::string(beaconHeader)
        + "t,p," + beaconUUID + ",0001,00FE,8,8,set up,m\n"   // the first module
        + "t,p," + beaconUUID + ",0001,00FF,1,8,failed,m\n"   // failed: still to do
        + "t,p," + beaconUUID + ",0001,0100,8,8,set up,m";    // a line the last module's crash cut short
    const auto planned = PlanBatch(*FindPage("ibeacon"), {{Field::BeaconMajor, "0001"}, {Field::BeaconMinor, "00FE"}},
                                   counted(Field::BeaconMinor, 3), record);
    ASSERT_TRUE(std::holds_alternative<Plan>(planned));
    const Plan& plan = std::get<Plan>(planned);
    EXPECT_EQ(plan.varying, std::vector<Field>{Field::BeaconMinor});
    EXPECT_EQ(rows(plan.units), (std::vector<Values>{{beaconUUID, "0001", "00FE"}, {beaconUUID, "0001", "00FF"},
                                               {beaconUUID, "0001", "0100"}}));
    EXPECT_EQ(minorsRecorded(plan, Recorded::SetUp), (Texts{"00FE", "0100"}));
    // The cut line is ended before the next module's, which has the current columns.
    EXPECT_EQ(plan.opening, "\n" + std::string(currentBeaconHeader));
    EXPECT_EQ(CommandsOf(*FindPage("ibeacon"), plan.units[1]).back(), "AT+MINO0x00FF");
    EXPECT_EQ(ValueOf(*FindPage("ibeacon"), plan.units[2], Field::BeaconMinor), "0100");

    const auto fresh = PlanBatch(*FindPage("ibeacon"), {}, counted(Field::BeaconMinor, 1), " \r\n");
    ASSERT_TRUE(std::holds_alternative<Plan>(fresh));
    EXPECT_EQ(std::get<Plan>(fresh).opening, currentBeaconHeader);
    EXPECT_EQ(rows(std::get<Plan>(fresh).units), (std::vector<Values>{{beaconUUID, "10123", "10125"}}));
}

// A record is read by meaning: a minor written 00254 is the module given 00FE. A module
// that failed after taking its identity carries it; one that failed before does not.
TEST(BatchPlan, ARecordShowsWhichIdentitiesAreSetUpOrCarried)
{
    const std::string record = std::string(beaconHeader)
        + "t,p," + beaconUUID + ",0001,00254,8,8,set up,m\n"
        + "t,p," + beaconUUID + ",0001,00FF,3,8,failed,m\n"  // took AT+IBE0: carried
        + "t,p," + beaconUUID + ",0001,0100,2,8,failed,m\n"; // took AT+RENEW and AT+IBEA1 only
    const auto planned = PlanBatch(*FindPage("ibeacon"), {{Field::BeaconMajor, "0001"}, {Field::BeaconMinor, "00FE"}},
                                   counted(Field::BeaconMinor, 4), record);
    ASSERT_TRUE(std::holds_alternative<Plan>(planned));
    const Plan& plan = std::get<Plan>(planned);
    EXPECT_EQ(minorsRecorded(plan, Recorded::SetUp), Texts{"00FE"});
    EXPECT_EQ(minorsRecorded(plan, Recorded::Carried), Texts{"00FF"});
    EXPECT_EQ(plan.takenToCarry, (std::vector<int>{3, 3, 3, 3}));
    EXPECT_EQ(IdentityOf(*FindPage("study"), CommandsOf(*FindPage("ibeacon"), plan.units[0])), "");

    // Without an identity, a set-up row matches a unit with every value the same that no
    // earlier row took: of two equal rows, one is set up.
    const PageSpec& study = *FindPage("study");
    const Values unit = std::get<Plan>(PlanBatch(study, {}, fromFile("uuid-type\n16\n"), "")).units[0];
    const auto twice = PlanBatch(study, {}, fromFile("uuid-type\n16\n16\n"),
                                 RecordHeaderLine(study) + RecordLine({"t", "p", "", unit, 8, 8, 8, SetUpResult, "m"}));
    ASSERT_TRUE(std::holds_alternative<Plan>(twice));
    EXPECT_EQ(std::get<Plan>(twice).recorded, (std::vector<Recorded>{Recorded::SetUp, Recorded::Nothing}));

    // The ports whose last module took its values may hold it still.
    const std::string onPorts = std::string(beaconHeader) + "t,A," + beaconUUID + ",0001,00FE,8,8,set up,m\n"
        + "t,B," + beaconUUID + ",0001,00FF,2,8,failed,m\n" + "t,C," + beaconUUID + ",0001,0100,8,8,failed,m\n"
        + "t,D," + beaconUUID + ",0001,0101,8,8,set up,m\n" + "t,D," + beaconUUID + ",0001,0102,1,8,failed,m\n";
    const auto resumed = PlanBatch(*FindPage("ibeacon"), {{Field::BeaconMajor, "0001"}, {Field::BeaconMinor, "00FE"}},
                                   counted(Field::BeaconMinor, 6), onPorts);
    ASSERT_TRUE(std::holds_alternative<Plan>(resumed));
    using State = KnownModules::State;
    EXPECT_EQ(std::get<Plan>(resumed).portsHoldingAModule,
              (std::vector<HeldPort>{{"A", State::SetUp}, {"C", State::Carrying}}));
}

// A record is read line by line, every line: what cannot be read stops the batch, since
// the module it describes is unknown. A unit whose last row says started may be carried by
// a module nobody heard of again; one that was sent the command setting its identity
// carries it, whatever came back.
TEST(BatchPlan, ARecordIsReadLineByLine)
{
    const std::string older = std::string("t,p,") + beaconUUID + ",0001,";
    const std::string row = std::string("t,p,,") + beaconUUID + ",0001,";
    const std::string header = currentBeaconHeader;
    const std::string commas(1 << 20, ',');
    struct Case {
        const char* name;
        std::string record;
        std::vector<std::string> setUp;   // minors
        std::vector<std::string> carried; // minors
        std::size_t unreadableLine;       // 0: none
        std::string opening;
    };
    const std::vector<Case> cases = {
        {"older columns: a quote left open by a cut write ends with its line",
         std::string(beaconHeader) + older + "00FE,3,8,failed,\"The port failed (unpl\n" + older + "00FF,8,8,set up,m\n",
         {"00FF"}, {"00FE"}, 0, header},
        {"older columns: a byte-order mark and Windows line ends", "\xEF\xBB\xBF" + std::string("time,port,uuid,major,minor,taken,total,"
         "result,message\r\n") + older + "00FE,8,8,set up,m\r\n", {"00FE"}, {}, 0, header},
        {"older columns, then current ones", std::string(beaconHeader) + older + "00FE,8,8,set up,m\n" + header + row
         + "00FF,0,0,8,started,\n", {"00FE"}, {"00FF"}, 0, ""},
        {"only blank lines", "\n \n", {}, {}, 0, header},
        {"blank lines before the header", "\n" + header + row + "00FE,8,8,8,set up,m\n", {"00FE"}, {}, 0, ""},
        {"a line that cannot be read", header + "garbage\n" + row + "00FE,8,8,8,set up,m\n", {}, {}, 2, ""},
        {"values the page refuses", header + row + "0x0FE,8,8,8,set up,m\n", {}, {}, 2, ""},
        {"the last line cut short carries what it shows", header + row + "00FF,8", {}, {"00FF"}, 0, "\n"},
        {"a last line cut inside its values carries nothing", header + row + "00F", {}, {}, 0, "\n"},
        {"a bare CR ends a line", "time,port,module,uuid,major,minor,sent,taken,total,result,message\r" + row
         + "00FE,8,8,8,set up,m\r" + row + "00FF,8,8,8,set up,m\r", {"00FE", "00FF"}, {}, 0, ""},
        {"a CR joining two rows", header + row + "00FE,8,8,8,set up,m\r" + row + "00FF,3,0,8,failed,m\n", {"00FE"},
         {"00FF"}, 0, ""},
        {"a started row last: the batch stopped while its module was set up", header + row + "00FE,0,0,8,started,\n",
         {}, {"00FE"}, 0, ""},
        {"started, then failed before the identity: free again", header + row + "00FE,0,0,8,started,\n" + row
         + "00FE,2,2,8,failed,m\n", {}, {}, 0, ""},
        {"sent the identity, no reply: carried", header + row + "00FE,3,2,8,failed,m\n", {}, {"00FE"}, 0, ""},
        {"started, then set up", header + row + "00FE,0,0,8,started,\n" + row + "00FE,8,8,8,set up,m\n", {"00FE"}, {},
         0, ""},
        {"a line longer than any row", header + row + "00FE,8,8,8,set up," + std::string(20000, 'x') + "\n", {}, {}, 2,
         ""},
        {"a flood of commas", header + commas, {}, {}, 2, ""},
    };
    for (const Case& c : cases) {
        const auto planned = PlanBatch(*FindPage("ibeacon"), {{Field::BeaconMajor, "0001"}, {Field::BeaconMinor, "00FE"}},
                                       counted(Field::BeaconMinor, 3), c.record);
        if (c.unreadableLine != 0) {
            ASSERT_TRUE(std::holds_alternative<Refusal>(planned)) << c.name;
            EXPECT_EQ(std::get<Refusal>(planned).reason, Refusal::RecordUnreadable) << c.name;
            EXPECT_EQ(std::get<Refusal>(planned).line, c.unreadableLine) << c.name;
            EXPECT_LE(std::get<Refusal>(planned).value.size(), LongestQuote + 3) << c.name;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Plan>(planned)) << c.name;
        const Plan& plan = std::get<Plan>(planned);
        EXPECT_EQ(minorsRecorded(plan, Recorded::SetUp), c.setUp) << c.name;
        EXPECT_EQ(minorsRecorded(plan, Recorded::Carried), c.carried) << c.name;
        EXPECT_EQ(plan.opening, c.opening) << c.name;
    }
    // A values file from a spreadsheet, with its byte-order mark.
    EXPECT_TRUE(std::holds_alternative<Plan>(
        PlanBatch(*FindPage("ibeacon"), {}, fromFile("\xEF\xBB\xBFminor\n00FE\n"), "")));
    // A values file line no row could fill is refused by its number, quoted in part.
    const auto flood = PlanBatch(*FindPage("ibeacon"), {}, fromFile("minor\n00FE\n" + commas), "");
    ASSERT_TRUE(std::holds_alternative<Refusal>(flood));
    EXPECT_EQ(std::get<Refusal>(flood).reason, Refusal::LineTooLong);
    EXPECT_EQ(std::get<Refusal>(flood).line, 3u);
    EXPECT_EQ(std::get<Refusal>(flood).value, std::string(LongestQuote, ',') + "\u2026");
}

// The modules a record shows, by their own address: the iBeacon page's as they told it,
// the broadcast page's by the address they were given too.
TEST(BatchPlan, ARecordKnowsItsModulesByTheirAddress)
{
    const std::string row = std::string("2026-12-08T14:03:22Z,p,00170A00000") ;
    const std::string beacon = std::string(",") + beaconUUID + ",0001,";
    const std::string record = std::string(currentBeaconHeader) + row + "1" + beacon + "00FE,8,8,8,set up,m\n" + row
        + "2" + beacon + "00FF,0,0,8,started,\n" + row + "3" + beacon + "0100,2,2,8,failed,m\n";
    const auto planned = PlanBatch(*FindPage("ibeacon"), {{Field::BeaconMajor, "0001"}, {Field::BeaconMinor, "00FE"}},
                                   counted(Field::BeaconMinor, 4), record);
    ASSERT_TRUE(std::holds_alternative<Plan>(planned));
    const KnownModules& known = std::get<Plan>(planned).known;
    ASSERT_NE(known.Find("00170a000001"), nullptr);
    EXPECT_EQ(KnownModules::Words("00170a000001", *known.Find("00170a000001")),
              "this is module 1 of the record (00170A000001), set up at 14:03: put the next one on");
    ASSERT_NE(known.Find("00170A000002"), nullptr);
    EXPECT_EQ(known.Find("00170A000002")->state, KnownModules::State::Started);
    EXPECT_EQ(known.Find("00170A000003"), nullptr); // failed before its identity: it carries nothing

    const std::string lamp = "t,p,001122334455,Lamp-01,000E0B000001,020106,,yes,8,8,8,set up,m\n";
    const auto lamps = PlanBatch(*FindPage("broadcast"),
                                 {{Field::DeviceName, "Lamp-01"}, {Field::DeviceAddress, "000E0B000001"},
                                  {Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
                                 {{Field::DeviceName, Field::DeviceAddress}, 2, false, {}},
                                 RecordHeaderLine(*FindPage("broadcast")) + lamp);
    ASSERT_TRUE(std::holds_alternative<Plan>(lamps));
    EXPECT_NE(std::get<Plan>(lamps).known.Find("001122334455"), nullptr);
    EXPECT_NE(std::get<Plan>(lamps).known.Find("000E0B000001"), nullptr);
}

TEST(BatchPlan, FieldsCountedTogetherGiveEachModuleTheirNextValues)
{
    const auto planned = PlanBatch(*FindPage("broadcast"),
                                   {{Field::DeviceName, "Lamp-09"}, {Field::DeviceAddress, "000E0B0000FF"},
                                    {Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
                                   {{Field::DeviceName, Field::DeviceAddress}, 2, false, {}}, "");
    ASSERT_TRUE(std::holds_alternative<Plan>(planned));
    const Plan& plan = std::get<Plan>(planned);
    EXPECT_EQ(plan.varying, (std::vector<Field>{Field::DeviceName, Field::DeviceAddress}));
    EXPECT_EQ(rows(plan.units), (std::vector<Values>{{"Lamp-09", "000E0B0000FF", "020106", "", "yes"},
                                               {"Lamp-10", "000E0B000100", "020106", "", "yes"}}));
}

TEST(BatchPlan, AValuesFileGivesEachModuleItsRowOverThePagesValues)
{
    const auto planned =
        PlanBatch(*FindPage("broadcast"), {{Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
                  fromFile("address,name\r\n000E0B000001,\"Lamp, 1\"\n\n000E0B000002,Lamp-2\n"), "");
    ASSERT_TRUE(std::holds_alternative<Plan>(planned));
    const Plan& plan = std::get<Plan>(planned);
    EXPECT_EQ(plan.varying, (std::vector<Field>{Field::DeviceAddress, Field::DeviceName}));
    EXPECT_EQ(rows(plan.units), (std::vector<Values>{{"Lamp, 1", "000E0B000001", "020106", "", "yes"},
                                               {"Lamp-2", "000E0B000002", "020106", "", "yes"}}));
    // A spreadsheet's semicolons, and its header in capitals, read the same.
    const auto semicolons =
        PlanBatch(*FindPage("broadcast"), {{Field::AdvertPackage, "020106"}, {Field::SameAsAdvert, "yes"}},
                  fromFile("Address;Name\r\n000E0B000001;\"Lamp, 1\"\n\n000E0B000002;Lamp-2\n"), "");
    ASSERT_TRUE(std::holds_alternative<Plan>(semicolons));
    EXPECT_EQ(rows(std::get<Plan>(semicolons).units), rows(plan.units));
}

TEST(BatchPlan, ALineTypedNamesTheOnePortWhoseModuleWasSwapped)
{
    const Texts ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    struct Case {
        const char* line;
        std::vector<bool> waiting;
        std::optional<std::size_t> port;
        const char* problem;
    };
    const Case cases[] = {
        {"\n", {false, true, false}, 1, ""},
        {"\n", {true, true, false}, std::nullopt,
         "several ports are waiting: type 1 (/dev/ttyUSB0) or 2 (/dev/ttyUSB1), then Enter"},
        {"", {true, true, true}, std::nullopt,
         "several ports are waiting: type 1 (/dev/ttyUSB0), 2 (/dev/ttyUSB1) or 3 (/dev/ttyUSB2), then Enter"},
        {" 2\r\n", {true, true, false}, 1, ""},
        {"/dev/ttyUSB0\n", {true, true, false}, 0, ""},
        {"3\n", {true, true, false}, std::nullopt,
         "port 3 (/dev/ttyUSB2) is not waiting for a module: type 1 (/dev/ttyUSB0) or 2 (/dev/ttyUSB1), then Enter"},
        {"4\n", {true, false, false}, std::nullopt, "no port is called 4: type 1 (/dev/ttyUSB0), then Enter"},
        {"\n", {false, false, false}, std::nullopt, "no port is waiting for its next module"},
    };
    for (const Case& c : cases) {
        const PortChoice choice = ChoosePort(c.line, ports, c.waiting);
        EXPECT_EQ(choice.port, c.port) << c.line;
        EXPECT_EQ(choice.problem, c.problem) << c.line;
    }
}

} // namespace
} // namespace qz::batch
