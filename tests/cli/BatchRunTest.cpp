// qzconfig setting up many modules: fake modules on pseudo-terminals that come and go
// behind a link, refuse, or stay put until Enter; every byte each module received is
// compared with the values of its row in the record.

#include "FakeModule.h"
#include "FileText.h"
#include "QzconfigProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using qz::test::FakeModule;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

using qz::test::readFile;

using Batch = qz::test::QzconfigProcess;

// A fixture whose adapter is swapped: the link moves to the next module's pseudo-terminal
// in one step, and the old module hangs up.
struct Fixture {
    std::string link;
    std::vector<std::unique_ptr<FakeModule>> modules;

    Fixture(const std::string& name, std::vector<FakeModule::Script> scripts)
        : link(testing::TempDir() + name)
    {
        for (FakeModule::Script& script : scripts)
            modules.push_back(std::make_unique<FakeModule>(std::move(script)));
        plug(0);
    }
    void plug(std::size_t module)
    {
        const std::string next = link + ".next";
        fs::remove(next);
        fs::create_symlink(modules[module]->path(), next);
        fs::rename(next, link);
    }
};

FakeModule::Script ok()
{
    return [](const std::string&) { return FakeModule::ok(); };
}

FakeModule::Script refusing(const std::string& command)
{
    return [command](const std::string& got) { return FakeModule::ok(got == command ? "ERROR" : "OK"); };
}

std::string recordFile(const std::string& name)
{
    const std::string path = testing::TempDir() + name;
    fs::remove(path);
    return path;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// The columns after the time of each record row; a module's started row is left out
// where withStarted is false.
std::vector<std::string> rowsWithoutTime(const std::string& record, bool withStarted = false)
{
    std::vector<std::string> rows;
    for (const std::string& line : lines(record)) {
        if (withStarted || line.find(",started,") == std::string::npos)
            rows.push_back(line.rfind("time,", 0) == 0 ? line : line.substr(line.find(',') + 1));
    }
    return rows;
}

bool received(const FakeModule& module, const std::string& command)
{
    for (const std::string& got : module.commands()) {
        if (got == command)
            return true;
    }
    return false;
}

TEST(QzconfigBatch, CountsUpOneModuleAfterAnotherAsTheyArePluggedInAndRecordsEach)
{
    Fixture fixture("qz-fixture-a", {ok(), refusing("AT+IBEA1"), ok()});
    const std::string record = recordFile("qz-record-a.csv");
    Batch batch({"ibeacon", "--minor=00FE", "--port=" + fixture.link, "--modules=2", "--count=minor",
                 "--record=" + record});
    ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
    fixture.plug(1); // this one refuses: 00FF goes to the next module
    ASSERT_TRUE(batch.waitFor("Waiting for the next module", 2)) << batch.output();
    fixture.plug(2);
    EXPECT_EQ(batch.wait(), 0) << batch.output();
    EXPECT_NE(batch.output().find("2 of 2 modules were set up\n"), std::string::npos) << batch.output();
    const std::string port = fixture.link + ",,0000FFF0-0000-1000-8000-00805F9B34FB,10123";
    // Each module's row says it started before it was sent its list.
    EXPECT_EQ(rowsWithoutTime(readFile(record), true),
              (std::vector<std::string>{"time,port,module,uuid,major,minor,sent,taken,total,result,message",
                                        port + ",00FE,0,0,8,started,",
                                        port + ",00FE,8,8,8,set up,8 of 8 commands were taken",
                                        port + ",00FF,0,0,8,started,",
                                        port + ",00FF,2,1,8,failed,\"The module answered AT+IBEA1 with \"\"ERROR\"\"; 1 "
                                               "of 8 commands were taken; the module is partly set up\"",
                                        port + ",00FF,0,0,8,started,",
                                        port + ",00FF,8,8,8,set up,8 of 8 commands were taken"}));
    // A module's values are chosen once it told its address, and only then said.
    EXPECT_NE(batch.output().find("the record cannot tell it from another\nModule on " + fixture.link + ": --minor=00FF\n> AT+RENEW\n"),
              std::string::npos) << batch.output();
    EXPECT_TRUE(received(*fixture.modules[0], "AT+MINO0x00FE"));
    EXPECT_FALSE(received(*fixture.modules[1], "AT+MINO0x00FF")); // it stopped at AT+IBEA1
    EXPECT_TRUE(received(*fixture.modules[2], "AT+MINO0x00FF"));
    EXPECT_FALSE(received(*fixture.modules[2], "AT+MINO0x00FE"));
}

TEST(QzconfigBatch, APortNamedLikeTtyUSB0IsWatchedInDev)
{
    const std::string name = "qzfixture" + std::to_string(getpid());
    Fixture fixture(name, {ok(), ok()});
    const std::string device = "/dev/" + name;
    std::error_code error;
    fs::create_symlink(fixture.modules[0]->path(), device, error);
    if (error)
        GTEST_SKIP() << "cannot make a link in /dev: " << error.message();
    const std::string record = recordFile("qz-record-f.csv");
    Batch batch({"ibeacon", "--port=" + name, "--modules=2", "--count=minor", "--minor=0001", "--record=" + record});
    const bool waited = batch.waitFor("Waiting for the next module on " + name);
    fs::remove(device); // unplugged, and the next one plugged in
    fs::create_symlink(fixture.modules[1]->path(), device, error);
    const int status = batch.wait();
    fs::remove(device);
    ASSERT_TRUE(waited) << batch.output();
    EXPECT_EQ(status, 0) << batch.output();
    EXPECT_TRUE(received(*fixture.modules[1], "AT+MINO0x0002"));
}

TEST(QzconfigBatch, SeveralPortsAtOnceTakeTheRowsOfAValuesFileAndEnterSwapsModules)
{
    Fixture first("qz-fixture-b1", {ok()});
    Fixture second("qz-fixture-b2", {ok()});
    const std::string values = testing::TempDir() + "qz-units.csv";
    std::ofstream(values) << "name,address\n\"Lamp, 1\",000E0B000001\nLamp-2,000E0B000002\nLamp-3,000E0B000003\n";
    const std::string record = recordFile("qz-record-b.csv");
    Batch batch({"broadcast", "--advert=020106", "--same", "--port=" + first.link, "--port=" + second.link,
                 "--values=" + values, "--record=" + record});
    ASSERT_TRUE(batch.waitFor("Waiting for the next module", 2)) << batch.output();
    // Both modules are still in place: Enter alone cannot tell which one was swapped.
    batch.pressEnter();
    ASSERT_TRUE(batch.waitFor("several ports are waiting: type 1 (" + first.link + ") or 2 (" + second.link
                              + "), then Enter\n"))
        << batch.output();
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(first.modules[0]->commands().size() + second.modules[0]->commands().size(), 2u * 12u); // one module each
    batch.type("2\n"); // the third row goes to the second fixture only
    EXPECT_EQ(batch.wait(), 0) << batch.output();
    EXPECT_NE(batch.output().find("[" + first.link + "] > AT+RENEW\n"), std::string::npos) << batch.output();
    EXPECT_NE(batch.output().find("3 of 3 modules were set up\n"), std::string::npos);
    const std::vector<std::string> rows = rowsWithoutTime(readFile(record));
    ASSERT_EQ(rows.size(), 4u) << readFile(record);
    EXPECT_EQ(rows[0], "time,port,module,name,address,advert,scan,same,sent,taken,total,result,message");
    EXPECT_EQ(rows[3].rfind(second.link + ",,Lamp-3,000E0B000003,020106,,yes,10,10,10,set up", 0), 0u) << rows[3];
    EXPECT_EQ(first.modules[0]->commands().size(), 12u); // AT, AT+ADDR? and its 10 commands, once
    EXPECT_TRUE(received(*second.modules[0], "AT+ADDR000E0B000003"));
    EXPECT_TRUE(received(*first.modules[0], "AT+NAMELamp, 1"));
}

TEST(QzconfigBatch, ResumesFromTheRecordAndStopsOnCtrlC)
{
    Fixture fixture("qz-fixture-c", {ok()});
    const std::string record = recordFile("qz-record-c.csv");
    std::ofstream(record) << "time,port,name,address,advert,scan,same,taken,total,result,message\n"
                             "2026-12-07T10:00:00Z,x,Lamp-08,000E0B123456,020106,,yes,10,10,set up,10 of 10 commands were taken\n"
                             "2026-12-07T10:01:00Z,x,Lamp-08,000E0B123457,020106,,yes,2,10,failed,port failed\n";
    // The failed module never took its AT+ADDR: its address goes to the next module.
    Batch batch({"broadcast", "--name=Lamp-08", "--address=000E0B123456", "--advert=020106", "--same",
                 "--port=" + fixture.link, "--modules=3", "--count=address", "--record=" + record});
    ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
    // Enter with the fixture's adapter unplugged: there is no module to take.
    fs::remove(fixture.link);
    batch.pressEnter();
    std::this_thread::sleep_for(milliseconds(300));
    batch.signal(SIGINT);
    EXPECT_EQ(batch.wait(), 130);
    EXPECT_EQ(batch.output().find("failed"), std::string::npos) << batch.output();
    EXPECT_NE(batch.output().find("The record shows 1 of 3 modules set up already\n"), std::string::npos);
    EXPECT_NE(batch.output().find("2 of 3 modules were set up\n"), std::string::npos) << batch.output();
    EXPECT_TRUE(received(*fixture.modules[0], "AT+ADDR000E0B123457"));
    EXPECT_FALSE(received(*fixture.modules[0], "AT+ADDR000E0B123456"));
    // Rows in the current columns follow under their own header: started, then set up.
    EXPECT_EQ(lines(readFile(record)).size(), 6u);
}

// --commands shows a batch before it runs: each module's values and commands, or what the
// record says of it; nothing is sent, and a refusal is the real run's.
TEST(QzconfigBatch, CommandsShowsEachModuleAndSendsNothing)
{
    const std::string record = recordFile("qz-record-dry.csv");
    std::ofstream(record) << "time,port,uuid,major,minor,taken,total,result,message\n"
                             "t,p,0000FFF0-0000-1000-8000-00805F9B34FB,10123,00254,8,8,set up,m\n"
                             "t,p,0000FFF0-0000-1000-8000-00805F9B34FB,10123,00FF,8,8,failed,m\n";
    Batch shown({"ibeacon", "--minor=00FE", "--count=minor", "--modules=3", "--commands", "--record=" + record}, true);
    EXPECT_EQ(shown.wait(), 0) << shown.errors();
    EXPECT_EQ(shown.output(), "Module 1: --minor=00FE: set up already, as the record shows\n"
                              "Module 2: --minor=00FF: left out, taken by a module that failed, as the record shows\n"
                              "Module 3: --minor=0100\n"
                              "AT+RENEW\nAT+IBEA1\nAT+IBE00000FFF0\nAT+IBE100001000\nAT+IBE280000080\nAT+IBE35F9B34FB\n"
                              "AT+MARJ0x278B\nAT+MINO0x0100\n");
    const std::vector<std::string> fixed = {"broadcast", "--name=Lamp-01", "--address=000E0B000001", "--advert=020106",
                                            "--same", "--modules=2", "--count=name", "--commands"};
    Batch refused(fixed, true);
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_EQ(refused.errors(),
              "qzconfig: --address is the same on every module: count it, --count=name,address, or give it in --values\n");
    EXPECT_EQ(lines(readFile(record)).size(), 3u); // read, never written
}

// A bad lot: once as many modules in a row failed as --max-failures says, the batch stops.
TEST(QzconfigBatch, MaxFailuresStopsABadLot)
{
    FakeModule first(refusing("AT+IBEA1"));
    FakeModule second(refusing("AT+IBEA1"));
    const std::string record = recordFile("qz-record-bad-lot.csv");
    Batch batch({"ibeacon", "--minor=00FE", "--port=" + first.path(), "--port=" + second.path(), "--modules=5",
                 "--count=minor", "--max-failures=2", "--record=" + record});
    EXPECT_EQ(batch.wait(), 3) << batch.output();
    EXPECT_TRUE(batch.waitFor("Stopped: 2 modules in a row failed (--max-failures)")) << batch.output();
    EXPECT_NE(batch.output().find("0 of 5 modules were set up\n"), std::string::npos);
    EXPECT_EQ(rowsWithoutTime(readFile(record)).size(), 3u); // the header and the two that failed

    // Modules that never answer AT fail before any values are theirs: they count, and
    // nothing is recorded.
    FakeModule silent([](const std::string&) { return FakeModule::Reply{}; });
    const std::string deadRecord = recordFile("qz-record-dead-lot.csv");
    Batch dead({"ibeacon", "--minor=00FE", "--port=" + silent.path(), "--modules=5", "--count=minor", "--max-failures=2",
                "--timeout=200", "--record=" + deadRecord});
    ASSERT_TRUE(dead.waitFor("Waiting for the next module")) << dead.output();
    dead.pressEnter();
    EXPECT_EQ(dead.wait(), 3) << dead.output();
    EXPECT_TRUE(dead.waitFor("failed: The module did not answer AT within 200 ms", 2)) << dead.output();
    EXPECT_TRUE(dead.waitFor("Stopped: 2 modules in a row failed (--max-failures)")) << dead.output();
    EXPECT_EQ(rowsWithoutTime(readFile(deadRecord), true).size(), 1u); // its header alone

    Batch wrong({"ibeacon", "--port=" + first.path(), "--modules=5", "--count=minor", "--max-failures=0",
                 "--record=" + record});
    EXPECT_EQ(wrong.wait(), 2);
    EXPECT_EQ(wrong.output(), "qzconfig: --max-failures must be a number of modules from 1 to 99999, not '0' (see "
                              "qzconfig ibeacon --help)\n");
}

// A port whose last module in the record took its values may hold it still: the batch
// waits for a swap or Enter before that port's first module, which gets the next value,
// and says what the record shows of the module there.
TEST(QzconfigBatch, AResumedPortWaitsForItsModuleToBeSwapped)
{
    struct Case {
        const char* row; // after the port
        const char* said;
        int status; // the failed module's values left out, one of two modules is set up
    };
    const Case cases[] = {
        {",0000FFF0-0000-1000-8000-00805F9B34FB,10123,00FE,8,8,set up,m\n", "a module set up on PORT", 0},
        {",0000FFF0-0000-1000-8000-00805F9B34FB,10123,00FE,3,8,failed,m\n",
         "a module on PORT that failed, carrying its values", 3},
    };
    for (const Case& c : cases) {
        Fixture fixture("qz-fixture-resume", {ok()});
        const std::string record = recordFile("qz-record-resume.csv");
        std::ofstream(record) << "time,port,uuid,major,minor,taken,total,result,message\n"
                                 "t," + fixture.link + c.row;
        Batch batch({"ibeacon", "--minor=00FE", "--port=" + fixture.link, "--modules=2", "--count=minor",
                     "--record=" + record});
        std::string said = c.said;
        said.replace(said.find("PORT"), 4, fixture.link);
        ASSERT_TRUE(batch.waitFor("The record shows " + said + ": put the next one on, then press Enter\n"))
            << batch.output();
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_TRUE(fixture.modules[0]->received().empty()); // the module set up before is not touched
        batch.pressEnter();
        EXPECT_EQ(batch.wait(), c.status) << batch.output();
        EXPECT_TRUE(received(*fixture.modules[0], "AT+MINO0x00FF"));
        EXPECT_FALSE(received(*fixture.modules[0], "AT+MINO0x00FE"));
    }
}

// A second batch on a record in use is refused before any port opens, naming the first.
TEST(QzconfigBatch, OneBatchPerRecord)
{
    Fixture first("qz-fixture-lock-a", {ok()});
    FakeModule second;
    const std::string record = recordFile("qz-record-lock.csv");
    Batch running({"ibeacon", "--minor=00FE", "--port=" + first.link, "--modules=3", "--count=minor",
                   "--record=" + record});
    ASSERT_TRUE(running.waitFor("Waiting for the next module")) << running.output();
    Batch refused({"ibeacon", "--minor=00FE", "--port=" + second.path(), "--modules=3", "--count=minor",
                   "--record=" + record}, true);
    EXPECT_EQ(refused.wait(), 2);
    EXPECT_EQ(refused.errors().rfind("qzconfig: --record " + record + ": another batch is using it (process ", 0), 0u)
        << refused.errors();
    EXPECT_NE(refused.errors().find("; one batch per record\n"), std::string::npos);
    EXPECT_TRUE(second.received().empty());
    running.signal(SIGINT);
    EXPECT_EQ(running.wait(), 130);
    // Once the first has ended, the record is free again.
    Batch after({"ibeacon", "--minor=00FE", "--port=" + second.path(), "--modules=1", "--count=minor",
                 "--record=" + record});
    EXPECT_EQ(after.wait(), 0) << after.output();
}

// A port that cannot be opened reached no module: no row, no unit used; it says so once
// and tries again by itself.
TEST(QzconfigBatch, APortThatCannotBeOpenedUsesNoUnitAndTriesAgain)
{
    const std::string notAPort = testing::TempDir() + "qz-not-a-port";
    std::ofstream(notAPort) << "";
    const std::string record = recordFile("qz-record-e.csv");
    Batch batch({"ibeacon", "--port=" + notAPort, "--modules=1", "--count=minor", "--minor=0001", "--record=" + record});
    ASSERT_TRUE(batch.waitFor("Cannot open " + notAPort + ": not a serial device; trying again every second"))
        << batch.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    batch.signal(SIGTERM);
    EXPECT_EQ(batch.wait(), 143);
    EXPECT_EQ(rowsWithoutTime(readFile(record), true).size(), 1u) << readFile(record); // its header alone
    EXPECT_EQ(batch.output().find("Cannot open", batch.output().find("Cannot open") + 1), std::string::npos);
    EXPECT_NE(batch.output().find("0 of 1 modules were set up\n"), std::string::npos);
    EXPECT_EQ(readFile(notAPort), "");
}

// One row per module, its last word, as a CSV reader takes it: a retried module once, what
// listening found apart, a module cut short by a crash as started, a line a crash cut dropped.
TEST(QzconfigBatch, AReportGivesEachModuleItsLastWordAsCsv)
{
    const std::string record = recordFile("qz-record-report.csv");
    const std::string beacon = "0000FFF0-0000-1000-8000-00805F9B34FB,10123,";
    std::ofstream(record) << "time,port,module,uuid,major,minor,sent,taken,total,result,message\n"
                          << "2026-12-09T10:00:00Z,p1,000E0B12345E," << beacon << "00FE,0,0,8,started,\n"
                          << "2026-12-09T10:00:02Z,p1,000E0B12345E," << beacon
                          << "00FE,8,8,8,set up,\"8 of 8 commands were taken; heard as set: 00:0E:0B:12:34:5E, \"\"L,1\"\"\"\n"
                          << "2026-12-09T10:00:03Z,p1,000E0B12345F," << beacon << "00FF,0,0,8,started,\n"
                          << "2026-12-09T10:00:04Z,p1,000E0B12345F," << beacon << "00FF,8,7,8,failed,ERROR to AT+MINO\n"
                          << "2026-12-09T10:00:05Z,p2,," << beacon << "0100,0,0,8,started,\n"
                          << "2026-12-09T10:00:06Z,p2,," << beacon << "0100,1,0,8,failed,ERROR to AT+RENEW\n"
                          << "2026-12-09T10:01:00Z,p1,000E0B12345F," << beacon << "00FF,0,0,8,started,\n"
                          << "2026-12-09T10:01:02Z,p1,000E0B12345F," << beacon << "00FF,8,8,8,set up,8 of 8 commands were taken\n"
                          << "2026-12-09T10:01:03Z,p2,000E0B123460," << beacon << "0101,0,0,8,started,\n"
                          << "2026-12-09T10:01:04Z,p2,000E0B123460," << beacon << "0101,3,3";
    Batch report({"report", "--record=" + record});
    EXPECT_EQ(report.wait(), 0) << report.output();
    const std::string csv = testing::TempDir() + "qz-report.csv";
    std::ofstream(csv) << report.output();
    const std::string read = "python3 -c \"import csv,sys; [print('|'.join(r)) for r in csv.reader(open(sys.argv[1], "
                             "newline=''))]\" " + csv;
    std::string rows;
    FILE* python = popen(read.c_str(), "r");
    ASSERT_NE(python, nullptr);
    for (int c = std::fgetc(python); c != EOF; c = std::fgetc(python))
        rows += static_cast<char>(c);
    EXPECT_EQ(pclose(python), 0);
    const std::string lead = "0000FFF0-0000-1000-8000-00805F9B34FB|10123|";
    EXPECT_EQ(lines(rows),
              (std::vector<std::string>{
                  "uuid|major|minor|module|bench|port|started|ended|result|message|air",
                  lead + "00FE|000E0B12345E||p1|2026-12-09T10:00:00Z|2026-12-09T10:00:02Z|set up|8 of 8 commands were "
                         "taken|heard as set: 00:0E:0B:12:34:5E, \"L,1\"",
                  lead + "0100|||p2|2026-12-09T10:00:05Z|2026-12-09T10:00:06Z|failed|ERROR to AT+RENEW|",
                  lead + "00FF|000E0B12345F||p1|2026-12-09T10:01:00Z|2026-12-09T10:01:02Z|set up|8 of 8 commands were taken|",
                  lead + "0101|000E0B123460||p2|2026-12-09T10:01:03Z||started||",
              }));
    Batch json({"report", "--record=" + record, "--json"});
    EXPECT_EQ(json.wait(), 0);
    EXPECT_NE(json.output().find("\"minor\": \"0101\""), std::string::npos) << json.output();
    Batch missing({"report", "--record=" + testing::TempDir() + "qz-no-record.csv"});
    EXPECT_EQ(missing.wait(), 3);
}

TEST(QzconfigBatch, APortNotThereYetIsAwaitedByName)
{
    const std::string absent = testing::TempDir() + "qz-absent-adapter";
    fs::remove(absent);
    const std::string record = recordFile("qz-record-g.csv");
    Batch batch({"ibeacon", "--port=" + absent, "--modules=1", "--count=minor", "--minor=0001", "--record=" + record});
    EXPECT_TRUE(batch.waitFor("Waiting for " + absent + " to appear: plug in its adapter\n")) << batch.output();
    batch.signal(SIGTERM);
    EXPECT_EQ(batch.wait(), 143);
    EXPECT_EQ(batch.output().find("Waiting for the next module"), std::string::npos) << batch.output();
}

TEST(QzconfigBatch, RefusesBeforeAnyPortIsOpened)
{
    FakeModule module;
    const std::string values = testing::TempDir() + "qz-bad-units.csv";
    std::ofstream(values) << "name,address\nLamp,000E0B123456\n\"  \",000E0B123457\n";
    const std::string fifo = recordFile("qz-record-fifo");
    mkfifo(fifo.c_str(), 0600);
    const std::string unreadable = recordFile("qz-record-unreadable.csv");
    std::ofstream(unreadable) << "";
    fs::permissions(unreadable, fs::perms::owner_write);
    const std::string cut = recordFile("qz-record-garbage.csv");
    std::ofstream(cut) << "time,port,uuid,major,minor,taken,total,result,message\ngarbage\n";
    const std::string minors = testing::TempDir() + "qz-minors.csv";
    std::ofstream(minors) << "minor\n00FE\n00FF\n00254\n";
    // A spreadsheet's byte-order mark is skipped; a second one is a difference nobody sees unescaped.
    const std::string marked = testing::TempDir() + "qz-marked.csv";
    std::ofstream(marked) << "\xEF\xBB\xBF\xEF\xBB\xBFminor\n00FE\n";
    const std::string record = recordFile("qz-record-d.csv");
    const std::string other = recordFile("qz-record-other.csv");
    std::ofstream(other) << "time,port,major,taken,total,result,message\n";
    const std::string sameColumns = recordFile("qz-record-first-batch.csv");
    std::ofstream(sameColumns) << "time,port,uuid,major,minor,taken,total,result,message\n"
                                  "t,p,0000FFF0-0000-1000-8000-00805F9B34FB,0001,00FE,8,8,set up,m\n";
    const std::string port = "--port=" + module.path();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string output;
    };
    const Case cases[] = {
        {{"broadcast", "--advert=020106", "--same", port, "--values=" + values,
          "--record=" + record},
         1, "qzconfig: " + values + " line 3: --name: Please fill in all fields; empty: type the name to advertise, up to "
            "15 bytes\n"},
        {{"ibeacon", "--minor=FFFE", port, "--modules=3", "--count=minor", "--record=" + record}, 1,
         "qzconfig: --minor: counting 3 modules from FFFE passes FFFF\n"},
        // A counted value is checked as typed ones are, before any port opens.
        {{"broadcast", "--name=ABCDEFGHIJKLMN9", "--address=000E0B123456", "--advert=020106", "--same", port,
          "--modules=3", "--count=name", "--record=" + record},
         1, "qzconfig: --name: module 2 would get ABCDEFGHIJKLMN10, which is 16 bytes long; its field holds at most 15\n"},
        {{"ibeacon", "--minor=00000", port, "--modules=2", "--count=minor", "--record=" + record}, 1,
         "qzconfig: --minor: module 1 would get 00000: Please input correct iBeacon Minor value!; 00000 is 0, and the "
         "value must be from 1 to 65535\n"},
        // The record of the same page, with another major: another batch.
        {{"ibeacon", "--major=0002", port, "--modules=3", "--count=minor", "--record=" + sameColumns}, 2,
         "qzconfig: --record " + sameColumns + " records another batch: its --major is '0001', and this batch's is "
         "'0002'; use another record file (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=3", "--count=minor", "--record=" + testing::TempDir() + "no-such-folder/r.csv"}, 2,
         "qzconfig: --record " + testing::TempDir() + "no-such-folder/r.csv: its folder " + testing::TempDir()
             + "no-such-folder does not exist (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--values=" + testing::TempDir(), "--record=" + record}, 2,
         "qzconfig: --values " + testing::TempDir() + ": a folder, not a CSV file (see qzconfig ibeacon --help)\n"},
        // Files that are not files: nothing is read from them.
        {{"ibeacon", port, "--values=/dev/zero", "--record=" + record}, 2,
         "qzconfig: --values /dev/zero: not a regular file: a device, a FIFO or a socket holds no CSV file (see qzconfig "
         "ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=2", "--count=minor", "--record=" + fifo}, 2,
         "qzconfig: --record " + fifo + ": not a regular file: a device, a FIFO or a socket holds no CSV file (see "
         "qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=2", "--count=minor", "--record=" + unreadable}, 2,
         "qzconfig: --record " + unreadable + ": cannot read it: Permission denied (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=2", "--count=minor", "--record=" + cut}, 2,
         "qzconfig: --record " + cut + " line 2 cannot be read: 'garbage'; the module it describes is unknown: mend the "
         "line or remove it (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=3", "--count=uuid", "--record=" + record}, 2,
         "qzconfig: --count=uuid: this page counts up only --major or --minor (see qzconfig ibeacon --help)\n"},
        // No two modules get one identity.
        {{"broadcast", "--name=Lamp-01", "--address=000E0B000001", "--advert=020106", "--same", port, "--modules=3",
          "--count=name", "--record=" + record},
         1, "qzconfig: --address is the same on every module: count it, --count=name,address, or give it in --values\n"},
        {{"ibeacon", port, "--values=" + minors, "--record=" + record}, 1,
         "qzconfig: " + minors + " line 4: the same --uuid, --major and --minor as line 2: no two modules may carry "
         "them\n"},
        {{"ibeacon", port, "--values=" + marked, "--record=" + record}, 2,
         "qzconfig: --values " + marked + ": '\\xEF\\xBB\\xBFminor' is no option of the ibeacon page (see qzconfig "
         "ibeacon --help)\n"},
        {{"broadcast", port, "--modules=2", "--count=name,name", "--record=" + record}, 2,
         "qzconfig: --count=name,name names name twice (see qzconfig broadcast --help)\n"},
        {{"broadcast", port, "--modules=2", "--count=name,advert", "--record=" + record}, 2,
         "qzconfig: --count=advert: this page counts up only --name or --address (see qzconfig broadcast --help)\n"},
        {{"broadcast", port, "--modules=2", "--count=name", "--name=Lamp", "--record=" + record}, 2,
         "qzconfig: --count=name: a name counts up by the digits at its end (Lamp-01), and this one has none (see "
         "qzconfig broadcast --help)\n"},
        {{"ibeacon", port, "--modules=3", "--count=minor"}, 2,
         "qzconfig: a batch needs --record=FILE, where each module's result is written (see qzconfig ibeacon "
         "--help)\n"},
        {{"ibeacon", port, port, "--record=" + record}, 2,
         "qzconfig: a batch gives each module its values: --count=OPTION --modules=N, or --values=FILE (see "
         "qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=3", "--record=" + record}, 2,
         "qzconfig: --count and --modules go together: --count=OPTION --modules=N (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", port, "--modules=3", "--count=minor", "--record=" + other}, 2,
         "qzconfig: --record " + other + " records another batch: its columns are time,port,major,taken,total,"
         "result,message, and this batch's are time,port,module,uuid,major,minor,sent,taken,total,result,message (see "
         "qzconfig "
         "ibeacon --help)\n"},
    };
    for (const Case& c : cases) {
        if (geteuid() == 0 && c.output.find("Permission denied") != std::string::npos)
            continue; // root reads any file
        Batch batch(c.args);
        EXPECT_EQ(batch.wait(), c.status) << c.output;
        EXPECT_EQ(batch.output(), c.output);
    }
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(module.commands().empty());
    EXPECT_FALSE(fs::exists(record));
}

} // namespace
