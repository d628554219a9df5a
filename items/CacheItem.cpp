// Cache Information (type 7).
#include "Decoders.h"

namespace {
const Field kCache[] = {
    Str("SocketDesignation", 0x04,
        "pCache->bSocketDesignation references an nonexisting string in smbios data"),
    U16("Configuration", 0x05),
    U16("MaxCacheSize", 0x07),
    U16("InstalledSize", 0x09),
    U16("SupportedType", 0x0B),
    U16("CurrentType", 0x0D),
    U8("Speed", 0x0F, 0x0F),
    U8("ECC", 0x10, 0x0F),
    U8("Type", 0x11, 0x0F), // the system cache type, a second "Type" after the header's
    U8("Associativity", 0x12, 0x0F),
};
} // namespace

void CCacheItem::Attributes(AttributeWriter& w) const {
    w.Rows(kCache);
}
