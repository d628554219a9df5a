// Memory Controller Information (type 5), obsolete since SMBIOS 2.1.
#include "Decoders.h"

namespace {
const Field kMemCtrl[] = {
    U8("ErrorDetectingMethod", 0x04),
    U8("ErrorCorrectingCapability", 0x05),
    U8("SupportedInterleave", 0x06),
    U8("CurrentInterleave", 0x07),
    U8("MaxModuleSize", 0x08),
    U16("SupportedSpeeds", 0x09),
    U16("SupportedTypes", 0x0B),
    U8("Voltage", 0x0D),
    U8("NrSlots", 0x0E),
};

constexpr uint32_t kSlotCount = 0x0E;
constexpr uint32_t kHandles = 0x0F;
} // namespace

void CMemCtrlOldItem::Attributes(AttributeWriter& w) const {
    w.Rows(kMemCtrl);

    uint32_t slots = 0;
    if (!w.Read(kSlotCount, 1, slots)) return;
    for (uint8_t i = 0; i < slots; ++i) {
        uint32_t handle = 0;
        // A slot count reaching past the structure copy ends the loop at the
        // first handle that does not lie wholly inside it.
        if (!w.Read(kHandles + 2u * i, 2, handle)) break;
        w.AppendNumbered("MemModuleHandle%d", i, AttributeValue::UI2(handle));
    }

    // The enabled-ECC byte follows the handles. Only a structure of exactly
    // the SMBIOS 2.0 size lacks it; a shorter one has it too (signed test).
    const uint32_t eccOffset = kHandles + 2u * slots;
    uint32_t ecc = 0;
    if (static_cast<int>(w.Length()) - 2 * static_cast<int>(slots) - 15 != 0 && w.Read(eccOffset, 1, ecc))
        w.Append("EnabledECC", AttributeValue::UI1(ecc));
}
