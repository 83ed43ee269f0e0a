#include "PageModel.h"

#include "BeaconList.h"
#include "BroadcastList.h"
#include "StudyList.h"

namespace qz {

namespace {

const std::string& valueOf(const FieldValues& values, Field field)
{
    static const std::string none;
    const auto found = values.find(field);
    return found != values.end() ? found->second : none;
}

int uuidTypeIndex(const FieldValues& values)
{
    return UUIDTypeIndexOf(valueOf(values, Field::StudyUUIDType));
}

FieldExplanation explainUUIDType(const FieldValues& values)
{
    return {FieldVerdict::Setting,
            uuidTypeIndex(values) == UUIDType16Bit ? "both UUIDs are read in their 16-bit form, 4 hex digits"
                                                   : "both UUIDs are read in their 128-bit form, 32 hex digits",
            {}};
}

FieldExplanation explainSame(const FieldValues& values)
{
    if (IsFlagOn(values, Field::SameAsAdvert))
        return {FieldVerdict::Setting, {}, {}};
    return {FieldVerdict::Setting, "is sent as the scan response", {}, Field::ScanPackage};
}

FieldExplanation explainScan(const FieldValues& values)
{
    if (IsFlagOn(values, Field::SameAsAdvert))
        return {FieldVerdict::Unused, "sends the advertising package as the scan response too", {}, Field::SameAsAdvert};
    return ExplainPackage(valueOf(values, Field::ScanPackage));
}

// One field explained by reading its own text alone.
template <Field field, FieldExplanation (*explainText)(std::string_view)>
FieldExplanation byText(const FieldValues& values)
{
    return explainText(valueOf(values, field));
}

template <Field field>
FieldExplanation characteristic(const FieldValues& values)
{
    return ExplainCharacteristic(uuidTypeIndex(values), valueOf(values, field));
}

std::vector<PageSpec> makePages()
{
    using F = Field;
    using K = FieldKind;
    using C = Counting;
    return {
        {StudyPage,
         "master-role self-learning of two characteristics of a slave",
         {
             {F::StudyUUIDType, K::UUIDType, "uuid-type", UUIDType16Text, 0, "UUID form of the slave device: 16 or 128", C::None,
              {}, explainUUIDType},
             {F::StudyNotify, K::Text, "notify", "FFE1", 36, "UUID of the notify characteristic", C::None, {},
              characteristic<F::StudyNotify>},
             {F::StudyWrite, K::Text, "write", "FFE1", 36, "UUID of the write characteristic", C::None, {},
              characteristic<F::StudyWrite>},
         },
         [](const FieldValues& v) {
             return BuildStudyList(uuidTypeIndex(v), valueOf(v, F::StudyNotify), valueOf(v, F::StudyWrite));
         },
         "qzconfig study --uuid-type=128 \\\n"
         "      --notify 0000FFE1-0000-1000-8000-00805F9B34FB \\\n"
         "      --write 0000FFE2-0000-1000-8000-00805F9B34FB",
         false},
        {BeaconPage,
         "advertising as an iBeacon in slave role",
         {
             {F::BeaconUUID, K::Text, "uuid", "0000FFF0-0000-1000-8000-00805F9B34FB", 36, "beacon UUID, 32 hex digits",
              C::None, {}, byText<F::BeaconUUID, ExplainBeaconUUID>},
             {F::BeaconMajor, K::Text, "major", "10123", 5, "major: 4 hex or 5 decimal digits", C::BeaconNumber,
              "the major value", byText<F::BeaconMajor, ExplainBeaconNumber>},
             {F::BeaconMinor, K::Text, "minor", "10125", 5, "minor: 4 hex or 5 decimal digits", C::BeaconNumber,
              "the minor value", byText<F::BeaconMinor, ExplainBeaconNumber>},
         },
         [](const FieldValues& v) {
             return BuildBeaconList(valueOf(v, F::BeaconUUID), valueOf(v, F::BeaconMajor), valueOf(v, F::BeaconMinor));
         },
         "qzconfig ibeacon --major=04D2 --minor 01235",
         true,
         {{F::BeaconUUID, F::BeaconMajor, F::BeaconMinor},
          {"AT+IBE0", "AT+IBE1", "AT+IBE2", "AT+IBE3", "AT+MARJ", "AT+MINO"}}},
        {BroadcastPage,
         "device name and address, advertising and scan-response packages",
         {
             {F::DeviceName, K::Text, "name", "QZSoft", 15, "device name", C::NameDigits, "the device name's digits",
              byText<F::DeviceName, ExplainDeviceName>},
             {F::DeviceAddress, K::Text, "address", "", 12, "device address, 12 hex digits", C::Address,
              "the device address", byText<F::DeviceAddress, ExplainDeviceAddress>},
             {F::AdvertPackage, K::Text, "advert", "", 64, "advertising package in hex", C::None, {},
              byText<F::AdvertPackage, ExplainPackage>},
             {F::ScanPackage, K::Text, "scan", "", 64, "scan-response package in hex", C::None, {}, explainScan},
             {F::SameAsAdvert, K::Flag, "same", FlagOff, 0, "send the advertising package as the scan response too",
              C::None, {}, explainSame},
         },
         [](const FieldValues& v) {
             return BuildBroadcastList(valueOf(v, F::DeviceName), valueOf(v, F::DeviceAddress),
                                       valueOf(v, F::AdvertPackage), valueOf(v, F::ScanPackage),
                                       IsFlagOn(v, F::SameAsAdvert));
         },
         "qzconfig broadcast --name=Kitchen --address=000E0B123456 \\\n"
         "      --advert=0x0201060302F0FF --same",
         true,
         {{F::DeviceAddress}, {"AT+ADDR"}, true}},
    };
}

} // namespace

const std::vector<PageSpec>& Pages()
{
    static const std::vector<PageSpec> pages = makePages();
    return pages;
}

const PageSpec* FindPage(std::string_view name)
{
    for (const PageSpec& page : Pages()) {
        if (page.name == name)
            return &page;
    }
    return nullptr;
}

const FieldSpec* FindField(const PageSpec& page, std::string_view option)
{
    for (const FieldSpec& field : page.fields) {
        if (field.option == option)
            return &field;
    }
    return nullptr;
}

const FieldSpec* FindField(const PageSpec& page, Field field)
{
    for (const FieldSpec& candidate : page.fields) {
        if (candidate.field == field)
            return &candidate;
    }
    return nullptr;
}

FieldValues InitialValues(const PageSpec& page)
{
    FieldValues values;
    for (const FieldSpec& field : page.fields)
        values[field.field] = std::string(field.initial);
    return values;
}

bool IsFlagOn(const FieldValues& values, Field field)
{
    return valueOf(values, field) == FlagOn;
}

} // namespace qz
