// BIOS (type 0), System (type 1), Baseboard (type 2) and System Enclosure or
// Chassis (type 3).
#include "Meaning.h"

#include <cstdio>

namespace {

// Bits 31:0 of the characteristics; bits 47:32 are the BIOS vendor's, bits
// 63:48 the system vendor's.
const Name kBiosCharacteristics[] = {
    {2, "Unknown"},
    {3, "BIOS characteristics are not supported"},
    {4, "ISA is supported"},
    {5, "MCA is supported"},
    {6, "EISA is supported"},
    {7, "PCI is supported"},
    {8, "PC card (PCMCIA) is supported"},
    {9, "Plug and Play is supported"},
    {10, "APM is supported"},
    {11, "BIOS is upgradeable (flash)"},
    {12, "BIOS shadowing is allowed"},
    {13, "VL-VESA is supported"},
    {14, "ESCD support is available"},
    {15, "Boot from CD is supported"},
    {16, "Selectable boot is supported"},
    {17, "BIOS ROM is socketed"},
    {18, "Boot from PC card (PCMCIA) is supported"},
    {19, "EDD specification is supported"},
    {20, "Int 13h: Japanese floppy for NEC 9800 1.2 MB (3.5\", 1K bytes/sector, 360 RPM) is supported"},
    {21, "Int 13h: Japanese floppy for Toshiba 1.2 MB (3.5\", 360 RPM) is supported"},
    {22, "Int 13h: 5.25\" / 360 KB floppy services are supported"},
    {23, "Int 13h: 5.25\" / 1.2 MB floppy services are supported"},
    {24, "Int 13h: 3.5\" / 720 KB floppy services are supported"},
    {25, "Int 13h: 3.5\" / 2.88 MB floppy services are supported"},
    {26, "Int 5h: print screen service is supported"},
    {27, "Int 9h: 8042 keyboard services are supported"},
    {28, "Int 14h: serial services are supported"},
    {29, "Int 17h: printer services are supported"},
    {30, "Int 10h: CGA/mono video services are supported"},
    {31, "NEC PC-98"},
};

// Characteristics extension byte 1.
const Name kBiosExtension1[] = {
    {0, "ACPI is supported"},
    {1, "USB legacy is supported"},
    {2, "AGP is supported"},
    {3, "I2O boot is supported"},
    {4, "LS-120 SuperDisk boot is supported"},
    {5, "ATAPI ZIP drive boot is supported"},
    {6, "1394 boot is supported"},
    {7, "Smart battery is supported"},
};

// Characteristics extension byte 2.
const Name kBiosExtension2[] = {
    {0, "BIOS Boot Specification is supported"},
    {1, "Function key-initiated network service boot is supported"},
    {2, "Enable targeted content distribution"},
    {3, "UEFI Specification is supported"},
    {4, "SMBIOS table describes a virtual machine"},
    {5, "Manufacturing mode is supported"},
    {6, "Manufacturing mode is enabled"},
};

Meaning Characteristics(uint64_t value) {
    Meaning m = BitsOf(kBiosCharacteristics, value & 0xFFFFFFFFu);
    char text[48];
    if (const unsigned bits = static_cast<unsigned>(value >> 32 & 0xFFFF)) {
        std::snprintf(text, sizeof text, "BIOS vendor's bits 47:32: 0x%04X", bits);
        m.items.push_back(text);
    }
    if (const unsigned bits = static_cast<unsigned>(value >> 48 & 0xFFFF)) {
        std::snprintf(text, sizeof text, "system vendor's bits 63:48: 0x%04X", bits);
        m.items.push_back(text);
    }
    return m;
}

Meaning StartingSegment(uint64_t segment) {
    if (segment == 0) return {};
    const uint64_t runtime = (0x10000 - segment) * 16;
    char text[96];
    std::snprintf(text, sizeof text, "address 0x%05X, runtime size %s", static_cast<unsigned>(segment << 4),
                  runtime % 1024 == 0 ? Bytes(runtime / 1024).c_str()
                                      : (std::to_string(runtime) + " bytes").c_str());
    return TextMeaning(text);
}

Meaning RomSize(uint64_t value) {
    if (value == 0xFF) return TextMeaning("16 MB or more: see the Extended BIOS ROM Size field (offset 18h)");
    return TextMeaning(Bytes(64 * (value + 1)));
}

const Name kWakeupType[] = {
    {0, "Reserved"},   {1, "Other"},        {2, "Unknown"},  {3, "APM Timer"},         {4, "Modem Ring"},
    {5, "LAN Remote"}, {6, "Power Switch"}, {7, "PCI PME#"}, {8, "AC Power Restored"},
};

const Name kBoardFeatures[] = {
    {0, "Board is a hosting board (for example, a motherboard)"},
    {1, "Board requires at least one daughter board or auxiliary card"},
    {2, "Board is removable"},
    {3, "Board is replaceable"},
    {4, "Board is hot swappable"},
};

const Name kBoardType[] = {
    {0x01, "Unknown"},
    {0x02, "Other"},
    {0x03, "Server Blade"},
    {0x04, "Connectivity Switch"},
    {0x05, "System Management Module"},
    {0x06, "Processor Module"},
    {0x07, "I/O Module"},
    {0x08, "Memory Module"},
    {0x09, "Daughter board"},
    {0x0A, "Motherboard (includes processor, memory, and I/O)"},
    {0x0B, "Processor/Memory Module"},
    {0x0C, "Processor/IO Module"},
    {0x0D, "Interconnect board"},
};

// Bits 6:0 of the chassis type byte; bit 7 says whether a lock is present.
const Name kChassisType[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
    {0x03, "Desktop"},
    {0x04, "Low Profile Desktop"},
    {0x05, "Pizza Box"},
    {0x06, "Mini Tower"},
    {0x07, "Tower"},
    {0x08, "Portable"},
    {0x09, "Laptop"},
    {0x0A, "Notebook"},
    {0x0B, "Hand Held"},
    {0x0C, "Docking Station"},
    {0x0D, "All in One"},
    {0x0E, "Sub Notebook"},
    {0x0F, "Space-saving"},
    {0x10, "Lunch Box"},
    {0x11, "Main Server Chassis"},
    {0x12, "Expansion Chassis"},
    {0x13, "SubChassis"},
    {0x14, "Bus Expansion Chassis"},
    {0x15, "Peripheral Chassis"},
    {0x16, "RAID Chassis"},
    {0x17, "Rack Mount Chassis"},
    {0x18, "Sealed-case PC"},
    {0x19, "Multi-system chassis"},
    {0x1A, "Compact PCI"},
    {0x1B, "Advanced TCA"},
    {0x1C, "Blade"},
    {0x1D, "Blade Enclosure"},
    {0x1E, "Tablet"},
    {0x1F, "Convertible"},
    {0x20, "Detachable"},
    {0x21, "IoT Gateway"},
    {0x22, "Embedded PC"},
    {0x23, "Mini PC"},
    {0x24, "Stick PC"},
};

} // namespace

const Names kChassisTypeNames{kChassisType};

namespace {

Meaning ChassisType(uint64_t value) {
    const char* name = kChassisTypeNames.Find(static_cast<uint32_t>(value & 0x7F));
    if (name == nullptr) return {};
    return TextMeaning(std::string(name) + ((value & 0x80) != 0 ? ", lock present" : ", lock not present"));
}

// Boot-up, power supply and thermal state.
const Name kEnclosureState[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Safe"}, {4, "Warning"}, {5, "Critical"}, {6, "Non-recoverable"},
};

const Name kSecurityStatus[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "None"},
    {4, "External interface locked out"},
    {5, "External interface enabled"},
};

const Name kHeightSpecial[] = {{0, "Unspecified"}};

const FieldMeaning kFields[] = {
    Custom(0, "StartingAddrSegment", StartingSegment),
    Custom(0, "ROMSize", RomSize),
    Custom(0, "Characteristics", Characteristics),
    Bits(0, "ExtensionByte0", kBiosExtension1),
    Bits(0, "ExtensionByte1", kBiosExtension2),
    Enum(1, "WakeupType", kWakeupType),
    Bits(2, "FeatureFlags", kBoardFeatures),
    Enum(2, "BoardType", kBoardType),
    Custom(3, "Type", ChassisType),
    Enum(3, "BootupState", kEnclosureState),
    Enum(3, "PowerSupplyState", kEnclosureState),
    Enum(3, "ThermalState", kEnclosureState),
    Enum(3, "SecurityStatus", kSecurityStatus),
    Quantity(3, "Height", kHeightSpecial, "U"),
};

} // namespace

const FieldMeanings kPlatformMeanings{kFields};
