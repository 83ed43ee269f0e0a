// The record is written before a module is touched: whatever happens after (a kill, a full
// disk, a lost reply), no identity reaches two modules, and a module the record shows is
// not given a second one. Fake modules answer as the real ones do: their own address to
// AT+ADDR?, and the value they set echoed.

#include "FakeModule.h"
#include "FileText.h"
#include "QzconfigProcess.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using qz::test::FakeModule;
using Batch = qz::test::QzconfigProcess;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

using qz::test::readFile;

std::string freshPath(const std::string& name)
{
    const std::string path = testing::TempDir() + name;
    fs::remove_all(path);
    fs::remove_all(path + ".lock");
    return path;
}

// A broadcast module: it tells its own address, takes a new one with AT+ADDR and echoes
// what it set. replyToAddress, when set, is its whole answer to AT+ADDR (a lost or
// garbled reply, a refusal).
FakeModule::Script lamp(const std::string& factoryAddress, std::optional<std::string> replyToAddress = std::nullopt)
{
    auto address = std::make_shared<std::string>(factoryAddress);
    return [address, replyToAddress](const std::string& command) -> FakeModule::Reply {
        if (command == "AT+ADDR?")
            return FakeModule::ok("OK+ADDR:" + *address);
        if (command.rfind("AT+ADDR", 0) == 0) {
            *address = command.substr(7);
            if (replyToAddress)
                return replyToAddress->empty() ? FakeModule::Reply{} : FakeModule::ok(*replyToAddress);
            return FakeModule::ok("OK+Set:" + *address);
        }
        if (command == "AT+RENEW" || command == "AT+RESET")
            return FakeModule::ok("OK+" + command.substr(3));
        return FakeModule::ok();
    };
}

// The addresses a module was sent to set, in order.
std::vector<std::string> addressesSet(const FakeModule& module)
{
    std::vector<std::string> set;
    for (const std::string& command : module.commands()) {
        if (command.rfind("AT+ADDR", 0) == 0 && command != "AT+ADDR?")
            set.push_back(command.substr(7));
    }
    return set;
}

bool sentAnyOfTheList(const FakeModule& module)
{
    for (const std::string& command : module.commands()) {
        if (command != "AT" && command != "AT+ADDR?")
            return true;
    }
    return false;
}

// A fixture's link, moved to the next module's pseudo-terminal in one step.
void plug(const std::string& link, const FakeModule& module)
{
    const std::string next = link + ".next";
    fs::remove(next);
    fs::create_symlink(module.path(), next);
    fs::rename(next, link);
}

std::vector<std::string> lampBatch(const std::string& link, const std::string& record, int modules = 40)
{
    return {"broadcast", "--name=Lamp-01", "--address=000E0B000001", "--advert=020106", "--same",
            "--port=" + link, "--count=name,address", "--modules=" + std::to_string(modules), "--record=" + record};
}

std::string factoryAddress(std::size_t module)
{
    char text[13];
    std::snprintf(text, sizeof text, "00170A%06zX", module);
    return text;
}

// Killed at a random point of a random module, again and again, and run again each time
// with the next module or the same one left in place: no address ever reaches two modules,
// no module gets two, and every address sent is in the record.
TEST(RecordSafety, KilledAtAnyPointNoIdentityReachesTwoModules)
{
    const std::string link = freshPath("qz-soak-fixture");
    const std::string record = freshPath("qz-soak-record.csv");
    std::vector<std::unique_ptr<FakeModule>> modules;
    std::mt19937 random(20261208);
    for (int run = 0; run < 30; ++run) {
        if (modules.empty() || random() % 3 != 0) {
            modules.push_back(std::make_unique<FakeModule>(lamp(factoryAddress(modules.size() + 1))));
            plug(link, *modules.back());
        }
        Batch batch(lampBatch(link, record));
        std::this_thread::sleep_for(milliseconds(150));
        batch.pressEnter(); // as told: the module on the port is the next one
        std::this_thread::sleep_for(milliseconds(random() % 2500));
        batch.signal(SIGKILL);
        batch.wait();
    }
    const std::string recorded = readFile(record);
    std::map<std::string, std::size_t> owner;
    for (std::size_t module = 0; module < modules.size(); ++module) {
        const std::vector<std::string> set = addressesSet(*modules[module]);
        EXPECT_LE(set.size(), 1u) << "module " << module << " was given two addresses";
        for (const std::string& address : set) {
            const auto [first, fresh] = owner.emplace(address, module);
            EXPECT_TRUE(fresh) << address << " went to modules " << first->second << " and " << module;
            EXPECT_NE(recorded.find("," + address + ","), std::string::npos) << address << " is in no row";
        }
    }
    EXPECT_GE(owner.size(), 5u) << recorded; // the soak did set modules up
}

// A module that was sent its address carries it, whatever came back; one that says no is
// not set up.
TEST(RecordSafety, AModuleSentItsAddressCarriesItWhateverCameBack)
{
    struct Case {
        const char* name;
        std::string reply; // empty: none
        const char* said;
    };
    const Case cases[] = {
        {"no reply", "", "AT+ADDR000E0B000001 got no reply"},
        {"garbled", "O\xCB+Set:000E0B000001", "The module answered AT+ADDR000E0B000001 with \"O\\xCB+Set:000E0B000001\""},
        {"another address echoed", "OK+Set:000000000000",
         "The module answered AT+ADDR000E0B000001 with \"OK+Set:000000000000\""},
        {"OKERROR", "OKERROR", "The module answered AT+ADDR000E0B000001 with \"OKERROR\""},
    };
    for (const Case& c : cases) {
        const std::string link = freshPath("qz-lost-fixture");
        const std::string record = freshPath("qz-lost-record.csv");
        FakeModule first(lamp(factoryAddress(1), c.reply));
        FakeModule second(lamp(factoryAddress(2)));
        plug(link, first);
        Batch batch(lampBatch(link, record, 2));
        ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << c.name << batch.output();
        EXPECT_NE(batch.output().find(c.said), std::string::npos) << c.name << batch.output();
        plug(link, second);
        EXPECT_EQ(batch.wait(), 3) << c.name << batch.output();
        EXPECT_EQ(addressesSet(second), std::vector<std::string>{"000E0B000002"}) << c.name;
        EXPECT_NE(batch.output().find("1 of 2 modules were set up"), std::string::npos) << c.name;
    }
}

// Enter with the module just set up still on the port: it is told by its address and sent
// nothing; run again, the record knows it too.
TEST(RecordSafety, TheModuleJustSetUpIsNotGivenASecondIdentity)
{
    const std::string link = freshPath("qz-same-fixture");
    const std::string record = freshPath("qz-same-record.csv");
    FakeModule module(lamp(factoryAddress(1)));
    plug(link, module);
    Batch batch(lampBatch(link, record, 3));
    ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
    batch.pressEnter();
    ASSERT_TRUE(batch.waitFor("Sent nothing: this is module 1 of the record (000E0B000001), set up at ")) << batch.output();
    batch.signal(SIGINT);
    EXPECT_EQ(batch.wait(), 130);
    Batch again(lampBatch(link, record, 3));
    ASSERT_TRUE(again.waitFor("put the next one on, then press Enter")) << again.output();
    again.pressEnter();
    ASSERT_TRUE(again.waitFor("Sent nothing: this is module 1 of the record (000E0B000001)")) << again.output();
    again.signal(SIGINT);
    again.wait();
    EXPECT_EQ(addressesSet(module), std::vector<std::string>{"000E0B000001"});
}

// A record that cannot grow (a full disk, a file size limit): nothing is sent that the
// record does not show, the batch stops saying why, and the record holds no half row.
TEST(RecordSafety, ARecordThatCannotBeWrittenStopsTheBatchBeforeTheModuleIsTouched)
{
    const std::string link = freshPath("qz-full-fixture");
    const std::string record = freshPath("qz-full-record.csv");
    FakeModule first(lamp(factoryAddress(1)));
    plug(link, first);
    {
        Batch batch(lampBatch(link, record, 4));
        ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
        batch.signal(SIGINT);
        batch.wait();
    }
    const std::string before = readFile(record);
    // Each module's started row is as long as the first one's.
    const std::size_t started = before.find('\n', before.find(",started,")) - before.rfind('\n', before.find(",started,"));
    struct Case {
        const char* name;
        std::size_t room; // bytes the record may grow by
        bool listSent;
    };
    const Case cases[] = {{"no room for the started row", started - 10, false},
                          {"room for the started row only", started + 10, true}};
    std::vector<std::unique_ptr<FakeModule>> modules;
    // The batch run again with the next lamp put on, as it asks, then Enter.
    const auto resumed = [&](std::optional<std::size_t> room) {
        modules.push_back(std::make_unique<FakeModule>(lamp(factoryAddress(modules.size() + 2))));
        plug(link, *modules.back());
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit original = limit;
        if (room)
            limit.rlim_cur = readFile(record).size() + *room;
        setrlimit(RLIMIT_FSIZE, &limit); // the batch inherits it
        auto batch = std::make_unique<Batch>(lampBatch(link, record, 4));
        setrlimit(RLIMIT_FSIZE, &original);
        EXPECT_TRUE(batch->waitFor("put the next one on, then press Enter")) << batch->output();
        batch->pressEnter();
        return batch;
    };
    for (const Case& c : cases) {
        const std::string text = readFile(record);
        const std::unique_ptr<Batch> batch = resumed(c.room);
        EXPECT_EQ(batch->wait(), 3) << c.name << batch->output();
        EXPECT_NE(batch->output().find("cannot write it: File too large"), std::string::npos) << c.name << batch->output();
        EXPECT_EQ(sentAnyOfTheList(*modules.back()), c.listSent) << c.name;
        const std::string after = readFile(record);
        EXPECT_EQ(after.back(), '\n') << c.name << ": a row was cut";
        EXPECT_EQ(after.size(), text.size() + (c.listSent ? started : 0)) << c.name;
    }
    // The module that was sent its list carries its address: the next gets the next one.
    const std::unique_ptr<Batch> next = resumed(std::nullopt);
    ASSERT_TRUE(next->waitFor("Waiting for the next module", 2)) << next->output();
    next->signal(SIGINT);
    next->wait();
    EXPECT_EQ(addressesSet(*modules[1]), std::vector<std::string>{"000E0B000002"});
    EXPECT_EQ(addressesSet(*modules.back()), std::vector<std::string>{"000E0B000003"});
}

// The record is held by the file itself: another name for it finds it taken. A lock file
// left with nothing readable is taken over, saying so; one that is a folder is refused.
TEST(RecordSafety, TheRecordIsLockedUnderEveryNameItHas)
{
    const std::string link = freshPath("qz-lock-fixture");
    const std::string record = freshPath("qz-lock-record.csv");
    FakeModule module(lamp(factoryAddress(1)));
    plug(link, module);
    Batch running(lampBatch(link, record, 3));
    ASSERT_TRUE(running.waitFor("Waiting for the next module")) << running.output();
    const std::string symlink = freshPath("qz-lock-symlink.csv");
    const std::string hardLink = freshPath("qz-lock-hardlink.csv");
    fs::create_symlink(record, symlink);
    fs::create_hard_link(record, hardLink);
    FakeModule other(lamp(factoryAddress(2)));
    // The lock file beside the record names the holder; a hard link is another name beside it.
    for (const auto& [name, said] : {std::pair(symlink, "another batch is using it (process "),
                                     std::pair(hardLink, "another batch is using it")}) {
        Batch second(lampBatch(other.path(), name, 3), true);
        EXPECT_EQ(second.wait(), 2) << name;
        EXPECT_NE(second.errors().find(said), std::string::npos) << second.errors();
    }
    EXPECT_TRUE(other.commands().empty());
    running.signal(SIGINT);
    running.wait();

    const std::string left = freshPath("qz-left-record.csv");
    std::ofstream(left + ".lock") << "garbage";
    Batch takesOver(lampBatch(other.path(), left, 1), true);
    EXPECT_EQ(takesOver.wait(), 0) << takesOver.errors();
    EXPECT_NE(takesOver.errors().find(".lock named no batch: taken over"), std::string::npos) << takesOver.errors();
    EXPECT_FALSE(fs::exists(left + ".lock"));

    const std::string folder = freshPath("qz-folder-record.csv");
    fs::create_directory(folder + ".lock");
    Batch refused(lampBatch(other.path(), folder, 1), true);
    EXPECT_EQ(refused.wait(), 2);
    EXPECT_NE(refused.errors().find(".lock is a folder"), std::string::npos) << refused.errors();
    fs::remove_all(folder + ".lock");
}

} // namespace
