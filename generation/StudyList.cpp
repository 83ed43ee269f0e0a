#include "StudyList.h"

#include "ListParts.h"

#include <array>
#include <vector>
#include <optional>

namespace qz {

namespace {

constexpr std::string_view notifyMessage = "Please input correct included \"Notify\" Characteristic!";
constexpr std::string_view writeMessage =
    "Please input correct included \"Write\" or \"WriteWithoutResponse\" Characteristic!";
constexpr std::string_view differentBytesMessage =
    "Those two Characteristics is defferent more than 1 Bytes, We cant use it!";

constexpr std::size_t longUUIDLength = LongUUIDDigits;

// One characteristic as read, with the message and edit that its refusals name.
struct Characteristic {
    UUIDReading reading;
    std::string_view message;
    Field field;

    const std::string& digits() const { return reading.digits; }
    Rejection reject() const { return {std::string(message), field}; }
};

// The 1-based index of the one byte in which two 32-digit UUIDs differ, 0 when they are
// equal, or nothing when the differences touch more than one byte. Adjacency counts from
// the first difference, so any third difference refuses the pair.
std::optional<int> differingByte(const std::string& notify, const std::string& write)
{
    constexpr std::size_t pastLast = longUUIDLength + 1;
    int count = 0;
    std::size_t first = 0;
    for (std::size_t position = 1; position <= longUUIDLength; ++position) {
        if (notify[position - 1] == write[position - 1])
            continue;
        ++count;
        if (first == 0) {
            first = position;
            continue;
        }
        if (position != first + 1) {
            first = pastLast;
            break;
        }
    }
    if (count > 2 || first == pastLast || (count == 2 && first % 2 == 0))
        return std::nullopt;
    return count == 0 ? 0 : static_cast<int>((first + 1) / 2);
}

const std::vector<std::string>& headComments()
{
    static const std::vector<std::string> lines = {
        CommentLine("This function is need V6.xx version for QZ-10/11"),
        CommentLine("This function doesnt work in V7.xx version"),
        CommentLine("Please look at \"how to use self-learning.pdf\""),
        OnceMoreLine(),
        SeparatorLine(),
    };
    return lines;
}

// The closing guide: what the user may send afterwards by hand, not part of the setup.
const std::vector<std::string>& scanningGuide()
{
    static const std::vector<std::string> lines = {
        " ",
        "  Now you can use those AT Commands to discovery or connect a slave device.",
        "  " + std::string(73, '='),
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
    return lines;
}

// The head, the commands of the chosen form and the tail.
CommandList studyList(std::vector<std::string> formCommands)
{
    CommandList lines;
    appendText(lines, headComments());
    for (const char* command : {"AT+RENEW", "AT+IMME1"})
        appendCommand(lines, command);
    appendCommand(lines, "AT+SHOW1", "(If you doesnt want to get slave device name, forget this command)");
    for (const char* command : {"AT+COMP1", "AT+NOTI1"})
        appendCommand(lines, command);
    for (std::string& command : formCommands)
        appendCommand(lines, std::move(command));
    appendCommand(lines, "AT+ROLE1");
    appendText(lines, scanningGuide());
    return lines;
}

CommandList shortFormList(const Characteristic& notify, const Characteristic& write)
{
    return studyList({"AT+128B0", CommandWithParameter("AT+UUID0x", write.digits()),
                      CommandWithParameter("AT+CHAR0x", notify.digits())});
}

std::string differingByteLine(const Characteristic& write, int byteIndex)
{
    if (byteIndex == 0)
        return "AT+CHAR0x00FF";
    return CommandWithParameter("AT+CHAR0x", HexText(static_cast<std::uint32_t>(byteIndex), 2)
                                                 + SubText(write.digits(), 2 * byteIndex - 1, 2));
}

CommandList longFormList(const Characteristic& notify, const Characteristic& write, int byteIndex)
{
    std::array<std::string, 4> pieces = UUIDPieceLines(notify.digits());
    return studyList({"AT+128B1", std::move(pieces[0]), std::move(pieces[1]), std::move(pieces[2]),
                      std::move(pieces[3]), differingByteLine(write, byteIndex)});
}

} // namespace

UUIDReading ReadCharacteristic(int uuidTypeIndex, std::string_view text)
{
    const bool shortForm = uuidTypeIndex == UUIDType16Bit;
    UUIDReading reading = ReadUUID(text, shortForm ? ShortUUIDDigits : LongUUIDDigits);
    // The 128-bit form takes any value; a 16-bit UUID is never 0000.
    if (shortForm && reading.check == FieldCheck::Passed && HexValue(reading.digits) == 0)
        reading.check = FieldCheck::Value;
    return reading;
}

GeneratorResult BuildStudyList(int uuidTypeIndex, std::string_view notifyText, std::string_view writeText)
{
    const Characteristic notify{ReadCharacteristic(uuidTypeIndex, notifyText), notifyMessage, Field::StudyNotify};
    const Characteristic write{ReadCharacteristic(uuidTypeIndex, writeText), writeMessage, Field::StudyWrite};
    const Characteristic* const both[] = {&notify, &write};
    for (const Characteristic* characteristic : both) {
        if (characteristic->reading.check == FieldCheck::Empty)
            return Rejection{std::string(FillInAllFieldsMessage), characteristic->field};
    }
    for (const Characteristic* characteristic : both) {
        if (characteristic->reading.check == FieldCheck::Characters)
            return characteristic->reject();
    }
    // Length and value are one check per characteristic: notify's first, then write's.
    for (const Characteristic* characteristic : both) {
        if (characteristic->reading.check != FieldCheck::Passed)
            return characteristic->reject();
    }
    if (uuidTypeIndex == UUIDType16Bit)
        return shortFormList(notify, write);
    const std::optional<int> byteIndex = differingByte(notify.digits(), write.digits());
    if (!byteIndex)
        return Rejection{std::string(differentBytesMessage), Field::None};
    return longFormList(notify, write, *byteIndex);
}

bool IsUUIDTypeText(std::string_view value)
{
    return value == UUIDType16Text || value == UUIDType128Text;
}

int UUIDTypeIndexOf(std::string_view value)
{
    return value == UUIDType128Text ? UUIDType128Bit : UUIDType16Bit;
}

std::string_view UUIDTypeTextOf(int index)
{
    return index == UUIDType16Bit ? UUIDType16Text : UUIDType128Text;
}

} // namespace qz
