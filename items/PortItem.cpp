// Port Connector Information (type 8).
#include "Decoders.h"

namespace {
// Each designator has its own string number.
const Field kPort[] = {
    Str("InternalDesignator", 0x04,
        "pPort->bInternalDesignator references an nonexisting string in smbios data"),
    U8("InternalType", 0x05),
    Str("ExternalDesignator", 0x06,
        "pPort->bExternalDesignator references an nonexisting string in smbios data"),
    U8("ExternalType", 0x07),
    U8("PortType", 0x08),
};
} // namespace

void CPortItem::Attributes(AttributeWriter& w) const {
    w.Rows(kPort);
}
