// System Information (type 1).
#include "Decoders.h"

namespace {
const Field kSystem[] = {
    Str("Manufacturer", 0x04, "pSystem->bManufacturer references an nonexisting string in smbios data"),
    Str("ProductName", 0x05, "pSystem->bProductName references an nonexisting string in smbios data"),
    Str("Version", 0x06, "pSystem->bVersion references an nonexisting string in smbios data"),
    Str("SerialNumber", 0x07, "pSystem->bSerialNumber references an nonexisting string in smbios data"),
    Uuid("UUID", 0x08, 8),
    U8("WakeupType", 0x18, 8),
    Str("SKUNumber", 0x19, "pSystem->bSKUNumber references an nonexisting string in smbios data", 0x19),
    Str("Family", 0x1A, "pSystem->bFamily references an nonexisting string in smbios data", 0x19),
};
} // namespace

void CSystemItem::Attributes(AttributeWriter& w) const {
    w.Rows(kSystem);
}
