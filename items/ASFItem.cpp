// Alerting structure (types 128 and 129).
#include "Decoders.h"

namespace {
const Field kAsf[] = {
    Str("Description", 0x04, "pASF->bDescription references an nonexisting string in smbios data"),
    U8("StructureVersion", 0x05),
    Str("SystemID", 0x06, "pASF->bSystemID references an nonexisting string in smbios data"),
    U8("Attributes", 0x07),
};

// The slot fields of the long layout (Length 0x0C).
const Field kSlot[] = {
    U8("SlotNumber", 0x08, 0x0B),
    U8("PCIBusNumber", 0x09, 0x0B),
    U8("PCIDeviceNumber", 0x0A, 0x0B),
    U8("SlotCharacteristics1", 0x0B, 0x0B),
};
} // namespace

// Vendors put other layouts under these OEM types; only version 1 with at
// most a description string and a system ID string is decoded. A byte the
// copy does not hold fails its test.
bool CASFItem::Accepts() const {
    const uint8_t* b = Bytes(0, 7);
    if (b == nullptr) return false;
    const uint8_t type = b[0], length = b[1], description = b[4], version = b[5], systemId = b[6];
    return type >= 0x80 && (length == 0x0C || length == 0x08) && version == 1 && description <= 1 &&
           systemId <= 2;
}

void CASFItem::Attributes(AttributeWriter& w) const {
    w.Rows(kAsf);
    w.Rows(kSlot);
}
