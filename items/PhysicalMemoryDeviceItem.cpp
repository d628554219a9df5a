// Memory Device (type 17).
#include "Decoders.h"

namespace {
// The oldest layout (Length 0x15). Size keeps its unit bit.
const Field kDevice[] = {
    U16("PhysicalMemoryArrayHandle", 0x04),
    U16("ErrorHandle", 0x06),
    U16("TotalWidth", 0x08),
    U16("DataWidth", 0x0A),
    U16("Size", 0x0C),
    U8("FormFactor", 0x0E),
    U8("DeviceSet", 0x0F),
    Str("DeviceLocator", 0x10,
        "pPhysMemDevice->bDeviceLocator references an nonexisting string in smbios data"),
    Str("BankLocator", 0x11, "pPhysMemDevice->bBankLocator references an nonexisting string in smbios data"),
    U8("MemoryType", 0x12),
    U16("TypeDetail", 0x13),
};

// Later fields, each present when the Length passes the offset of its first
// byte: Speed from Length 0x16 on, although its second byte is at 0x16. The
// Attributes byte (0x1B) and everything behind it are not decoded.
constexpr int kOldestLength = 0x15;
const Field kLater[] = {
    U16("Speed", 0x15, 0x15),
    Str("Manufacturer", 0x17, "pPhysMemDevice->bManufacturer references an nonexisting string in smbios data",
        0x17),
    Str("SerialNumber", 0x18, "pPhysMemDevice->bSerialNumber references an nonexisting string in smbios data",
        0x18),
    Str("AssetTag", 0x19, "pPhysMemDevice->bAssetTag references an nonexisting string in smbios data", 0x19),
    Str("PartNumber", 0x1A, "pPhysMemDevice->bPartNumber references an nonexisting string in smbios data",
        0x1A),
};
} // namespace

void CPhysicalMemoryDeviceItem::Attributes(AttributeWriter& w) const {
    w.Rows(kDevice);
    if (!w.LengthAbove(kOldestLength)) return;
    w.Rows(kLater);
}
