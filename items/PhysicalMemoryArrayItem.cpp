// Physical Memory Array (type 16).
#include "Decoders.h"

namespace {
// Location is a code here, not a string. The extended maximum capacity of
// later layouts is not decoded.
const Field kArray[] = {
    U8("Location", 0x04),     U8("Use", 0x05),          U8("MemoryErrorCorrection", 0x06),
    U32("MaxCapacity", 0x07), U16("ErrorHandle", 0x0B), U16("NrDevices", 0x0D),
};
} // namespace

void CPhysicalMemoryArrayItem::Attributes(AttributeWriter& w) const {
    w.Rows(kArray);
}
