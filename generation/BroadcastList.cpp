#include "BroadcastList.h"

#include "AdvertisingData.h"
#include "ListParts.h"
#include "Vendor.h"

#include <vector>

namespace qz {

namespace {

constexpr std::string_view addressMessage = DeviceAddressMessage;
constexpr std::string_view characterMessage = "Please input correct value!";
constexpr std::string_view advertStructureMessage = "Please fill in correct advertisiment package";
constexpr std::string_view scanStructureMessage = "Please fill in correct ScanResponse package";

constexpr std::size_t paddedPackageLength = 66;
constexpr int pieceLength = 22;

// One package text on its way through the checks, with the edit its refusals name.
struct Package {
    std::string text;
    Field field;
    std::string_view structureMessage;

    bool hasValidLength() const { return HasValidPackageLength(text); }
    void normalise() { text = PackageDigits(std::move(text)); }
    void pad()
    {
        if (text.size() < paddedPackageLength)
            text.append(paddedPackageLength - text.size(), '0');
    }
    Rejection reject(std::string_view message) const { return {std::string(message), field}; }
};

bool holdsLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string rightAligned(std::string_view text)
{
    const std::size_t indent = text.size() < CommentWidth ? CommentWidth - text.size() : 0;
    return std::string(indent, ' ').append(text);
}

// Each command of the list is followed by an empty line.
void appendSpacedCommand(CommandList& lines, std::string command)
{
    appendCommand(lines, std::move(command));
    appendText(lines, {""});
}

void appendPackageLines(CommandList& lines, const std::string& padded, const std::string_view (&commands)[3])
{
    for (int piece = 0; piece < 3; ++piece)
        appendSpacedCommand(lines, CommandWithParameter(commands[piece], SubText(padded, piece * pieceLength + 1, pieceLength)));
}

CommandList broadcastLines(std::string_view name, std::string_view address, const std::string& advert,
                           const std::string& scan)
{
    static const std::string_view advertCommands[] = {"AT+Z1", "AT+Z2", "AT+Z3"};
    static const std::string_view scanCommands[] = {"AT+Z4", "AT+Z5", "AT+Z6"};
    CommandList lines;
    appendText(lines, {CommentLine("This function need V7.09 or higher for (QZ-10/11)"), OnceMoreLine(),
                       SeparatorLine(), ""});
    appendSpacedCommand(lines, "AT+RENEW");
    appendSpacedCommand(lines, CommandWithParameter("AT+NAME", name));
    appendSpacedCommand(lines, CommandWithParameter("AT+ADDR", address));
    appendPackageLines(lines, advert, advertCommands);
    appendPackageLines(lines, scan, scanCommands);
    appendSpacedCommand(lines, "AT+RESET");
    appendText(lines, {SeparatorLine(), rightAligned(VendorWebAddress), rightAligned(VendorSupportMail),
                       rightAligned("WeChat: " + std::string(VendorSocialAccount))});
    lines.advertised = {Advertised::Kind::Broadcast, {}, 0, 0, std::string(address), std::string(name), advert, scan, false};
    return lines;
}

} // namespace

FieldCheck CheckDeviceName(std::string_view text)
{
    const std::string_view trimmed = TrimmedView(text);
    if (trimmed.empty())
        return FieldCheck::Empty;
    return holdsLineBreak(trimmed) ? FieldCheck::Characters : FieldCheck::Passed;
}

FieldCheck CheckDeviceAddress(std::string_view text)
{
    const std::string_view trimmed = TrimmedView(text);
    if (trimmed.size() != DeviceAddressDigits)
        return FieldCheck::Length;
    return AllHexDigits(trimmed) ? FieldCheck::Passed : FieldCheck::Characters;
}

GeneratorResult BuildBroadcastList(std::string_view name, std::string_view address, std::string_view advert,
                                   std::string_view scan, bool sameAsAdvert)
{
    const std::string_view trimmedName = TrimmedView(name);
    const std::string_view trimmedAddress = TrimmedView(address);

    switch (CheckDeviceName(name)) {
    case FieldCheck::Empty: return Rejection{std::string(FillInAllFieldsMessage), Field::DeviceName};
    case FieldCheck::Passed: break;
    default: return Rejection{std::string(characterMessage), Field::DeviceName};
    }
    switch (CheckDeviceAddress(address)) {
    case FieldCheck::Length: return Rejection{std::string(FillInAllFieldsMessage), Field::DeviceAddress};
    case FieldCheck::Passed: break;
    default: return Rejection{std::string(addressMessage), Field::DeviceAddress};
    }

    Package advertPackage{TrimField(advert), Field::AdvertPackage, advertStructureMessage};
    Package scanPackage{sameAsAdvert ? std::string() : TrimField(scan), Field::ScanPackage, scanStructureMessage};
    // With the same package twice, the scan-response text is neither tested nor used.
    std::vector<Package*> checked{&advertPackage};
    if (!sameAsAdvert)
        checked.push_back(&scanPackage);
    for (const Package* package : checked) {
        if (!package->hasValidLength())
            return package->reject(FillInAllFieldsMessage);
    }
    for (Package* package : checked)
        package->normalise();
    for (const Package* package : checked) {
        if (!AllHexDigits(package->text))
            return package->reject(characterMessage);
    }
    for (const Package* package : checked) {
        if (!IsValidAdvertisingData(package->text, package->text.size()))
            return package->reject(package->structureMessage);
    }
    for (Package* package : checked)
        package->pad();

    const Package& source = sameAsAdvert ? advertPackage : scanPackage;
    return broadcastLines(trimmedName, trimmedAddress, advertPackage.text, source.text);
}

} // namespace qz
