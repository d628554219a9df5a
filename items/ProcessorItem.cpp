// Processor Information (type 4).
#include "Decoders.h"

namespace {
const Field kProcessor[] = {
    Str("SocketDesignation", 0x04,
        "pProcessor->bSocketDesignation references an nonexisting string in smbios data"),
    U8("ProcessorType", 0x05),
    U8("ProcessorFamily", 0x06),
    Str("ProcessorManufacturer", 0x07,
        "pProcessor->bProcessorManufacturer references an nonexisting string in smbios data"),
    Hex64("ProcessorID", 0x08),
    Str("ProcessorVersion", 0x10,
        "pProcessor->bProcessorVersion references an nonexisting string in smbios data"),
    U8("Voltage", 0x11),
    U16("ExternalClock", 0x12),
    U16("MaxSpeed", 0x14),
    U16("CurrentSpeed", 0x16),
    U8("Status", 0x18),
    U8("ProcessorUpgrade", 0x19),
    U16("L1CacheHandle", 0x1A, 0x1A),
    U16("L2CacheHandle", 0x1C, 0x1A),
    U16("L3CacheHandle", 0x1E, 0x1A),
    Str("SerialNumber", 0x20, "pProcessor->bSerialNumber references an nonexisting string in smbios data",
        0x20),
    Str("AssetTag", 0x21, "pProcessor->bAssetTag references an nonexisting string in smbios data", 0x20),
    Str("PartNumber", 0x22, "pProcessor->bPartNumber references an nonexisting string in smbios data", 0x20),
};
} // namespace

void CProcessorItem::Attributes(AttributeWriter& w) const {
    w.Rows(kProcessor);
}
