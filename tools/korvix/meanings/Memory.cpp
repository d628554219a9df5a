// Memory Controller (type 5) and Memory Module (type 6), both obsolete;
// Physical Memory Array (type 16) and Memory Device (type 17).
#include "Meaning.h"

namespace {

// ---- type 5 ----

const Name kErrorDetecting[] = {
    {1, "Other"},      {2, "Unknown"},    {3, "None"},        {4, "8-bit Parity"},
    {5, "32-bit ECC"}, {6, "64-bit ECC"}, {7, "128-bit ECC"}, {8, "CRC"},
};

const Name kErrorCorrecting[] = {
    {0, "Other"},
    {1, "Unknown"},
    {2, "None"},
    {3, "Single-Bit Error Correcting"},
    {4, "Double-Bit Error Correcting"},
    {5, "Error Scrubbing"},
};

const Name kInterleave[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "One-Way Interleave"},
    {4, "Two-Way Interleave"},
    {5, "Four-Way Interleave"},
    {6, "Eight-Way Interleave"},
    {7, "Sixteen-Way Interleave"},
};

Meaning MaxModuleSize(uint64_t n) {
    if (n > 31) return {};
    return TextMeaning(Bytes(uint64_t{1024} << n));
}

const Name kControllerSpeeds[] = {{0, "Other"}, {1, "Unknown"}, {2, "70ns"}, {3, "60ns"}, {4, "50ns"}};

// Types of memory modules (types 5 and 6).
const Name kModuleTypes[] = {
    {0, "Other"}, {1, "Unknown"}, {2, "Standard"}, {3, "Fast Page Mode"}, {4, "EDO"},    {5, "Parity"},
    {6, "ECC"},   {7, "SIMM"},    {8, "DIMM"},     {9, "Burst EDO"},      {10, "SDRAM"},
};

const Name kModuleVoltage[] = {{0, "5 V"}, {1, "3.3 V"}, {2, "2.9 V"}};

// ---- type 6 ----

const Name kModuleSpeedSpecial[] = {{0, "Unknown"}};

// Installed and enabled size: 2^n MB in bits 6:0, bit 7 a double-bank
// connection.
Meaning ModuleSize(uint64_t value) {
    switch (value & 0x7F) {
    case 0x7D:
        return TextMeaning("Not determinable");
    case 0x7E:
        return TextMeaning("Module is installed, but no memory has been enabled");
    case 0x7F:
        return TextMeaning("Not installed");
    }
    if ((value & 0x7F) > 31) return {};
    return TextMeaning(Bytes(uint64_t{1024} << (value & 0x7F)) +
                       ((value & 0x80) != 0 ? ", double-bank connection" : ", single-bank connection"));
}

const Name kModuleErrorStatus[] = {
    {0, "Uncorrectable errors received"},
    {1, "Correctable errors received"},
    {2, "Error status to be obtained from the event log"},
};

// ---- type 16 ----

const Name kArrayLocation[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
    {0x03, "System board or motherboard"},
    {0x04, "ISA add-on card"},
    {0x05, "EISA add-on card"},
    {0x06, "PCI add-on card"},
    {0x07, "MCA add-on card"},
    {0x08, "PCMCIA add-on card"},
    {0x09, "Proprietary add-on card"},
    {0x0A, "NuBus"},
    {0xA0, "PC-98/C20 add-on card"},
    {0xA1, "PC-98/C24 add-on card"},
    {0xA2, "PC-98/E add-on card"},
    {0xA3, "PC-98/Local bus add-on card"},
    {0xA4, "CXL add-on card"},
};

const Name kArrayUse[] = {
    {1, "Other"},        {2, "Unknown"},          {3, "System memory"}, {4, "Video memory"},
    {5, "Flash memory"}, {6, "Non-volatile RAM"}, {7, "Cache memory"},
};

const Name kErrorCorrection[] = {
    {1, "Other"},          {2, "Unknown"},       {3, "None"}, {4, "Parity"},
    {5, "Single-bit ECC"}, {6, "Multi-bit ECC"}, {7, "CRC"},
};

Meaning MaxCapacity(uint64_t kilobytes) {
    if (kilobytes == 0x80000000u)
        return TextMeaning("2 TB or more: the extended maximum capacity field, not in this record");
    return TextMeaning(Bytes(kilobytes));
}

// Error handles of types 16 and 17.
const Name kErrorHandleSpecial[] = {
    {0xFFFE, "Not Provided"},
    {0xFFFF, "No Error"},
};

// ---- type 17 ----

// 0 (an empty socket) gives no width either.
const Name kWidthSpecial[] = {{0, "Unknown"}, {0xFFFF, "Unknown"}};

// MB, or KB when bit 15 is set.
Meaning DeviceSize(uint64_t value) {
    switch (value) {
    case 0:
        return TextMeaning("No Module Installed");
    case 0xFFFF:
        return TextMeaning("Unknown");
    case 0x7FFF:
        return TextMeaning("32 GB or more: the extended size field, not in this record");
    }
    return TextMeaning(Bytes((value & 0x8000) != 0 ? value & 0x7FFF : (value & 0x7FFF) * 1024));
}

const Name kFormFactor[] = {
    {0x01, "Other"},  {0x02, "Unknown"}, {0x03, "SIMM"},         {0x04, "SIP"},
    {0x05, "Chip"},   {0x06, "DIP"},     {0x07, "ZIP"},          {0x08, "Proprietary Card"},
    {0x09, "DIMM"},   {0x0A, "TSOP"},    {0x0B, "Row of chips"}, {0x0C, "RIMM"},
    {0x0D, "SODIMM"}, {0x0E, "SRIMM"},   {0x0F, "FB-DIMM"},      {0x10, "Die"},
};

const Name kDeviceSetSpecial[] = {{0, "None"}, {0xFF, "Unknown"}};

const Name kMemoryType[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
    {0x03, "DRAM"},
    {0x04, "EDRAM"},
    {0x05, "VRAM"},
    {0x06, "SRAM"},
    {0x07, "RAM"},
    {0x08, "ROM"},
    {0x09, "FLASH"},
    {0x0A, "EEPROM"},
    {0x0B, "FEPROM"},
    {0x0C, "EPROM"},
    {0x0D, "CDRAM"},
    {0x0E, "3DRAM"},
    {0x0F, "SDRAM"},
    {0x10, "SGRAM"},
    {0x11, "RDRAM"},
    {0x12, "DDR"},
    {0x13, "DDR2"},
    {0x14, "DDR2 FB-DIMM"},
    {0x18, "DDR3"},
    {0x19, "FBD2"},
    {0x1A, "DDR4"},
    {0x1B, "LPDDR"},
    {0x1C, "LPDDR2"},
    {0x1D, "LPDDR3"},
    {0x1E, "LPDDR4"},
    {0x1F, "Logical non-volatile device"},
    {0x20, "HBM (High Bandwidth Memory)"},
    {0x21, "HBM2 (High Bandwidth Memory Generation 2)"},
    {0x22, "DDR5"},
    {0x23, "LPDDR5"},
    {0x24, "HBM3 (High Bandwidth Memory Generation 3)"},
};

const Name kTypeDetail[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Fast-paged"},
    {4, "Static column"},
    {5, "Pseudo-static"},
    {6, "RAMBUS"},
    {7, "Synchronous"},
    {8, "CMOS"},
    {9, "EDO"},
    {10, "Window DRAM"},
    {11, "Cache DRAM"},
    {12, "Non-volatile"},
    {13, "Registered (Buffered)"},
    {14, "Unbuffered (Unregistered)"},
    {15, "LRDIMM"},
};

const Name kDeviceSpeedSpecial[] = {
    {0, "Unknown"},
    {0xFFFF, "65535 MT/s or more: the extended speed field, not in this record"},
};

const FieldMeaning kFields[] = {
    Enum(5, "ErrorDetectingMethod", kErrorDetecting),
    Bits(5, "ErrorCorrectingCapability", kErrorCorrecting),
    Enum(5, "SupportedInterleave", kInterleave),
    Enum(5, "CurrentInterleave", kInterleave),
    Custom(5, "MaxModuleSize", MaxModuleSize),
    Bits(5, "SupportedSpeeds", kControllerSpeeds),
    Bits(5, "SupportedTypes", kModuleTypes),
    Bits(5, "Voltage", kModuleVoltage),
    Quantity(6, "CurrentSpeed", kModuleSpeedSpecial, "ns"),
    Bits(6, "CurrentType", kModuleTypes),
    Custom(6, "InstalledSize", ModuleSize),
    Custom(6, "EnabledSize", ModuleSize),
    Bits(6, "ErrorStatus", kModuleErrorStatus),
    Enum(16, "Location", kArrayLocation),
    Enum(16, "Use", kArrayUse),
    Enum(16, "MemoryErrorCorrection", kErrorCorrection),
    Custom(16, "MaxCapacity", MaxCapacity),
    Enum(16, "ErrorHandle", kErrorHandleSpecial),
    Enum(17, "ErrorHandle", kErrorHandleSpecial),
    Quantity(17, "TotalWidth", kWidthSpecial, "bits"),
    Quantity(17, "DataWidth", kWidthSpecial, "bits"),
    Custom(17, "Size", DeviceSize),
    Enum(17, "FormFactor", kFormFactor),
    Enum(17, "DeviceSet", kDeviceSetSpecial),
    Enum(17, "MemoryType", kMemoryType),
    Bits(17, "TypeDetail", kTypeDetail),
    Quantity(17, "Speed", kDeviceSpeedSpecial, "MT/s"),
};

} // namespace

const FieldMeanings kMemoryMeanings{kFields};
