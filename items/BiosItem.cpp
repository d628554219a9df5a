// BIOS Information (type 0).
#include "Decoders.h"

namespace {
const Field kBios[] = {
    Str("Vendor", 0x04, "pBios->bVendor references an nonexisting string in smbios data"),
    Str("Version", 0x05, "pBios->bVersion references an nonexisting string in smbios data"),
    U16("StartingAddrSegment", 0x06),
    Str("ReleaseDate", 0x08, "pBios->bReleaseDate references an nonexisting string in smbios data"),
    U8("ROMSize", 0x09),
    Hex64("Characteristics", 0x0A),
};

// Only when the structure has more than two extension bytes.
const Field kRelease[] = {
    U8("SystemBiosMajorRelease", 0x14, 20),
    U8("SystemBiosMinorRelease", 0x15, 20),
    U8("FWMajorRelease", 0x16, 20),
    U8("FWMinorRelease", 0x17, 20),
};

constexpr uint8_t kExtensionBytes = 0x12;
} // namespace

void CBiosItem::Attributes(AttributeWriter& w) const {
    w.Rows(kBios);
    // Every byte behind Characteristics up to the end of the formatted area,
    // so the release bytes also appear here.
    for (uint32_t offset = kExtensionBytes; offset < w.Length(); ++offset) {
        uint32_t byte = 0;
        if (!w.Read(offset, 1, byte)) break;
        w.AppendNumbered("ExtensionByte%d", offset - kExtensionBytes, AttributeValue::UI1(byte));
    }
    w.Rows(kRelease);
}
