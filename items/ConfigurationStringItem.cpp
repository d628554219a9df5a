// System Configuration Options (type 12).
#include "Decoders.h"

void CConfigurationStringItem::Attributes(AttributeWriter& w) const {
    w.Row(U8("NrStrings", 0x04));
    uint32_t count = 0;
    if (!w.Read(0x04, 1, count)) return; // no Count byte in the copy: no strings either

    // Strings are taken by position, not through string-number bytes. A Count
    // beyond the string set yields the strings that exist, without a record:
    // the first position that names no string ends the run, as every later
    // one names none either.
    for (unsigned i = 0; i < count; ++i) {
        const char* text = w.Item().StringNumber(static_cast<uint8_t>(i + 1));
        if (text == nullptr) break;
        w.AppendNumbered("ConfigurationString%d", i, AttributeValue::Text(text));
    }
}
