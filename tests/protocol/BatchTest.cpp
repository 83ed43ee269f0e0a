// The batch's decisions: what each module gets, in which order, and what a failure or a
// record means.

#include "Batch.h"
#include "BatchPlan.h"

#include <gtest/gtest.h>

namespace qz::batch {
namespace {

using Texts = std::vector<std::string>;

TEST(Batch, CountsEachFormWithinItsWidth)
{
    using qz::Counting;
    struct Case {
        Counting form;
        const char* first;
        std::size_t modules;
        Texts values;
        const char* top; // passed by counting; "" when it is not
        bool refused;
    };
    const Case cases[] = {
        {Counting::BeaconNumber, "00FE", 3, {"00FE", "00FF", "0100"}, "", false},
        {Counting::BeaconNumber, "04d9", 2, {"04D9", "04DA"}, "", false},
        {Counting::BeaconNumber, "00998", 3, {"00998", "00999", "01000"}, "", false},
        {Counting::BeaconNumber, "FFFE", 3, {}, "FFFF", false},
        {Counting::BeaconNumber, "99999", 2, {}, "99999", false},
        {Counting::BeaconNumber, "FFFF", 1, {"FFFF"}, "", false},
        {Counting::Address, "000e0b1234ff", 2, {"000E0B1234FF", "000E0B123500"}, "", false},
        {Counting::Address, "FFFFFFFFFFFF", 2, {}, "FFFFFFFFFFFF", false},
        {Counting::NameDigits, "Lamp-09", 3, {"Lamp-09", "Lamp-10", "Lamp-11"}, "", false},
        {Counting::NameDigits, "Lamp9", 2, {"Lamp9", "Lamp10"}, "", false},
        {Counting::NameDigits, "Lamp", 2, {}, "", true},
        {Counting::BeaconNumber, "123", 2, {}, "", true},
        {Counting::Address, "00:0E:0B:12", 2, {}, "", true},
        {Counting::None, "0000FFF0", 2, {}, "", true},
    };
    for (const Case& c : cases) {
        const CountedValues counting = CountValues(c.form, c.first, c.modules);
        EXPECT_EQ(counting.values, c.values) << c.first;
        EXPECT_EQ(counting.top, c.top) << c.first;
        EXPECT_EQ(!counting.problem.empty(), *c.top != '\0' || c.refused) << c.first;
    }
}

TEST(Batch, ReadsAndWritesCsvAsRfc4180Does)
{
    const std::string text = "name,address\r\n\"Lamp, kitchen\",000E0B123456\n\"say \"\"hi\"\"\",\n\"two\nlines\",x";
    std::size_t offset = 0;
    std::vector<Texts> records;
    Texts fields;
    while (ReadCsvRecord(text, offset, fields))
        records.push_back(fields);
    EXPECT_EQ(records, (std::vector<Texts>{{"name", "address"},
                                           {"Lamp, kitchen", "000E0B123456"},
                                           {"say \"hi\"", ""},
                                           {"two\nlines", "x"}}));
    EXPECT_EQ(CsvLine({"Lamp, kitchen", "say \"hi\"", "", "plain"}), "\"Lamp, kitchen\",\"say \"\"hi\"\"\",,plain\n");
}

TEST(Batch, TheRecordNamesEveryFieldAndKeepsEachRowOnOneLine)
{
    EXPECT_EQ(RecordHeaderLine(*qz::FindPage("broadcast")),
              "time,port,module,name,address,advert,scan,same,sent,taken,total,result,message\n");
    EXPECT_EQ(RecordHeaderLine(*qz::FindPage("study")),
              "time,port,module,uuid-type,notify,write,sent,taken,total,result,message\n");
    const std::string withNul("La\0mp", 5);
    const std::string line = RecordLine({"2026-12-07T14:55:03Z", "/dev/ttyUSB0", "00170A000001", {withNul, "a,b", "yes"},
                                         8, 8, 8, SetUpResult, "8 of 8 commands\r\nwere taken"});
    EXPECT_EQ(line, "2026-12-07T14:55:03Z,/dev/ttyUSB0,00170A000001," + withNul
                  + ",\"a,b\",yes,8,8,8,set up,8 of 8 commands  were taken\n");
    std::size_t offset = 0;
    Texts fields;
    ASSERT_TRUE(ReadCsvRecord(line, offset, fields));
    EXPECT_EQ(fields, (Texts{"2026-12-07T14:55:03Z", "/dev/ttyUSB0", "00170A000001", withNul, "a,b", "yes", "8", "8",
                             "8", "set up", "8 of 8 commands  were taken"}));
    EXPECT_EQ(RecordLine({"t", "p", "", {"x"}, 2, 1, 8, FailedResult, "m"}), "t,p,,x,2,1,8,failed,m\n");
    EXPECT_EQ(RecordLine({"t", "p", "", {"x"}, 0, 0, 8, StartedResult, ""}), "t,p,,x,0,0,8,started,\n");
}

TEST(Batch, HandsOutInOrderAndGivesAFailedModulesValuesToTheNext)
{
    Batch batch(3);
    EXPECT_EQ(batch.ModuleReady("p1"), 0u);
    EXPECT_EQ(batch.ModuleReady("p1"), std::nullopt); // busy until its session ends
    EXPECT_EQ(batch.ModuleReady("p2"), 1u);
    batch.SessionEnded("p1", false); // A failed: it goes to the next module, before C
    EXPECT_EQ(batch.ModuleReady("p1"), 0u);
    batch.SessionEnded("p2", true);
    EXPECT_EQ(batch.ModuleReady("p2"), 2u);
    batch.SessionEnded("p2", true);
    EXPECT_FALSE(batch.Finished());
    EXPECT_EQ(batch.ModuleReady("p2"), std::nullopt); // nothing left that is not in flight
    batch.SessionEnded("p1", true);
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(batch.SetUpCount(), 3u);
    batch.SessionEnded("p3", true); // no session there: nothing changes
    EXPECT_EQ(batch.SetUpCount(), 3u);
}

// A failed module that took the command setting its identity keeps it: the next module
// gets the next unit, and a gap is left. Retried, the carried units go first.
TEST(Batch, AFailedModuleKeepsTheIdentityItTook)
{
    using R = Recorded;
    Batch batch(4, {R::Nothing, R::Carried, R::Nothing, R::Nothing}, {{3, 3, 3, 3}, false, {}});
    EXPECT_EQ(batch.Carried(), 1u); // B, from the record
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    batch.SessionEnded("p", false, 2); // failed before taking A's identity: A goes again
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    batch.SessionEnded("p", false, 3); // failed after: A stays on that module
    EXPECT_EQ(batch.ModuleReady("p"), 2u);
    batch.SessionEnded("p", true, 8);
    EXPECT_EQ(batch.ModuleReady("p"), 3u);
    batch.SessionEnded("p", true, 8);
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(batch.Carried(), 2u);
    EXPECT_EQ(batch.SetUpCount(), 2u);

    Batch retried(3, {R::SetUp, R::Nothing, R::Carried}, {{3, 3, 3}, true, {}});
    EXPECT_EQ(retried.Carried(), 0u);
    EXPECT_EQ(retried.ModuleReady("p"), 2u);
    EXPECT_EQ(retried.ModuleReady("q"), 1u);
}

// Carried values go back only to the module that carries them.
TEST(Batch, ChooseUnitGivesCarriedValuesOnlyToTheirModule)
{
    const Candidate m1{5, true, "M1"}, m2{6, true, "M2"}, unknown{5, true, ""}, fresh{7, false, ""};
    struct Case {
        std::vector<Candidate> candidates;
        std::string module;
        std::optional<std::size_t> unit;
        bool unknownCarrier;
        std::optional<std::size_t> passedOver;
    };
    const Case cases[] = {
        {{m1, fresh}, "M1", 5, false, std::nullopt},
        {{m1, m2, fresh}, "M2", 6, false, std::nullopt},
        {{m1, fresh}, "M2", 7, false, 5},
        {{m1, fresh}, "", 7, false, 5},
        {{unknown, fresh}, "M2", 5, true, std::nullopt},
        {{m1}, "M2", std::nullopt, false, 5},
        {{}, "M1", std::nullopt, false, std::nullopt},
    };
    for (const Case& c : cases) {
        const Choice choice = ChooseUnit(c.candidates, c.module);
        EXPECT_EQ(choice.unit, c.unit) << c.module;
        EXPECT_EQ(choice.unknownCarrier, c.unknownCarrier) << c.module;
        EXPECT_EQ(choice.passedOver ? std::optional(choice.passedOver->unit) : std::nullopt, c.passedOver) << c.module;
    }
}

// A retry: the unit carried by M1 waits for M1, whichever unit the port held; another
// module gets fresh ones; a retried unit that fails again before its identity stays carried.
TEST(Batch, ARetriedUnitWaitsForTheModuleThatCarriesIt)
{
    using R = Recorded;
    Batch batch(3, {R::Carried, R::Nothing, R::Nothing}, {{3, 3, 3}, true, {{0, "M1"}}});
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    EXPECT_EQ(batch.ModuleTold("p", "M2").unit, 1u);
    batch.SessionEnded("p", false, 1); // unit 1 goes again
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    EXPECT_EQ(batch.ModuleTold("p", "M1").unit, 0u);
    batch.SessionEnded("p", false, 1); // M1 failed before its identity: it still carries unit 0
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    EXPECT_EQ(batch.ModuleTold("p", "M3").unit, 1u);
    batch.SessionEnded("p", true, 3);
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    EXPECT_EQ(batch.ModuleTold("p", "M4").unit, 2u);
    batch.SessionEnded("p", true, 3);
    EXPECT_EQ(batch.ModuleReady("q"), 0u);
    const Choice none = batch.ModuleTold("q", "M5");
    EXPECT_FALSE(none.unit);
    EXPECT_FALSE(batch.Finished()); // unit 0 waits for M1
    EXPECT_EQ(batch.ModuleReady("q"), 0u);
    EXPECT_EQ(batch.ModuleTold("q", "M1").unit, 0u);
    batch.SessionEnded("q", true, 3);
    EXPECT_TRUE(batch.Finished());
}

TEST(Batch, ABadLotStopsAfterFailuresInARow)
{
    Batch batch(4);
    batch.StopAfterFailuresInARow(2);
    for (bool setUp : {false, true, false}) {
        ASSERT_TRUE(batch.ModuleReady("p"));
        batch.SessionEnded("p", setUp);
        EXPECT_FALSE(batch.StoppedForFailures());
    }
    ASSERT_TRUE(batch.ModuleReady("p"));
    batch.SessionEnded("p", false);
    EXPECT_TRUE(batch.StoppedForFailures());
    EXPECT_EQ(batch.ModuleReady("p"), std::nullopt);
    EXPECT_TRUE(batch.Finished());
}

TEST(Batch, ResumesFromTheRowsARecordShowsSetUp)
{
    Batch batch(4, {Recorded::SetUp, Recorded::Nothing, Recorded::Nothing, Recorded::SetUp});
    EXPECT_EQ(batch.Resumed(), 2u);
    EXPECT_EQ(batch.SetUpCount(), 2u);
    EXPECT_EQ(batch.ModuleReady("p"), 1u);
    batch.SessionEnded("p", true);
    EXPECT_EQ(batch.ModuleReady("p"), 2u);
    batch.Stop(); // in flight still counts; nothing more is handed out
    EXPECT_FALSE(batch.Finished());
    batch.SessionEnded("p", true);
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(batch.SetUpCount(), 4u);
    EXPECT_EQ(batch.Total(), 4u);
}

// A record that benches share picks the unit: the one offered waits for the next module,
// and once it has none left the batch hands out nothing more.
TEST(Batch, ASharedRecordsChoiceStandsAndItsEndEndsTheBatch)
{
    Batch batch(4);
    EXPECT_EQ(batch.ModuleReady("p"), 0u);
    batch.Reassign("p", 2); // another bench took 0 and 1
    batch.SessionEnded("p", true);
    EXPECT_EQ(batch.ModuleReady("p"), 0u); // offered again, first
    batch.Reassign("p", 3);
    batch.SessionEnded("p", false);
    EXPECT_EQ(batch.FailedCount(), 1u);
    EXPECT_EQ(batch.ModuleReady("p"), 3u); // its failed module took nothing
    batch.Exhausted("p");
    EXPECT_TRUE(batch.Exhausted());
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(batch.ModuleReady("q"), std::nullopt);
    EXPECT_EQ(batch.SetUpCount(), 1u);
}

} // namespace
} // namespace qz::batch
