// Board identification (type 176).
#include "Decoders.h"

namespace {
const Field kBoardId[] = {
    U16("BoardHWConfig", 0x04),   U32("OMFBoardID", 0x06),      U16("BoardHWGS", 0x0A),
    U16("BoardHWVariante", 0x0C), U16("ChassisGeometry", 0x0E),
};
} // namespace

// The one layout decoded is recognised by its Length alone.
bool COMFBoardIDItem::Accepts() const {
    return Length() == 0x10;
}

void COMFBoardIDItem::Attributes(AttributeWriter& w) const {
    w.Rows(kBoardId);
}
