// System Slots (type 9).
#include "Decoders.h"

namespace {
// SlotCharacteristics2 is read whatever the Length: in the oldest layout
// (Length 0x0C) its byte is the first byte of the string set. Segment, bus
// and device of later layouts are not decoded.
const Field kSlot[] = {
    Str("SlotDesignation", 0x04, "pSlot->bSlotDesignation references an nonexisting string in smbios data"),
    U8("SlotType", 0x05),
    U8("SlotDataBusWidth", 0x06),
    U8("CurrentUsage", 0x07),
    U8("SlotLength", 0x08),
    U16("SlotID", 0x09),
    U8("SlotCharacteristics1", 0x0B),
    U8("SlotCharacteristics2", 0x0C),
};
} // namespace

void CSystemSlotItem::Attributes(AttributeWriter& w) const {
    w.Rows(kSlot);
}
