// Processor Information (type 4). The family's names: ProcessorFamily.cpp.
#include "Meaning.h"

#include <cstdio>

namespace {

const Name kProcessorType[] = {
    {1, "Other"},          {2, "Unknown"},       {3, "Central Processor"},
    {4, "Math Processor"}, {5, "DSP Processor"}, {6, "Video Processor"},
};

// Bit 7 set: the current voltage times 10 in bits 6:0. Clear: the voltages
// the socket supports, one bit each (legacy mode).
const Name kLegacyVoltage[] = {{0, "5 V"}, {1, "3.3 V"}, {2, "2.9 V"}};

Meaning Voltage(uint64_t value) {
    if ((value & 0x80) != 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u V", static_cast<unsigned>(value & 0x7F) / 10,
                      static_cast<unsigned>(value & 0x7F) % 10);
        return TextMeaning(text);
    }
    return BitsOf(kLegacyVoltage, value & 0x07);
}

const Name kSpeedSpecial[] = {{0, "Unknown"}};

// Bits 2:0 of the status byte; bit 6 says whether the socket is populated.
const Name kCpuStatus[] = {
    {0, "Unknown"},
    {1, "CPU Enabled"},
    {2, "CPU Disabled by User through BIOS Setup"},
    {3, "CPU Disabled by BIOS (POST Error)"},
    {4, "CPU is Idle, waiting to be enabled"},
    {7, "Other"},
};

Meaning Status(uint64_t value) {
    if ((value & 0x40) == 0) return TextMeaning("CPU Socket Unpopulated");
    const char* status = Names(kCpuStatus).Find(static_cast<uint32_t>(value & 0x07));
    return TextMeaning(std::string("CPU Socket Populated, ") + (status != nullptr ? status : "Reserved"));
}

const Name kProcessorUpgrade[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
    {0x03, "Daughter Board"},
    {0x04, "ZIF Socket"},
    {0x05, "Replaceable Piggy Back"},
    {0x06, "None"},
    {0x07, "LIF Socket"},
    {0x08, "Slot 1"},
    {0x09, "Slot 2"},
    {0x0A, "370-pin socket"},
    {0x0B, "Slot A"},
    {0x0C, "Slot M"},
    {0x0D, "Socket 423"},
    {0x0E, "Socket A (Socket 462)"},
    {0x0F, "Socket 478"},
    {0x10, "Socket 754"},
    {0x11, "Socket 940"},
    {0x12, "Socket 939"},
    {0x13, "Socket mPGA604"},
    {0x14, "Socket LGA771"},
    {0x15, "Socket LGA775"},
    {0x16, "Socket S1"},
    {0x17, "Socket AM2"},
    {0x18, "Socket F (1207)"},
    {0x19, "Socket LGA1366"},
    {0x1A, "Socket G34"},
    {0x1B, "Socket AM3"},
    {0x1C, "Socket C32"},
    {0x1D, "Socket LGA1156"},
    {0x1E, "Socket LGA1567"},
    {0x1F, "Socket PGA988A"},
    {0x20, "Socket BGA1288"},
    {0x21, "Socket rPGA988B"},
    {0x22, "Socket BGA1023"},
    {0x23, "Socket BGA1224"},
    {0x24, "Socket LGA1155"},
    {0x25, "Socket LGA1356"},
    {0x26, "Socket LGA2011"},
    {0x27, "Socket FS1"},
    {0x28, "Socket FS2"},
    {0x29, "Socket FM1"},
    {0x2A, "Socket FM2"},
    {0x2B, "Socket LGA2011-3"},
    {0x2C, "Socket LGA1356-3"},
    {0x2D, "Socket LGA1150"},
    {0x2E, "Socket BGA1168"},
    {0x2F, "Socket BGA1234"},
    {0x30, "Socket BGA1364"},
    {0x31, "Socket AM4"},
    {0x32, "Socket LGA1151"},
    {0x33, "Socket BGA1356"},
    {0x34, "Socket BGA1440"},
    {0x35, "Socket BGA1515"},
    {0x36, "Socket LGA3647-1"},
    {0x37, "Socket SP3"},
    {0x38, "Socket SP3r2"},
    {0x39, "Socket LGA2066"},
    {0x3A, "Socket BGA1392"},
    {0x3B, "Socket BGA1510"},
    {0x3C, "Socket BGA1528"},
    {0x3D, "Socket LGA4189"},
    {0x3E, "Socket LGA1200"},
    {0x3F, "Socket LGA4677"},
    {0x40, "Socket LGA1700"},
    {0x41, "Socket BGA1744"},
    {0x42, "Socket BGA1781"},
    {0x43, "Socket BGA1211"},
    {0x44, "Socket BGA2422"},
    {0x45, "Socket LGA1211"},
    {0x46, "Socket LGA2422"},
    {0x47, "Socket LGA5773"},
    {0x48, "Socket BGA5773"},
    {0x49, "Socket AM5"},
    {0x4A, "Socket SP5"},
    {0x4B, "Socket SP6"},
    {0x4C, "Socket BGA883"},
    {0x4D, "Socket BGA1190"},
    {0x4E, "Socket BGA4129"},
    {0x4F, "Socket LGA4710"},
    {0x50, "Socket LGA7529"},
};

// L1, L2 and L3 cache handles.
// FFFFh: not provided, or (from version 2.3) no cache of that level.
const Name kCacheHandleSpecial[] = {{0xFFFF, "Not Provided"}};

const FieldMeaning kFields[] = {
    Enum(4, "ProcessorType", kProcessorType),
    Enum(4, "ProcessorFamily", kProcessorFamily),
    Custom(4, "Voltage", Voltage),
    Quantity(4, "ExternalClock", kSpeedSpecial, "MHz"),
    Quantity(4, "MaxSpeed", kSpeedSpecial, "MHz"),
    Quantity(4, "CurrentSpeed", kSpeedSpecial, "MHz"),
    Custom(4, "Status", Status),
    Enum(4, "ProcessorUpgrade", kProcessorUpgrade),
    Enum(4, "L1CacheHandle", kCacheHandleSpecial),
    Enum(4, "L2CacheHandle", kCacheHandleSpecial),
    Enum(4, "L3CacheHandle", kCacheHandleSpecial),
};

} // namespace

const FieldMeanings kProcessorMeanings{kFields};
