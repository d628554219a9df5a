// Display identification obtained over DDC (type 186).
#include "Decoders.h"

namespace {
// The EDID identification items, passed on undecoded: the packed
// manufacturer letters stay a little-endian word, the year has no offset.
const Field kDdc[] = {
    U16("ManufacturerCode", 0x04), U16("ProductCode", 0x06),      U32("SerialNumber", 0x08),
    U8("WeekOfManufacture", 0x0C), U8("YearOfManufacture", 0x0D), U8("DPMS", 0x0E),
};
} // namespace

// The one layout decoded is recognised by its Length alone.
bool CDDCItem::Accepts() const {
    return Length() == 0x0F;
}

void CDDCItem::Attributes(AttributeWriter& w) const {
    w.Rows(kDdc);
}
