// System Power Supply (type 39).
#include "Decoders.h"

namespace {
// Location is a string here, unlike in the memory array.
const Field kPowerSupply[] = {
    U8("PowerUnitGroup", 0x04),
    Str("Location", 0x05, "pPowerSupply->bLocation references an nonexisting string in smbios data"),
    Str("DeviceName", 0x06, "pPowerSupply->bDeviceName references an nonexisting string in smbios data"),
    Str("Manufacturer", 0x07, "pPowerSupply->bManufacturer references an nonexisting string in smbios data"),
    Str("SerialNumber", 0x08, "pPowerSupply->bSerialNumber references an nonexisting string in smbios data"),
    Str("AssetTagNumber", 0x09,
        "pPowerSupply->bAssetTagNumber references an nonexisting string in smbios data"),
    Str("ModelPartNumber", 0x0A,
        "pPowerSupply->bModelPartNumber references an nonexisting string in smbios data"),
    Str("RevisionLevel", 0x0B,
        "pPowerSupply->bRevisionLevel references an nonexisting string in smbios data"),
    U16("MaxPowerCapacity", 0x0C),
    U16("Characteristics", 0x0E),
    U16("InputVoltageProbeHandle", 0x10),
    U16("CoolingDeviceHandle", 0x12),
    U16("InputCurrentProbeHandle", 0x14),
};
} // namespace

void CPowerSupplyItem::Attributes(AttributeWriter& w) const {
    w.Rows(kPowerSupply);
}
