// BIOS identification (type 188).
#include "Decoders.h"

namespace {
// Reported as it stands; whether it is the OEM extension marker is the
// dispatcher's business.
const Field kBiosId[] = {
    U32("MagicBiosIdentifier", 0x04),
};
} // namespace

void CBiosIdentificationItem::Attributes(AttributeWriter& w) const {
    w.Rows(kBiosId);
}
