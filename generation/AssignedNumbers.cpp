#include "AssignedNumbers.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace qz {

namespace {

using Name = std::pair<std::uint32_t, std::string_view>;

template <std::size_t Size>
std::string_view lookUp(const Name (&table)[Size], std::uint32_t number)
{
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [number](const Name& entry) { return entry.first == number; });
    return found == std::end(table) ? std::string_view() : found->second;
}

// Advertising data types ("Common Data Types").
constexpr Name advertisingTypes[] = {
    {0x01, "Flags"},
    {0x02, "Incomplete List of 16-bit Service Class UUIDs"},
    {0x03, "Complete List of 16-bit Service Class UUIDs"},
    {0x04, "Incomplete List of 32-bit Service Class UUIDs"},
    {0x05, "Complete List of 32-bit Service Class UUIDs"},
    {0x06, "Incomplete List of 128-bit Service Class UUIDs"},
    {0x07, "Complete List of 128-bit Service Class UUIDs"},
    {0x08, "Shortened Local Name"},
    {0x09, "Complete Local Name"},
    {0x0A, "Tx Power Level"},
    {0x0D, "Class of Device"},
    {0x0E, "Simple Pairing Hash C-192"},
    {0x0F, "Simple Pairing Randomizer R-192"},
    {0x10, "Device ID"},
    {0x11, "Security Manager Out of Band Flags"},
    {0x12, "Peripheral Connection Interval Range"},
    {0x14, "List of 16-bit Service Solicitation UUIDs"},
    {0x15, "List of 128-bit Service Solicitation UUIDs"},
    {0x16, "Service Data - 16-bit UUID"},
    {0x17, "Public Target Address"},
    {0x18, "Random Target Address"},
    {0x19, "Appearance"},
    {0x1A, "Advertising Interval"},
    {0x1B, "LE Bluetooth Device Address"},
    {0x1C, "LE Role"},
    {0x1D, "Simple Pairing Hash C-256"},
    {0x1E, "Simple Pairing Randomizer R-256"},
    {0x1F, "List of 32-bit Service Solicitation UUIDs"},
    {0x20, "Service Data - 32-bit UUID"},
    {0x21, "Service Data - 128-bit UUID"},
    {0x22, "LE Secure Connections Confirmation Value"},
    {0x23, "LE Secure Connections Random Value"},
    {0x24, "URI"},
    {0x25, "Indoor Positioning"},
    {0x26, "Transport Discovery Data"},
    {0x27, "LE Supported Features"},
    {0x28, "Channel Map Update Indication"},
    {0x29, "PB-ADV"},
    {0x2A, "Mesh Message"},
    {0x2B, "Mesh Beacon"},
    {0x2C, "BIGInfo"},
    {0x2D, "Broadcast_Code"},
    {0x2E, "Resolvable Set Identifier"},
    {0x2F, "Advertising Interval - long"},
    {0x30, "Broadcast_Name"},
    {0x31, "Encrypted Advertising Data"},
    {0x32, "Periodic Advertising Response Timing Information"},
    {0x34, "Electronic Shelf Label"},
    {0x3D, "3D Information Data"},
    {0xFF, "Manufacturer Specific Data"},
};

constexpr Name companies[] = {
    {0x0000, "Ericsson AB"},
    {0x0002, "Intel Corp."},
    {0x0006, "Microsoft"},
    {0x000D, "Texas Instruments Inc."},
    {0x000F, "Broadcom Corporation"},
    {0x004C, "Apple, Inc."},
    {0x0059, "Nordic Semiconductor ASA"},
    {0x0075, "Samsung Electronics Co. Ltd."},
    {0x0087, "Garmin International, Inc."},
    {0x00E0, "Google"},
    {0x0131, "Cypress Semiconductor"},
    {0x02E5, "Espressif Systems (Shanghai) Co., Ltd."},
};

constexpr Name appearanceCategories[] = {
    {0x000, "Unknown"},
    {0x001, "Phone"},
    {0x002, "Computer"},
    {0x003, "Watch"},
    {0x004, "Clock"},
    {0x005, "Display"},
    {0x006, "Remote Control"},
    {0x007, "Eye-glasses"},
    {0x008, "Tag"},
    {0x009, "Keyring"},
    {0x00A, "Media Player"},
    {0x00B, "Barcode Scanner"},
    {0x00C, "Thermometer"},
    {0x00D, "Heart Rate Sensor"},
    {0x00E, "Blood Pressure"},
    {0x00F, "Human Interface Device"},
    {0x010, "Glucose Meter"},
    {0x011, "Running Walking Sensor"},
    {0x012, "Cycling"},
    {0x013, "Control Device"},
    {0x014, "Network Device"},
    {0x015, "Sensor"},
    {0x016, "Light Fixtures"},
    {0x017, "Fan"},
    {0x018, "HVAC"},
    {0x019, "Air Conditioning"},
    {0x01A, "Humidifier"},
    {0x01B, "Heating"},
    {0x01C, "Access Control"},
    {0x01D, "Motorized Device"},
    {0x01E, "Power Device"},
    {0x01F, "Light Source"},
    {0x020, "Window Covering"},
    {0x021, "Audio Sink"},
    {0x022, "Audio Source"},
    {0x023, "Motorized Vehicle"},
    {0x024, "Domestic Appliance"},
    {0x025, "Wearable Audio Device"},
    {0x026, "Aircraft"},
    {0x027, "AV Equipment"},
    {0x028, "Display Equipment"},
    {0x029, "Hearing aid"},
    {0x02A, "Gaming"},
    {0x02B, "Signage"},
    {0x031, "Pulse Oximeter"},
    {0x032, "Weight Scale"},
    {0x033, "Personal Mobility Device"},
    {0x034, "Continuous Glucose Monitor"},
    {0x035, "Insulin Pump"},
    {0x036, "Medication Delivery"},
    {0x037, "Spirometer"},
    {0x051, "Outdoor Sports Activity"},
};

} // namespace

std::string_view AdvertisingTypeName(std::uint32_t type)
{
    return lookUp(advertisingTypes, type);
}

std::string_view CompanyName(std::uint32_t company)
{
    return lookUp(companies, company);
}

std::string_view AppearanceCategoryName(std::uint32_t category)
{
    return lookUp(appearanceCategories, category);
}

} // namespace qz
