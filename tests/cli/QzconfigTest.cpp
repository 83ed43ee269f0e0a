// Runs the real qzconfig binary and compares its exit status, standard output and
// standard error byte for byte.

#include "BeaconList.h"
#include "BroadcastList.h"
#include "FakeModule.h"
#include "FileText.h"
#include "PageModel.h"
#include "StudyList.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};

using qz::test::readFile;

ProcessResult runQzconfig(const std::vector<std::string>& args)
{
    char outPath[] = "/tmp/qzconfig-out-XXXXXX";
    char errPath[] = "/tmp/qzconfig-err-XXXXXX";
    const int outFd = mkstemp(outPath);
    const int errFd = mkstemp(errPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);

    std::vector<char*> argv{const_cast<char*>(QZCONFIG_PATH)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    ProcessResult run;
    pid_t pid = 0;
    if (posix_spawn(&pid, QZCONFIG_PATH, &actions, nullptr, argv.data(), environ) == 0) {
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    std::remove(outPath);
    std::remove(errPath);
    return run;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args)
        text += "[" + arg + "]";
    return text;
}

std::string printed(const qz::GeneratorResult& result)
{
    std::string out;
    for (const std::string& line : std::get<qz::CommandList>(result))
        out += line + "\n";
    return out;
}

struct Expected {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

void expectRuns(const std::vector<Expected>& cases)
{
    for (const Expected& c : cases) {
        const ProcessResult run = runQzconfig(c.args);
        EXPECT_EQ(run.status, c.status) << joined(c.args);
        EXPECT_EQ(run.out, c.out) << joined(c.args);
        EXPECT_EQ(run.err, c.err) << joined(c.args);
    }
}

TEST(Qzconfig, PrintsTheInitialIBeaconListByteForByte)
{
    expectRuns({{{"ibeacon"},
                 0,
                 "         Those AT Command only need be executed once more\n"
                 "         ================================================\n"
                 "AT+RENEW\n\nAT+IBEA1\n\nAT+IBE00000FFF0\n\nAT+IBE100001000\n\nAT+IBE280000080\n\n"
                 "AT+IBE35F9B34FB\n\nAT+MARJ0x278B\n\nAT+MINO0x278D\n",
                 ""}});
}

TEST(Qzconfig, ListsAreTheGeneratorsLinesWithDefaultsForMissingOptions)
{
    using namespace qz;
    const std::string notify128 = "0000FFE1-0000-1000-8000-00805F9B34FB";
    const std::string write128 = "0000FFE2-0000-1000-8000-00805F9B34FB";
    const std::string initialStudy = printed(BuildStudyList(0, "FFE1", "FFE1"));
    expectRuns({
        {{"study"}, 0, initialStudy, ""},
        {{"study", "--uuid-type=16", "--notify", "FFE1", "--write=ffe1"}, 0, initialStudy, ""},
        {{"study", "--notify=0000", "--notify=FFE1"}, 0, initialStudy, ""},
        {{"study", "--write", "FFE2"}, 0, printed(BuildStudyList(0, "FFE1", "FFE2")), ""},
        {{"study", "--uuid-type", "128", "--notify=" + notify128, "--write=" + write128}, 0,
         printed(BuildStudyList(1, notify128, write128)), ""},
        {{"ibeacon", "--major", "04d2", "--uuid", "0000fff0-0000-1000-8000-00805f9b34fb"}, 0,
         printed(BuildBeaconList("0000fff0-0000-1000-8000-00805f9b34fb", "04d2", "10125")), ""},
        {{"ibeacon", "--minor=-----"}, 1, "", "qzconfig: --minor: Please input correct iBeacon Minor value!\n"},
        {{"broadcast", "--address=000E0B123456", "--advert=0x0201060302F0FF", "--scan", "G", "--same"}, 0,
         printed(BuildBroadcastList("QZSoft", "000E0B123456", "0x0201060302F0FF", "G", true)), ""},
        {{"broadcast", "--name", "Kitchen", "--address=000E0B123456", "--advert=020106", "--scan", "0302aabb"}, 0,
         printed(BuildBroadcastList("Kitchen", "000E0B123456", "020106", "0302aabb", false)), ""},
        {{"--version"}, 0, "qzconfig 1.03\n", ""},
    });
}

TEST(Qzconfig, RejectionsNameTheOptionOfTheirField)
{
    const std::string longAs = std::string(32, 'A');
    expectRuns({
        {{"study", "--uuid-type=128"}, 1, "",
         "qzconfig: --notify: Please input correct included \"Notify\" Characteristic!\n"},
        {{"study", "--write", ""}, 1, "", "qzconfig: --write: Please fill in all fields\n"},
        {{"study", "--uuid-type=128", "--notify", longAs, "--write", std::string(29, 'A') + "BBB"}, 1, "",
         "qzconfig: Those two Characteristics is defferent more than 1 Bytes, We cant use it!\n"},
        {{"ibeacon", "--major", "12G45"}, 1, "", "qzconfig: --major: Please input correct iBeacon Major value!\n"},
        {{"ibeacon", "--uuid="}, 1, "", "qzconfig: --uuid: Please fill in all fields\n"},
        {{"broadcast"}, 1, "", "qzconfig: --address: Please fill in all fields\n"},
        {{"broadcast", "--address=000E0B123456", "--advert=020106", "--scan", "02010G"}, 1, "",
         "qzconfig: --scan: Please input correct value!\n"},
        {{"broadcast", "--address=000E0B123456", "--advert=02010600", "--same"}, 1, "",
         "qzconfig: --advert: Please fill in correct advertisiment package\n"},
        {{"broadcast", "--name", " ", "--address=000E0B123456"}, 1, "", "qzconfig: --name: Please fill in all fields\n"},
    });
}

TEST(Qzconfig, UsageErrorsExitWithTwoAndOneLineOnStandardError)
{
    const std::vector<std::string> cases[] = {
        {},
        {"nonsense"},
        {"STUDY"},
        {"study", "--bogus=1"},
        {"study", "--notify"},
        {"study", "stray"},
        {"study", "--uuid-type=32"},
        {"study", "--uuid-type", ""},
        {"study", "--notify", std::string(37, 'A')},
        {"study", "--major=1"},
        {"ibeacon", "--major", "123456"},
        {"ibeacon", "--uuid", "0000FFF0-0000-1000-8000-00805F9B34FB0"},
        {"broadcast", "--name", std::string(16, 'N')},
        {"broadcast", "--address", "000E0B1234567"},
        {"broadcast", "--advert", std::string(65, '0')},
        {"broadcast", "--scan", std::string(65, '0')},
        {"broadcast", "--same=1"},
        {"broadcast", "--bogus\nline"},
    };
    for (const std::vector<std::string>& args : cases) {
        const ProcessResult run = runQzconfig(args);
        EXPECT_EQ(run.status, 2) << joined(args);
        EXPECT_EQ(run.out, "") << joined(args);
        EXPECT_EQ(run.err.rfind("qzconfig: ", 0), 0u) << joined(args) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << joined(args) << run.err;
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << joined(args) << run.err;
    }
}

TEST(Qzconfig, ExplainSaysHowEachValueIsReadAndExitsAsTheButtonDecides)
{
    expectRuns({
        {{"ibeacon", "--major=1000", "--explain"}, 0,
         "--uuid: taken: read as the 128-bit UUID 0000FFF0-0000-1000-8000-00805F9B34FB\n"
         "--major: taken, but note: 1000 has four characters, so it is read as hex: 4096, sent as 0x1000 (for "
         "decimal 1000 write 01000)\n"
         "--minor: taken: 10125 is read as decimal: 10125, sent as 0x278D\n",
         ""},
        {{"study", "--explain", "--notify=0000"}, 1,
         "--uuid-type: 16: both UUIDs are read in their 16-bit form, 4 hex digits\n"
         "--notify: refused: 0000 is no UUID: a 16-bit UUID is from 0001 to FFFF\n"
         "--write: taken: read as the 16-bit UUID FFE1, sent as 0xFFE1\n",
         "qzconfig: --notify: Please input correct included \"Notify\" Characteristic!\n"},
        {{"broadcast", "--explain", "--name=L\x1B" "amp", "--address=000e0b123456", "--advert=020106", "--same"}, 1,
         "--name: taken: sent as AT+NAMEL\\x1Bamp\n"
         "--address: refused: lower-case letters: the address is written in capitals, 000E0B123456\n"
         "--advert: taken: 020106: 3 of 31 bytes, 1 structure\n"
         "--scan: not read: --same sends the advertising package as the scan response too\n"
         "--same: on\n",
         "qzconfig: --address: Please input correct MAC value!\n"},
        {{"broadcast", "--explain", "--address=000E0B123456", "--advert=020106", "--scan=02"}, 1,
         "--name: taken: sent as AT+NAMEQZSoft\n"
         "--address: taken: sent as AT+ADDR000E0B123456, the address 00:0E:0B:12:34:56\n"
         "--advert: taken: 020106: 3 of 31 bytes, 1 structure\n"
         "--scan: refused: too short: 2 characters, and a package needs at least 6 (3 bytes)\n"
         "--same: off: --scan is sent as the scan response\n",
         "qzconfig: --scan: Please fill in all fields\n"},
        {{"ibeacon", "--explain", "--commands"}, 2, "",
         "qzconfig: --explain says how the values are read; it goes with neither --commands nor --port (see "
         "qzconfig ibeacon --help)\n"},
        {{"ibeacon", "--major=0x4d2"}, 1, "", "qzconfig: --major: Please input correct iBeacon Major value!\n"},
        {{"ibeacon", "--minor=0X04D2"}, 2, "",
         "qzconfig: --minor is 6 bytes long; its field holds at most 5, so write 04D2, four hex digits without the "
         "0x (see qzconfig ibeacon --help)\n"},
        {{"ibeacon", "--minor=0x104D2"}, 2, "",
         "qzconfig: --minor is 7 bytes long; its field holds at most 5, so shorten it (see qzconfig ibeacon --help)\n"},
    });
}

TEST(Qzconfig, ValuesAtTheirLimitsAreNotUsageErrors)
{
    // A value as long as its edit holds, and values that begin with "-", reach the generator.
    expectRuns({
        {{"study", "--notify", std::string(36, '-')}, 1, "",
         "qzconfig: --notify: Please input correct included \"Notify\" Characteristic!\n"},
        {{"ibeacon", "--major", "-----"}, 1, "", "qzconfig: --major: Please input correct iBeacon Major value!\n"},
        {{"broadcast", "--name", std::string(15, 'N'), "--address", "000e0b123456"}, 1, "",
         "qzconfig: --address: Please input correct MAC value!\n"},
        {{"broadcast", "--address=000E0B123456", "--advert", std::string(64, '0'), "--same"}, 1, "",
         "qzconfig: --advert: Please fill in correct advertisiment package\n"},
    });
}

// qzconfig takes its options from the page model: each field is an option with its initial
// value as default, its limit said, and counted exactly where the model counts it.
TEST(Qzconfig, EveryFieldOfEveryPageIsAnOptionCountedWhereTheModelSays)
{
    const std::string noFolder = testing::TempDir() + "qz-no-such-folder/record.csv";
    for (const qz::PageSpec& page : qz::Pages()) {
        const std::string name(page.name);
        const ProcessResult help = runQzconfig({name, "--help"});
        for (const qz::FieldSpec& field : page.fields) {
            const std::string option = "--" + std::string(field.option);
            const bool flag = field.kind == qz::FieldKind::Flag;
            const ProcessResult given = runQzconfig({name, flag ? option : option + "=" + std::string(field.initial)});
            EXPECT_NE(given.status, 2) << option << ": " << given.err;
            std::string shown = option + (flag ? "" : field.kind == qz::FieldKind::Text ? "=TEXT" : "=16|128");
            EXPECT_NE(help.out.find(shown), std::string::npos) << shown;
            if (field.kind == qz::FieldKind::Text) {
                EXPECT_NE(help.out.find(std::string(field.help) + ", at most " + std::to_string(field.maxBytes) + " bytes"),
                          std::string::npos)
                    << option;
                const ProcessResult tooLong = runQzconfig({name, option + "=" + std::string(field.maxBytes + 1, '1')});
                EXPECT_EQ(tooLong.status, 2) << option;
            }
            // Past the option checks a counted field meets the record's missing folder.
            const ProcessResult counted =
                runQzconfig({name, "--port=/dev/qz-none", "--modules=2", "--count=" + std::string(field.option),
                             "--record=" + noFolder});
            EXPECT_EQ(counted.status, 2);
            EXPECT_EQ(counted.err.find("does not exist") != std::string::npos, field.counting != qz::Counting::None)
                << option << ": " << counted.err;
        }
    }
}

TEST(Qzconfig, PortsListsOnePortPerLine)
{
    const ProcessResult run = runQzconfig({"ports"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("/dev/", 0) == 0 || line.rfind("No serial port was found.", 0) == 0) << line;
    EXPECT_EQ(runQzconfig({"ports", "extra"}).status, 2);
}

TEST(Qzconfig, HelpNamesEverySubcommandAndItsDefaults)
{
    const ProcessResult run = runQzconfig({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const char* needle : {"study", "ibeacon", "broadcast", "--uuid-type=16|128", "--same", "default: FFE1\n",
                               "default: 0000FFF0-0000-1000-8000-00805F9B34FB\n", "default: QZSoft\n", "Exit status",
                               "Example"}) {
        EXPECT_NE(run.out.find(needle), std::string::npos) << needle;
    }
    const ProcessResult study = runQzconfig({"study", "--notify=x", "--help"});
    EXPECT_EQ(study.status, 0);
    EXPECT_EQ(study.out.rfind("Usage: qzconfig study", 0), 0u) << study.out;
    EXPECT_EQ(study.out.find("--major"), std::string::npos);
}

} // namespace

namespace {

// The man page's words as a reader sees them: requests and font changes gone, escapes
// resolved, white space collapsed.
std::string manPageWords(const std::string& source)
{
    std::istringstream lines(source);
    std::string words;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(".B ", 0) == 0 || line.rfind(".I ", 0) == 0)
            line = line.substr(3);
        else if (!line.empty() && line[0] == '.')
            continue;
        std::string plain;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                const char escaped = line[++i];
                if (escaped == '-')
                    plain += '-';
                else if (escaped == 'e')
                    plain += '\\';
                else if (escaped == 'f' && i + 1 < line.size())
                    ++i;
                continue;
            }
            plain += line[i];
        }
        words += plain + " ";
    }
    return words;
}

std::string collapsed(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    std::string result;
    while (in >> word)
        result += (result.empty() ? "" : " ") + word;
    return result;
}

TEST(Qzconfig, ManPageSaysWhatHelpSays)
{
    const std::string man = collapsed(manPageWords(readFile(MAN_PAGE_PATH)));
    ASSERT_FALSE(man.empty());
    const ProcessResult help = runQzconfig({"--help"});
    std::istringstream helpLines(help.out);
    std::string line;
    std::size_t checked = 0;
    while (std::getline(helpLines, line)) {
        std::string words = collapsed(line);
        if (words.rfind("Usage: ", 0) == 0)
            words = words.substr(7);
        if (words.empty() || words.back() == ':') // section headings are the page's own
            continue;
        EXPECT_NE(man.find(words), std::string::npos) << "missing from the man page: " << words;
        ++checked;
    }
    EXPECT_GT(checked, 30u);
    // and no option in the man page that --help does not know
    for (std::size_t at = man.find("--"); at != std::string::npos; at = man.find("--", at + 2)) {
        const std::size_t end = man.find_first_of(" =|),", at);
        EXPECT_NE(help.out.find(man.substr(at, end - at)), std::string::npos) << man.substr(at, end - at);
    }
}

} // namespace

namespace {

using qz::test::FakeModule;

std::string transcriptOf(const std::vector<std::string>& sent, const std::string& lastReply = "OK")
{
    std::string text;
    for (const std::string& command : sent)
        text += "> " + command + "\n< " + (&command == &sent.back() ? lastReply : "OK") + "\n";
    return text;
}

std::vector<std::string> withProbe(std::vector<std::string> commands)
{
    commands.insert(commands.begin(), "AT");
    return commands;
}

TEST(Qzconfig, CommandsPrintsWhatWouldBeSentAndPortSendsExactlyThat)
{
    const std::vector<std::string> beacon = {"AT+RENEW", "AT+IBEA1", "AT+IBE00000FFF0", "AT+IBE100001000",
                                             "AT+IBE280000080", "AT+IBE35F9B34FB", "AT+MARJ0x04D2", "AT+MINO0x278D"};
    const std::vector<std::string> study = {"AT+RENEW", "AT+IMME1", "AT+SHOW1", "AT+COMP1", "AT+NOTI1",
                                            "AT+128B0", "AT+UUID0xFFE2", "AT+CHAR0xFFE1", "AT+ROLE1"};
    const std::vector<std::string> broadcast = {
        "AT+RENEW", "AT+NAMELamp (2)", "AT+ADDR000E0B123456", "AT+Z10201060000000000000000",
        "AT+Z20000000000000000000000", "AT+Z30000000000000000000000", "AT+Z40201060000000000000000",
        "AT+Z50000000000000000000000", "AT+Z60000000000000000000000", "AT+RESET"};
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        {{"ibeacon", "--major=04d2"}, beacon},
        {{"study", "--write", "FFE2"}, study},
        {{"broadcast", "--name", "Lamp (2)", "--address=000E0B123456", "--advert=020106", "--same"}, broadcast},
    };
    for (const Case& c : cases) {
        std::vector<std::string> listing = c.args;
        listing.push_back("--commands");
        std::string lines;
        for (const std::string& command : c.commands)
            lines += command + "\n";
        expectRuns({{listing, 0, lines, ""}});

        FakeModule module;
        std::vector<std::string> sending = c.args;
        sending.push_back("--port=" + module.path());
        expectRuns({{sending, 0,
                     transcriptOf(withProbe(c.commands)) + std::to_string(c.commands.size()) + " of "
                         + std::to_string(c.commands.size()) + " commands were taken\n",
                     ""}});
        std::string bytes;
        for (const FakeModule::Received& received : module.received())
            bytes += received.bytes;
        std::string expectedBytes = "AT";
        for (const std::string& command : c.commands)
            expectedBytes += command;
        EXPECT_EQ(bytes, expectedBytes) << joined(c.args);
    }
}

TEST(Qzconfig, AfterRenewAtAnotherRateTheLastLineSaysTheRateNow)
{
    FakeModule module;
    const ProcessResult run = runQzconfig({"ibeacon", "--port=" + module.path(), "--baud=19200"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n8 of 8 commands were taken; the module's rate is now 9600 baud, its factory rate\n"),
              std::string::npos)
        << run.out;
    FakeModule atFactoryRate;
    const ProcessResult same = runQzconfig({"ibeacon", "--port=" + atFactoryRate.path()});
    EXPECT_NE(same.out.find("\n8 of 8 commands were taken\n"), std::string::npos) << same.out;
}

TEST(Qzconfig, APortOrModuleFailureExitsWithThree)
{
    FakeModule refusing([](const std::string& command) {
        return command == "AT+IBE100001000" ? FakeModule::ok("ERROR\r\n") : FakeModule::ok();
    });
    FakeModule hangingUp([](const std::string& command) {
        return command == "AT+IBEA1" ? FakeModule::Reply{{}, true} : FakeModule::ok();
    });
    const std::vector<std::string> firstFour = {"AT", "AT+RENEW", "AT+IBEA1", "AT+IBE00000FFF0", "AT+IBE100001000"};
    expectRuns({
        {{"ibeacon", "--port", refusing.path(), "--line-ending=crlf"}, 3,
         transcriptOf(firstFour, "ERROR\\x0D\\x0A"),
         "qzconfig: --port " + refusing.path() + ": The module answered AT+IBE100001000 with \"ERROR\\x0D\\x0A\"; "
             "3 of 8 commands were taken; the module is partly set up\n"},
        {{"ibeacon", "--port", hangingUp.path()}, 3, "> AT\n< OK\n> AT+RENEW\n< OK\n> AT+IBEA1\n",
         "qzconfig: --port " + hangingUp.path() + ": The port failed (the port was closed or unplugged) while "
             "waiting for the reply to AT+IBEA1; 1 of 8 commands were taken; the module is partly set up\n"},
        {{"ibeacon", "--port=/dev/qz-missing"}, 3, "", "qzconfig: --port /dev/qz-missing: cannot open it: no such device\n"},
    });
    EXPECT_EQ(refusing.received().back().bytes, "AT+IBE100001000\r\n");
}

TEST(Qzconfig, RefusedInputAndUsageErrorsNeverOpenThePort)
{
    FakeModule module;
    const std::string port = "--port=" + module.path();
    expectRuns({{{"ibeacon", "--major=0000", port}, 1, "", "qzconfig: --major: Please input correct iBeacon Major value!\n"}});
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"ibeacon", port, "--commands"},
             {"ibeacon", port, "--baud=9601"},
             {"ibeacon", port, "--line-ending=CRLF"},
             {"ibeacon", port, "--timeout=99"},
             {"ibeacon", port, "--timeout=60001"},
             {"ibeacon", "--baud=9600"},
             {"ibeacon", "--timeout=1000"},
             {"ibeacon", "--line-ending", "cr"},
             {"ibeacon", "--port="},
         }) {
        const ProcessResult run = runQzconfig(args);
        EXPECT_EQ(run.status, 2) << joined(args) << run.err;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(module.received().empty());
}

TEST(Qzconfig, AFailureToWriteStandardOutputExitsWithThree)
{
    pid_t pid = fork();
    if (pid == 0) {
        const int full = open("/dev/full", O_WRONLY);
        dup2(full, STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execl(QZCONFIG_PATH, QZCONFIG_PATH, "ibeacon", static_cast<char*>(nullptr));
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    EXPECT_EQ(WEXITSTATUS(wstatus), 3);
}

} // namespace

namespace {

TEST(Qzconfig, DecodeExplainsAPackageAndExitsAsTheButtonWouldDecide)
{
    expectRuns({
        {{"decode", " 0x0201060302f0ff "}, 0,
         "0201060302F0FF: 7 of 31 bytes, 2 structures\n"
         "  byte 1  02 01 06    Flags: LE General Discoverable Mode, BR/EDR Not Supported\n"
         "  byte 4  03 02 F0FF  Incomplete List of 16-bit Service Class UUIDs: FFF0\n",
         ""},
        {{"decode", "02010600"}, 1,
         "02010600: 4 of 31 bytes, 1 structure\n"
         "  byte 1  02 01 06  Flags: LE General Discoverable Mode, BR/EDR Not Supported\n",
         "qzconfig: decode: byte 4: length 0x00 is below 2; a structure holds its type and at least one byte\n"},
        {{"decode", "0201G6"}, 1, "", "qzconfig: decode: character 5 ('G') is not a hex digit\n"},
    });
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"decode"}, {"decode", "020106", "020106"}, {"decode", "--bogus"}, {"decode", std::string(66, '0')}}) {
        const ProcessResult run = runQzconfig(args);
        EXPECT_EQ(run.status, 2) << joined(args);
        EXPECT_NE(run.err.find("qzconfig decode --help"), std::string::npos) << run.err;
    }
    // The field's own limit: 64 characters are decoded (and refused as a package), 65 are not.
    EXPECT_EQ(runQzconfig({"decode", std::string(64, '0')}).status, 1);
    EXPECT_EQ(runQzconfig({"decode", std::string(65, '0')}).err,
              "qzconfig: decode: the package is 65 bytes long; its field holds at most 64 (see qzconfig decode --help)\n");
}

TEST(Qzconfig, DecodeJsonCarriesTheVerdictAndEachStructure)
{
    const ProcessResult accepted = runQzconfig({"decode", "--json", "1AFF4C000215FDA50693A4E24FB1AFCFC6EB0764782504D204D3C5"});
    EXPECT_EQ(accepted.status, 0);
    const nlohmann::json document = nlohmann::json::parse(accepted.out);
    EXPECT_EQ(document["accepted"], true);
    EXPECT_TRUE(document["problem"].is_null());
    EXPECT_EQ(document["bytes"], 27);
    const nlohmann::json& beacon = document["structures"][0];
    EXPECT_EQ(beacon["position"], 1);
    EXPECT_EQ(beacon["length"], 26);
    EXPECT_EQ(beacon["type"], 255);
    EXPECT_EQ(beacon["name"], "Manufacturer Specific Data");
    EXPECT_EQ(beacon["raw"], "1AFF4C000215FDA50693A4E24FB1AFCFC6EB0764782504D204D3C5");
    EXPECT_EQ(beacon["fields"][3], (nlohmann::json{{"key", "major"}, {"value", "1234"}, {"number", 1234}}));

    const ProcessResult refused = runQzconfig({"decode", "1F0102", "--json"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(nlohmann::json::parse(refused.out)["problem"], "byte 1: length 0x1F is above 30 (0x1E), the longest a structure may be");
}

} // namespace
