// System Enclosure or Chassis (type 3).
#include "Decoders.h"

#include "common/trace/Trace.h"

namespace {
const Field kEnclosure[] = {
    Str("Manufacturer", 0x04, "pEnclosure->bManufacturer references an nonexisting string in smbios data"),
    U8("Type", 0x05), // the enclosure type byte, a second "Type" after the header's
    Str("Version", 0x06, "pEnclosure->bVersion references an nonexisting string in smbios data"),
    Str("SerialNumber", 0x07, "pEnclosure->bSerialNumber references an nonexisting string in smbios data"),
    Str("AssetTag", 0x08, "pEnclosure->bAssetTag references an nonexisting string in smbios data"),
    U8("BootupState", 0x09, 9),
    U8("PowerSupplyState", 0x0A, 9),
    U8("ThermalState", 0x0B, 9),
    U8("SecurityStatus", 0x0C, 9),
    U32("OEMDefined", 0x0D, 13),
    U8("Height", 0x11, 17),
    U8("NrPowerCords", 0x12, 17),
    U8("NrContainedElements", 0x13, 19),
    U8("LenContainedElements", 0x14, 19),
};

constexpr uint32_t kElementCount = 0x13;
constexpr uint32_t kElementLength = 0x14;
constexpr uint32_t kElements = 0x15;
constexpr int kElementsAbove = 19;

void Internal(const AttributeWriter& w, const char* details, int value) {
    Trace(TraceLevel::Verbose, w.Scope(), "Internal", "", details, value);
}
} // namespace

void CEnclosureItem::Attributes(AttributeWriter& w) const {
    Trace(TraceLevel::Verbose, w.Scope(), "Internal", "", "Header of this SMBios Type Instance");
    Internal(w, "Type: %d", Type());
    Internal(w, "Length: %d", Length());
    Internal(w, "Handle: %d", Handle());

    w.Rows(kEnclosure);

    // Contained elements: n records of m bytes each from 0x15, neither
    // compared with Length.
    uint32_t count = 0, size = 0;
    if (!w.LengthAbove(kElementsAbove) || !w.Read(kElementCount, 1, count) ||
        !w.Read(kElementLength, 1, size))
        return;
    if (count == 0) return;
    Internal(w, "Having %d ContainedElements ...", static_cast<int>(count));
    uint32_t cursor = kElements;
    for (uint8_t i = 0; i < count; ++i, cursor += size) {
        // A count or record length reaching past the structure copy ends the
        // loop at the first element that does not lie wholly inside it.
        const uint8_t* element = w.Bytes(cursor, size);
        if (element == nullptr) break;
        for (uint8_t j = 0; j < size; ++j)
            Trace(TraceLevel::Verbose, w.Scope(), "Internal", "", "Loop: %d; pByte: 0x%p", j,
                  static_cast<const void*>(element + j));
        // A record length of 0 gives empty byte arrays.
        w.AppendNumbered("ContainedElements%d", i, AttributeValue::Raw(size ? element : nullptr, size));
    }
    Trace(TraceLevel::Verbose, w.Scope(), "Internal", "", "Done ContainedElements ...");
}
