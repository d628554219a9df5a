#include "AnyDecoder.h"

#include "items/Decoders.h"

const uint8_t kDecodedTypes[22] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   9,   10,
                                   11, 12, 16, 17, 39, 128, 129, 130, 176, 186, 188};

namespace {
template <class D> std::unique_ptr<CCVSmBiosItem> Make() {
    return std::unique_ptr<CCVSmBiosItem>(new D());
}
} // namespace

std::unique_ptr<CCVSmBiosItem> AnyDecoder(uint8_t type) {
    switch (type) {
    case 0:
        return Make<CBiosItem>();
    case 1:
        return Make<CSystemItem>();
    case 2:
        return Make<CBaseboardItem>();
    case 3:
        return Make<CEnclosureItem>();
    case 4:
        return Make<CProcessorItem>();
    case 5:
        return Make<CMemCtrlOldItem>();
    case 6:
        return Make<CMemModOldItem>();
    case 7:
        return Make<CCacheItem>();
    case 8:
        return Make<CPortItem>();
    case 9:
        return Make<CSystemSlotItem>();
    case 10:
        return Make<COnBoardItem>();
    case 11:
        return Make<COEMStringItem>();
    case 12:
        return Make<CConfigurationStringItem>();
    case 16:
        return Make<CPhysicalMemoryArrayItem>();
    case 17:
        return Make<CPhysicalMemoryDeviceItem>();
    case 39:
        return Make<CPowerSupplyItem>();
    case 128:
    case 129:
        return Make<CASFItem>();
    case 130:
        return Make<CAMTItem>();
    case 176:
        return Make<COMFBoardIDItem>();
    case 186:
        return Make<CDDCItem>();
    case 188:
        return Make<CBiosIdentificationItem>();
    default:
        return nullptr;
    }
}
