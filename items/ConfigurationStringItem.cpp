// System Configuration Options (type 12).
#include "Decoders.h"

void CConfigurationStringItem::Attributes(AttributeWriter& w) const {
    w.Row(U8("NrStrings", 0x04));
    w.CountedStrings(0x04, "ConfigurationString%d");
}
