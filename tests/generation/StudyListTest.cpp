#include "StudyList.h"

#include "ResultHelpers.h"

namespace qz {
namespace {

const std::string notifyMessage = "Please input correct included \"Notify\" Characteristic!";
const std::string writeMessage = "Please input correct included \"Write\" or \"WriteWithoutResponse\" Characteristic!";
const std::string fillIn = "Please fill in all fields";
const std::string differentMessage = "Those two Characteristics is defferent more than 1 Bytes, We cant use it!";

const std::string longNotify = "0000FFE1-0000-1000-8000-00805F9B34FB";
const std::string longNotifyDigits = "0000FFE100001000800000805F9B34FB";

const CommandList head = {
    "         This function is need V6.xx version for QZ-10/11",
    "         This function doesnt work in V7.xx version",
    "         Please look at \"how to use self-learning.pdf\"",
    "         Those AT Command only need be executed once more",
    separator,
    "AT+RENEW",
    "AT+IMME1",
    "AT+SHOW1 (If you doesnt want to get slave device name, forget this command)",
    "AT+COMP1",
    "AT+NOTI1",
};

const CommandList tail = {
    "AT+ROLE1",
    " ",
    "  Now you can use those AT Commands to discovery or connect a slave device.",
    "  =========================================================================",
    "AT+DISC? (Start a scan procedure)",
    "OK+DISCS (Module response, Start scan procedure)",
    "OK+DIS<P1><P2><P3> (Module response, Found device)",
    "      <P1>: Device Type",
    "      <P2>: Device MAC Address",
    "      <P3>: Device Name",
    "OK+DISCE (Module response, Scan procedure finished)",
    "AT+CO<P1><P2> (Try to connect a slave device)",
    "     <P1>: Device Type",
    "     <P2>: Device MAC address",
};

CommandList wholeList(const CommandList& middle)
{
    CommandList lines = head;
    lines.insert(lines.end(), middle.begin(), middle.end());
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

TEST(StudyList, InitialTextsGiveTheWhole16BitList)
{
    const CommandList lines = listOf(BuildStudyList(0, "FFE1", "FFE1"));
    EXPECT_EQ(lines, wholeList({"AT+128B0", "AT+UUID0xFFE1", "AT+CHAR0xFFE1"}));
    ASSERT_EQ(lines.size(), 27u);
    for (std::size_t i : {0, 3, 4})
        EXPECT_EQ(lines[i].size(), 57u);
    EXPECT_EQ(tail[2].size(), 75u);
    EXPECT_EQ(tail[3].size(), 75u);
}

TEST(StudyList, WorkedExampleGivesTheWhole128BitList)
{
    const CommandList lines = listOf(BuildStudyList(1, longNotify, "0000FFE2-0000-1000-8000-00805F9B34FB"));
    EXPECT_EQ(lines, wholeList({"AT+128B1", "AT+IBE00000FFE1", "AT+IBE100001000", "AT+IBE280000080",
                                "AT+IBE35F9B34FB", "AT+CHAR0x04E2"}));
    EXPECT_EQ(lines.size(), 30u);
}

struct ListCase {
    int uuidType;
    std::string notify;
    std::string write;
    std::size_t line; // 1-based
    std::string expected;
};

TEST(StudyList, CommandLinesCarryTheNormalisedDigits)
{
    const ListCase cases[] = {
        {0, "ffe1", "FFE2", 12, "AT+UUID0xFFE2"},
        {0, "ffe1", "FFE2", 13, "AT+CHAR0xFFE1"},
        {0, "FF-E1", "-0-0-0-1-", 13, "AT+CHAR0xFFE1"},
        {0, "FF-E1", "-0-0-0-1-", 12, "AT+UUID0x0001"},
        {0, " \tFFFF\r\n", "FFFF", 13, "AT+CHAR0xFFFF"},
        {0, "FFE1", "FFE1", 11, "AT+128B0"},
        {5, longNotify, longNotify, 11, "AT+128B1"},
        {1, longNotify, longNotify, 16, "AT+CHAR0x00FF"},
        {1, longNotifyDigits, "0000FFE100001000800000805F9B34FC", 16, "AT+CHAR0x10FC"},
        {1, longNotify, "0000FF12-0000-1000-8000-00805F9B34FB", 16, "AT+CHAR0x0412"},
        {1, longNotify, "1000FFE1-0000-1000-8000-00805F9B34FB", 16, "AT+CHAR0x0110"},
        {1, longNotify, "2300FFE1-0000-1000-8000-00805F9B34FB", 16, "AT+CHAR0x0123"},
        {1, "0000ffe1-0000-1000-8000-00805f9b34fb", longNotifyDigits, 15, "AT+IBE35F9B34FB"},
        {-1, longNotify, longNotify, 12, "AT+IBE00000FFE1"},
    };
    for (const ListCase& c : cases) {
        const CommandList lines = listOf(BuildStudyList(c.uuidType, c.notify, c.write));
        ASSERT_GE(lines.size(), c.line) << c.notify << " / " << c.write;
        EXPECT_EQ(lines[c.line - 1], c.expected) << c.notify << " / " << c.write;
    }
}

struct RejectionCase {
    int uuidType;
    std::string notify;
    std::string write;
    std::string message;
    Field field;
};

TEST(StudyList, RejectionsNameTheirMessageAndField)
{
    const std::string longWrite = "0000FFE2-0000-1000-8000-00805F9B34FB";
    const RejectionCase cases[] = {
        // emptiness, notify first
        {0, "", "FFE1", fillIn, Field::StudyNotify},
        {0, "  \t ", "FFE1", fillIn, Field::StudyNotify},
        {0, "FFE1", " ", fillIn, Field::StudyWrite},
        {0, "", "", fillIn, Field::StudyNotify},
        // characters
        {0, "0xFFE1", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "FF E1", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "FFE1", "FFG1", writeMessage, Field::StudyWrite},
        {0, "FFE\xA0", "FFE1", notifyMessage, Field::StudyNotify},
        // 16-bit lengths and values
        {0, "0000", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "FFE", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "0FFE1", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "FFE1", "0000", writeMessage, Field::StudyWrite},
        {0, "FFE1", "0-0-0-0", writeMessage, Field::StudyWrite},
        {0, "---", "FFE1", notifyMessage, Field::StudyNotify},
        {0, "FFE1", "-", writeMessage, Field::StudyWrite},
        {0, longNotify, "FFE1", notifyMessage, Field::StudyNotify},
        // 128-bit lengths
        {1, "FFE1", longNotify, notifyMessage, Field::StudyNotify},
        {1, longNotify, "FFE1", writeMessage, Field::StudyWrite},
        {1, "----", longNotify, notifyMessage, Field::StudyNotify},
        // byte comparison
        {1, longNotifyDigits, "0000FFE280001000800000805F9B34FB", differentMessage, Field::None},
        {1, longNotifyDigits, "0000FFEE10001000800000805F9B34FB", differentMessage, Field::None},
        {1, longNotifyDigits, "1010FFE100001000800000805F9B34FB", differentMessage, Field::None},
        {1, longNotifyDigits, "111EFFE100001000800000805F9B34FB", differentMessage, Field::None},
        {1, longNotifyDigits, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", differentMessage, Field::None},
        // precedence
        {0, "", "FFG1", fillIn, Field::StudyNotify},
        {0, "FFG1", "", fillIn, Field::StudyWrite},
        {0, "FFG1", "XXXX", notifyMessage, Field::StudyNotify},
        {0, "FFE10", "FFG1", writeMessage, Field::StudyWrite},
        {0, "0000", "FFFFF", notifyMessage, Field::StudyNotify},
        {1, std::string(31, 'A'), std::string(31, 'A'), notifyMessage, Field::StudyNotify},
        {1, std::string(32, 'A'), "AAAAAAAAAAAAAAAA" "BBBBBBBB" "AAAAAAAA", differentMessage, Field::None},
        {1, std::string(32, 'A'), std::string(31, 'A') + "G", writeMessage, Field::StudyWrite},
    };
    for (const RejectionCase& c : cases) {
        EXPECT_EQ(rejectionOf(BuildStudyList(c.uuidType, c.notify, c.write)), (Rejection{c.message, c.field})) << c.notify << " / " << c.write;
    }
}

TEST(StudyList, ByteComparisonAcceptsExactlyOneDifferingByte)
{
    // Every pair of differing positions: accepted only for 2k-1 and 2k.
    for (int first = 1; first <= 32; ++first) {
        for (int second = first + 1; second <= 32; ++second) {
            std::string write = longNotifyDigits;
            for (int position : {first, second})
                write[static_cast<std::size_t>(position - 1)] = write[static_cast<std::size_t>(position - 1)] == 'A' ? 'B' : 'A';
            const GeneratorResult result = BuildStudyList(1, longNotifyDigits, write);
            const bool sameByte = first % 2 == 1 && second == first + 1;
            if (sameByte) {
                const CommandList lines = listOf(result);
                ASSERT_EQ(lines.size(), 30u);
                EXPECT_EQ(lines[15], "AT+CHAR0x" + HexText(static_cast<std::uint32_t>(second / 2), 2)
                                         + write.substr(static_cast<std::size_t>(first - 1), 2));
            } else {
                EXPECT_EQ(rejectionOf(result), (Rejection{differentMessage, Field::None})) << first << "," << second;
            }
        }
    }
}

} // namespace
} // namespace qz
