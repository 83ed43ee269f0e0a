// The batch's decisions: what each module gets, in which order, and what a failure or a
// record means.

#include "Batch.h"

#include <gtest/gtest.h>

namespace qz::batch {
namespace {

using Texts = std::vector<std::string>;

TEST(Batch, CountsEachFormWithinItsWidth)
{
    struct Case {
        const char* option;
        const char* first;
        std::size_t modules;
        Texts values;
        bool passesTheTop;
        bool refused;
    };
    const Case cases[] = {
        {"minor", "00FE", 3, {"00FE", "00FF", "0100"}, false, false},
        {"major", "04d9", 2, {"04D9", "04DA"}, false, false},
        {"minor", "00998", 3, {"00998", "00999", "01000"}, false, false},
        {"minor", "FFFE", 3, {}, true, false},
        {"major", "99999", 2, {}, true, false},
        {"minor", "FFFF", 1, {"FFFF"}, false, false},
        {"address", "000e0b1234ff", 2, {"000E0B1234FF", "000E0B123500"}, false, false},
        {"address", "FFFFFFFFFFFF", 2, {}, true, false},
        {"name", "Lamp-09", 3, {"Lamp-09", "Lamp-10", "Lamp-11"}, false, false},
        {"name", "Lamp9", 2, {"Lamp9", "Lamp10"}, false, false},
        {"name", "Lamp", 2, {}, false, true},
        {"major", "123", 2, {}, false, true},
        {"address", "00:0E:0B:12", 2, {}, false, true},
        {"uuid", "0000FFF0", 2, {}, false, true},
    };
    for (const Case& c : cases) {
        const Counting counting = CountValues(c.option, c.first, c.modules);
        EXPECT_EQ(counting.values, c.passesTheTop || c.refused ? Texts{} : c.values) << c.option << " " << c.first;
        EXPECT_EQ(counting.passesTheTop, c.passesTheTop) << c.option << " " << c.first;
        EXPECT_EQ(!counting.problem.empty(), c.passesTheTop || c.refused) << c.option << " " << c.first;
        EXPECT_EQ(IsCountable(c.option), std::string(c.option) != "uuid");
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
    EXPECT_EQ(RecordHeader({"minor"}), (Texts{"time", "port", "minor", "taken", "total", "result", "message"}));
}

TEST(Batch, HandsOutInOrderAndGivesAFailedModulesValuesToTheNext)
{
    Batch batch({{"A"}, {"B"}, {"C"}}, {});
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

TEST(Batch, ResumesFromTheRowsARecordShowsSetUp)
{
    // A is set up once although it is listed twice; B's failed row does not count.
    Batch batch({{"A", "1"}, {"B", "2"}, {"A", "1"}, {"C", "3"}}, {{"A", "1"}, {"C", "3"}});
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

} // namespace
} // namespace qz::batch
