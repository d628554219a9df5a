// Cache Information (type 7).
#include "Meaning.h"

namespace {

const Name kLocation[] = {{0, "Internal"}, {1, "External"}, {2, "Reserved"}, {3, "Unknown"}};
const Name kOperationalMode[] = {
    {0, "Write Through"}, {1, "Write Back"}, {2, "Varies with Memory Address"}, {3, "Unknown"}};

// Bits 2:0 the level (0 is L1), bit 3 socketed, bits 6:5 the location,
// bit 7 enabled, bits 9:8 the operational mode.
Meaning Configuration(uint64_t value) {
    const unsigned bits = static_cast<unsigned>(value);
    return TextMeaning("Level " + std::to_string((bits & 0x07) + 1) +
                       ((bits & 0x08) != 0 ? ", Socketed, " : ", Not Socketed, ") +
                       Names(kLocation).Find((bits >> 5) & 0x03) +
                       ((bits & 0x80) != 0 ? ", Enabled, " : ", Disabled, ") +
                       Names(kOperationalMode).Find((bits >> 8) & 0x03));
}

// Bits 14:0 the size, in units of 1 KB, or of 64 KB when bit 15 is set.
Meaning CacheSize(uint64_t value) {
    if (value == 0xFFFF) return TextMeaning("2 GB or more: the extended size field, not in this record");
    return TextMeaning(Bytes((value & 0x8000) != 0 ? (value & 0x7FFF) * 64 : value & 0x7FFF));
}

const Name kSramType[] = {
    {0, "Other"},          {1, "Unknown"},     {2, "Non-Burst"},    {3, "Burst"},
    {4, "Pipeline Burst"}, {5, "Synchronous"}, {6, "Asynchronous"},
};

const Name kSpeedSpecial[] = {{0, "Unknown"}};

const Name kErrorCorrection[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "None"}, {4, "Parity"}, {5, "Single-bit ECC"}, {6, "Multi-bit ECC"},
};

const Name kSystemCacheType[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Instruction"}, {4, "Data"}, {5, "Unified"}};

const Name kAssociativity[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
    {0x03, "Direct Mapped"},
    {0x04, "2-way Set-Associative"},
    {0x05, "4-way Set-Associative"},
    {0x06, "Fully Associative"},
    {0x07, "8-way Set-Associative"},
    {0x08, "16-way Set-Associative"},
    {0x09, "12-way Set-Associative"},
    {0x0A, "24-way Set-Associative"},
    {0x0B, "32-way Set-Associative"},
    {0x0C, "48-way Set-Associative"},
    {0x0D, "64-way Set-Associative"},
    {0x0E, "20-way Set-Associative"},
};

const FieldMeaning kFields[] = {
    Custom(7, "Configuration", Configuration), Custom(7, "MaxCacheSize", CacheSize),
    Custom(7, "InstalledSize", CacheSize),     Bits(7, "SupportedType", kSramType),
    Bits(7, "CurrentType", kSramType),         Quantity(7, "Speed", kSpeedSpecial, "ns"),
    Enum(7, "ECC", kErrorCorrection),          Enum(7, "Type", kSystemCacheType),
    Enum(7, "Associativity", kAssociativity),
};

} // namespace

const FieldMeanings kCacheMeanings{kFields};
