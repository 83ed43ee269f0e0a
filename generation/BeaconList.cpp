#include "BeaconList.h"

#include "ListParts.h"

namespace qz {

namespace {

constexpr std::string_view uuidCharacterMessage = "Please input correct iBeacon UUID!";
constexpr std::string_view uuidLengthMessage = "Please input correct iBeacon UUID value!";
constexpr std::string_view majorMessage = BeaconMajorMessage;
constexpr std::string_view minorMessage = BeaconMinorMessage;

constexpr std::size_t hexModeLength = BeaconHexDigits;
constexpr std::size_t decimalModeLength = BeaconDecimalDigits;

// A major or minor text after trimming and upper-casing. Its length alone picks the mode:
// four characters are hexadecimal, any other length decimal.
struct BeaconValue {
    std::string text;
    std::string_view message;
    Field field;

    bool isHexMode() const { return text.size() == hexModeLength; }
    bool hasValidCharacters() const { return isHexMode() ? AllHexDigits(text) : AllDecimalDigits(text); }
    bool hasValidLength() const { return text.size() == hexModeLength || text.size() == decimalModeLength; }
    // Only for a text that has passed both checks above.
    std::uint32_t value() const { return isHexMode() ? HexValue(text) : DecimalValue(text); }
    bool hasValidValue() const
    {
        const std::uint32_t number = value();
        return number >= 1 && number <= 0xFFFF;
    }
    Rejection reject() const { return {std::string(message), field}; }
};

CommandList beaconLines(const std::string& uuid, const BeaconValue& major, const BeaconValue& minor)
{
    CommandList lines;
    appendText(lines, {OnceMoreLine(), SeparatorLine()});
    appendCommand(lines, "AT+RENEW");
    appendText(lines, {""});
    appendCommand(lines, "AT+IBEA1");
    for (std::string& piece : UUIDPieceLines(uuid)) {
        appendText(lines, {""});
        appendCommand(lines, std::move(piece));
    }
    appendText(lines, {""});
    appendCommand(lines, CommandWithParameter("AT+MARJ0x", HexText(major.value(), 4)));
    appendText(lines, {""});
    appendCommand(lines, CommandWithParameter("AT+MINO0x", HexText(minor.value(), 4)));
    lines.advertised.kind = Advertised::Kind::Beacon;
    lines.advertised.beaconUUID = RemoveDashes(uuid);
    lines.advertised.major = static_cast<std::uint16_t>(major.value());
    lines.advertised.minor = static_cast<std::uint16_t>(minor.value());
    lines.advertised.restartNeeded = true; // the list ends without AT+RESET
    return lines;
}

std::string quotedCharacter(char c)
{
    return "\"" + std::string(1, c) + "\"";
}

std::string firstFailingCharacter(const BeaconValue& value)
{
    for (char c : value.text) {
        if (value.isHexMode() ? !IsHexDigit(c) : !IsDecimalDigit(c))
            return quotedCharacter(c);
    }
    return {};
}

} // namespace

ValueExplanation ExplainBeaconValue(std::string_view text)
{
    const std::string trimmed = TrimField(text);
    constexpr std::string_view whatToType = "type four hex digits (04D2) or five decimal digits (01234)";
    if (trimmed.empty())
        return {ValueReading::Refused, (text.empty() ? "empty: " : "Nothing but spaces, which counts as an empty field: ")
                                           + std::string(whatToType)};
    const BeaconValue value{UpperCase(trimmed), {}, Field::None};
    // The field holds five characters, so a pasted 0x04D2 arrives as 0x04D.
    if (value.text.compare(0, 2, "0X") == 0)
        return {ValueReading::Refused, trimmed + " starts with 0x, which is not typed here: write four hex digits "
                                                 "without it, like 04D2 for 0x04D2"};
    if (!value.hasValidCharacters()) {
        if (value.isHexMode())
            return {ValueReading::Refused, trimmed + " has four characters, so it is read as hex, and "
                                               + firstFailingCharacter(value) + " is not a hex digit"};
        return {ValueReading::Refused, trimmed + " is read as decimal (only four characters are read as hex), and "
                                           + firstFailingCharacter(value) + " is not a decimal digit"};
    }
    if (!value.hasValidLength())
        return {ValueReading::Refused, trimmed + " has " + std::to_string(trimmed.size())
                                           + " characters: write four hex digits (04D2) or five decimal digits (01234)"};
    const std::uint32_t number = value.value();
    if (!value.hasValidValue())
        return {ValueReading::Refused, trimmed + " is " + std::to_string(number) + ", and the value must be from 1 to 65535"};
    const std::string sent = "sent as 0x" + HexText(number, 4);
    if (!value.isHexMode())
        return {ValueReading::Decimal, trimmed + " is read as decimal: " + std::to_string(number) + ", " + sent};
    if (AllDecimalDigits(value.text)) {
        std::string asDecimal = trimmed;
        asDecimal.insert(0, decimalModeLength - asDecimal.size(), '0');
        return {ValueReading::FourDecimalDigits, trimmed + " has four characters, so it is read as hex: "
                                                     + std::to_string(number) + ", " + sent + " (for decimal "
                                                     + std::to_string(DecimalValue(trimmed)) + " write " + asDecimal + ")"};
    }
    return {ValueReading::Hex, trimmed + " is read as hex: " + std::to_string(number) + ", " + sent};
}

UUIDReading ReadBeaconUUID(std::string_view text)
{
    return ReadUUID(text, BeaconUUIDDigits);
}

GeneratorResult BuildBeaconList(std::string_view uuidText, std::string_view majorText, std::string_view minorText)
{
    UUIDReading uuid = ReadBeaconUUID(uuidText);
    std::string majorTrimmed = TrimField(majorText);
    std::string minorTrimmed = TrimField(minorText);
    if (uuid.check == FieldCheck::Empty)
        return Rejection{std::string(FillInAllFieldsMessage), Field::BeaconUUID};
    if (majorTrimmed.empty())
        return Rejection{std::string(FillInAllFieldsMessage), Field::BeaconMajor};
    if (minorTrimmed.empty())
        return Rejection{std::string(FillInAllFieldsMessage), Field::BeaconMinor};

    const BeaconValue major{UpperCase(std::move(majorTrimmed)), majorMessage, Field::BeaconMajor};
    const BeaconValue minor{UpperCase(std::move(minorTrimmed)), minorMessage, Field::BeaconMinor};
    const BeaconValue* const values[] = {&major, &minor};

    if (uuid.check == FieldCheck::Characters)
        return Rejection{std::string(uuidCharacterMessage), Field::BeaconUUID};
    for (const BeaconValue* value : values) {
        if (!value->hasValidCharacters())
            return value->reject();
    }
    if (uuid.check == FieldCheck::Length)
        return Rejection{std::string(uuidLengthMessage), Field::BeaconUUID};
    for (const BeaconValue* value : values) {
        if (!value->hasValidLength())
            return value->reject();
    }
    for (const BeaconValue* value : values) {
        if (!value->hasValidValue())
            return value->reject();
    }
    return beaconLines(uuid.digits, major, minor);
}

} // namespace qz
