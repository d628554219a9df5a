// AMT structure (type 130).
#include "Decoders.h"

namespace {
constexpr uint32_t kAmtSignature = 0x544D4124; // "$AMT"

// The flags keep their raw byte: 1 stays 1, not VARIANT_TRUE.
const Field kAmt[] = {
    U32("AmtSignature", 0x04),    Flag("AmtSupported", 0x08),   Flag("AmtEnabled", 0x09),
    Flag("IDEREnabled", 0x0A),    Flag("SOLEnabled", 0x0B),     Flag("NetworkEnabled", 0x0C),
    U8("ExtendedData", 0x0D),     U8("OEMCapabilities1", 0x0E), U8("OEMCapabilities2", 0x0F),
    U8("OEMCapabilities3", 0x10), U8("OEMCapabilities4", 0x11), U16("Reserved", 0x12),
};
} // namespace

bool CAMTItem::Accepts() const {
    uint64_t signature = 0;
    return Type() == 0x82 && Length() == 0x14 && Read(0x04, 4, signature) && signature == kAmtSignature;
}

void CAMTItem::Attributes(AttributeWriter& w) const {
    w.Rows(kAmt);
}
