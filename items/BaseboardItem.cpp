// Baseboard Information (type 2).
//
// Besides its attributes this decoder traces each field at level 4: a record
// naming the field once its Length condition holds, and one with the value.
#include "Decoders.h"

#include "common/trace/Trace.h"

namespace {
// One row of the table with the text of its value record ("Loaction" and
// "ChassisHanlde" are the texts the trace readers know). The before-record
// carries the attribute's name; a null value text means none is written.
struct TracedField {
    Field field;
    const char* valueText;
};

const TracedField kBaseboard[] = {
    {Str("Manufacturer", 0x04, "pBaseboard->bManufacturer references an nonexisting string in smbios data",
         4),
     "Manufacturer"},
    {Str("Product", 0x05, "pBaseboard->bProduct references an nonexisting string in smbios data", 5),
     "Product"},
    {Str("Version", 0x06, "pBaseboard->bVersion references an nonexisting string in smbios data", 6),
     "Version"},
    {Str("SerialNumber", 0x07, "pBaseboard->bSerialNumber references an nonexisting string in smbios data",
         7),
     "SerialNumber"},
    {Str("AssetTag", 0x08, "pBaseboard->bAssetTag references an nonexisting string in smbios data", 8),
     "AssetTag"},
    {U8("FeatureFlags", 0x09, 9), "FeatureFlags"},
    {Str("Location", 0x0A, "pBaseboard->bLocation references an nonexisting string in smbios data", 10),
     "Loaction"},
    {U16("ChassisHandle", 0x0B, 12), "ChassisHanlde"},
    {U8("BoardType", 0x0D, 13), "BoardType"},
    {U8("NrContainedObjHandles", 0x0E, 14), nullptr},
};

// The header rows, already appended by the frame; only their value records.
const Field kHeader[] = {U8("Type", 0x00), U8("Length", 0x01), U16("Handle", 0x02)};

constexpr uint32_t kHandleCount = 0x0E;
constexpr uint32_t kHandles = 0x0F;
constexpr int kHandlesAbove = 15;

uint32_t WidthOf(const Field& f) {
    return f.kind == FieldKind::Word ? 2 : 1;
}

void Internal(const AttributeWriter& w, const char* text) {
    Trace(TraceLevel::Verbose, w.Scope(), "Internal", text, "");
}

void TracedRow(AttributeWriter& w, const TracedField& row) {
    const Field& f = row.field;
    if (!w.LengthAbove(f.lengthAbove)) return;
    Internal(w, f.name);
    uint32_t value = 0;
    if (!w.Read(f.offset, WidthOf(f), value)) return; // outside the structure copy
    if (f.kind == FieldKind::String) {
        // The value record comes after the string is found and before it is
        // appended; number 0 and missing strings write none.
        const char* text = w.Item().StringNumber(static_cast<uint8_t>(value));
        if (text != nullptr && row.valueText != nullptr)
            Trace(TraceLevel::Verbose, w.Scope(), "Internal", row.valueText, ">%s<", text);
        w.Row(f);
        return;
    }
    w.Row(f);
    if (row.valueText != nullptr)
        Trace(TraceLevel::Verbose, w.Scope(), "Internal", row.valueText, ">%d<", static_cast<int>(value));
}
} // namespace

void CBaseboardItem::Attributes(AttributeWriter& w) const {
    for (const Field& f : kHeader) {
        uint32_t value = 0;
        if (w.Read(f.offset, WidthOf(f), value))
            Trace(TraceLevel::Verbose, w.Scope(), "Internal", f.name, ">%d<", static_cast<int>(value));
    }
    for (const TracedField& row : kBaseboard)
        TracedRow(w, row);

    // Contained object handles: n from 0x0E, not compared with Length.
    if (!w.LengthAbove(kHandlesAbove)) return;
    Internal(w, "ContainedObjHandle");
    uint32_t count = 0;
    if (!w.Read(kHandleCount, 1, count)) return;
    for (uint8_t i = 0; i < count; ++i) {
        uint32_t handle = 0;
        // A count reaching past the structure copy ends the loop at the first
        // handle that does not lie wholly inside it.
        if (!w.Read(kHandles + 2u * i, 2, handle)) break;
        w.AppendNumbered("ContainedObjHandle%d", i, AttributeValue::UI2(handle));
    }
}
