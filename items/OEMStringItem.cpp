// OEM Strings (type 11).
#include "Decoders.h"

void COEMStringItem::Attributes(AttributeWriter& w) const {
    w.Row(U8("NrStrings", 0x04));
    w.CountedStrings(0x04, "OEMString%d");
}
