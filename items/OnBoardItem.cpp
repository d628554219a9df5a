// On Board Devices Information (type 10).
#include "Decoders.h"
#include "common/trace/Trace.h"

namespace {
// Two-byte device entries follow the header: device type (enabled bit
// included), then the string number of the description.
constexpr uint32_t kFirstEntry = 0x04;
constexpr uint32_t kEntrySize = 2;
const char* const kDescriptionMissing = "pWalk->bDescription references an nonexisting string in smbios data";
} // namespace

void COnBoardItem::Attributes(AttributeWriter& w) const {
    // The Length counts the entries; an odd trailing byte is no entry.
    const unsigned devices = w.Length() > kFirstEntry ? (w.Length() - kFirstEntry) / kEntrySize : 0;
    for (unsigned k = 0; k < devices; ++k) {
        const uint8_t* entry = w.Bytes(kFirstEntry + kEntrySize * k, kEntrySize);
        if (entry == nullptr) break; // the copy ends inside the run: later entries are not there either
        w.AppendNumbered("OnBoardType%d", k, AttributeValue::UI1(entry[0]));

        // The string-field rule under a numbered name: the device keeps its
        // number k, so a left-out description leaves a gap in the names.
        const uint8_t number = entry[1];
        if (number == 0) continue;
        if (const char* text = w.Item().StringNumber(number))
            w.AppendNumbered("Description%d", k, AttributeValue::Text(text));
        else
            Trace(TraceLevel::Error, w.Scope(), "Leave", "", "%s", kDescriptionMissing);
    }
}
