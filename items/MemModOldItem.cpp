// Memory Module Information (type 6), obsolete since SMBIOS 2.1.
#include "Decoders.h"

namespace {
const Field kMemMod[] = {
    Str("SocketDesignation", 0x04,
        "pMemModOld->bSocketDesignation references an nonexisting string in smbios data"),
    U8("BankConnections", 0x05),
    U8("CurrentSpeed", 0x06),
    U16("CurrentType", 0x07),
    U8("InstalledSize", 0x09),
    U8("EnabledSize", 0x0A),
    U8("ErrorStatus", 0x0B),
};
} // namespace

void CMemModOldItem::Attributes(AttributeWriter& w) const {
    w.Rows(kMemMod);
}
