#include "TypeDispatcher.h"

#include <new>

#include "common/trace/MethodScope.h"
#include "items/Decoders.h"

namespace {
constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);
constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr uint32_t kOemMarker = 0x24313838; // "881$"

// Null when there is no memory for the decoder: the callers answer RetVal 4.
template <class D> std::unique_ptr<CCVSmBiosItem> Make() {
    return std::unique_ptr<CCVSmBiosItem>(new (std::nothrow) D());
}

struct Decoder {
    const char* found; // the trace text when the type is selected
    std::unique_ptr<CCVSmBiosItem> (*make)();
    bool needsMarker;
};

// The supported types, in the order the factory tests them.
Decoder Lookup(uint8_t type) {
    switch (type) {
    case 39:
        return {"Trying to find power supply instances.", Make<CPowerSupplyItem>, false};
    case 0:
        return {"Trying to find Bios instances.", Make<CBiosItem>, false};
    case 1:
        return {"Trying to find System instances.", Make<CSystemItem>, false};
    case 2:
        return {"Trying to find BaseBoard instances.", Make<CBaseboardItem>, false};
    case 3:
        return {"Trying to find Enclosure instances.", Make<CEnclosureItem>, false};
    case 4:
        return {"Trying to find Processor instances.", Make<CProcessorItem>, false};
    case 5:
        return {"Trying to find obsolete memory controller instances.", Make<CMemCtrlOldItem>, false};
    case 6:
        return {"Trying to find obsolete memory module instances.", Make<CMemModOldItem>, false};
    case 7:
        return {"Trying to find cache instances.", Make<CCacheItem>, false};
    case 8:
        return {"Trying to find port instances.", Make<CPortItem>, false};
    case 9:
        return {"Trying to find SystemSlot instances.", Make<CSystemSlotItem>, false};
    case 10:
        return {"Trying to find OnBoard instances.", Make<COnBoardItem>, false};
    case 11:
        return {"Trying to find OEM string instances.", Make<COEMStringItem>, false};
    case 12:
        return {"Trying to find configuration string instances.", Make<CConfigurationStringItem>, false};
    case 16:
        return {"Trying to find physical memory array instances.", Make<CPhysicalMemoryArrayItem>, false};
    case 17:
        return {"Trying to find physical memory device instances.", Make<CPhysicalMemoryDeviceItem>, false};
    case 128:
    case 129:
        return {"Trying to find AOL/ASF instances.", Make<CASFItem>, false};
    case 130:
        return {"Trying to find AMT instances.", Make<CAMTItem>, false};
    case 176:
        return {"Trying to find OMF Board ID instances.", Make<COMFBoardIDItem>, true};
    case 186:
        return {"Trying to find DDC instances.", Make<CDDCItem>, true};
    case 188:
        return {"Trying to find Bios identificaiton instances.", Make<CBiosIdentificationItem>, false};
    default:
        return {nullptr, nullptr, false};
    }
}
// A driver whose structure cannot be copied out of the table, or whose
// record cannot join the outer arrays, for want of memory: RetVal 3 and no
// output, as for a structure that cannot be decoded, but E_OUTOFMEMORY.
DispatchResult OutOfMemory(MethodScope& method, IDispatchOutputs& out) {
    out.Prepare();
    Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: Out of memory.", "");
    method.Leave("hRes: 0x%X, RetVal: %d", static_cast<unsigned>(kOutOfMemory), RetVal::NotFound);
    return {RetVal::NotFound, kOutOfMemory};
}
} // namespace

// Made on every Dispatch, so it reads the structure in place instead of
// copying it out: Length at offset 1, the signature at offsets 4 to 7, each
// only when it lies inside the structure.
bool CTypeDispatcher::HasOemExtensionMarker() const {
    const uint8_t* first = nullptr;
    uint32_t size = 0;
    if (!table_.PeekFirstOfType(188, first, size)) return false;
    if (size < 8 || first[1] != 8) return false;
    const uint32_t signature =
        first[4] | first[5] << 8 | first[6] << 16 | static_cast<uint32_t>(first[7]) << 24;
    return signature == kOemMarker;
}

std::unique_ptr<CCVSmBiosItem> CTypeDispatcher::Dispatch(uint8_t type) const {
    static const char* const kScope = "CSmBiosImpl::Dispatch";
    Trace(TraceLevel::Info, kScope, "Enter", "Method  has been entered.", "Type: 0x%X",
          static_cast<unsigned>(type));
    const bool marker = HasOemExtensionMarker();
    const Decoder d = Lookup(type);
    if (d.make == nullptr) {
        Trace(TraceLevel::Info, kScope, "Leave", "Method  has been left.",
              "Structure not supported. Ptr = NULL");
        return nullptr;
    }
    Trace(TraceLevel::Verbose, kScope, "Internal", d.found, "");
    if (d.needsMarker && !marker) return nullptr;
    std::unique_ptr<CCVSmBiosItem> decoder = d.make();
    Trace(TraceLevel::Info, kScope, "Leave", "Method  has been left.", "");
    return decoder;
}

namespace {
// The decoder of `type` for a driver; null, with the failure record and the
// driver's Leave details, for a type without one.
std::unique_ptr<CCVSmBiosItem> DriverDecoder(const CTypeDispatcher& dispatcher, MethodScope& method,
                                             uint8_t type) {
    std::unique_ptr<CCVSmBiosItem> decoder = dispatcher.Dispatch(type);
    if (!decoder) {
        Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: SmBios Type not supported.", "");
        method.Leave("hRes: E_FAIL, RetVal: 4");
    }
    return decoder;
}
} // namespace

DispatchResult CTypeDispatcher::DispatchMultiInstance(uint8_t type, IDispatchOutputs& out) {
    MethodScope method("CSmBiosImpl::DispatchMultiInstance", TraceLevel::Info, "bType: %d", type);
    try {
        out.Prepare();
        std::unique_ptr<CCVSmBiosItem> decoder = DriverDecoder(*this, method, type);
        if (!decoder) return {RetVal::NotSupported, kFail};
        table_.StartTypeEnum(type);
        while (table_.NextOfType(*decoder)) {
            Trace(TraceLevel::Verbose, method.Scope(), "Internal", "Instance found.", "");
            if (out.Emit(*decoder) < 0) {
                Trace(TraceLevel::Error, method.Scope(), "Internal",
                      "FAIL: No valid SmBios instance found for this type.", "");
                out.Prepare(); // no partial output
                return {RetVal::NotFound, kFail};
            }
            Trace(TraceLevel::Info, method.Scope(), "Internal", "Internal",
                  "Done adding single instance to SafeArray.");
        }
        Trace(TraceLevel::Info, method.Scope(), "Internal", "Internal",
              "Done adding all instances to SafeArray.");
        method.Leave("RetVal: %d, hRes: 0x%X", RetVal::Success, kOk);
        return {RetVal::Success, kOk};
    } catch (const std::bad_alloc&) {
        return OutOfMemory(method, out);
    }
}

DispatchResult CTypeDispatcher::DispatchSingleInstance(uint8_t type, IDispatchOutputs& out) {
    MethodScope method("CSmBiosImpl::DispatchSingleInstance", TraceLevel::Info, "bType: %d", type);
    try {
        std::unique_ptr<CCVSmBiosItem> decoder = DriverDecoder(*this, method, type);
        if (!decoder) return {RetVal::NotSupported, kFail};
        out.Prepare();
        if (!table_.GetFirstOfType(type, *decoder)) {
            Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: SmBios Type not found.", "");
            method.Leave("hRes: E_FAIL, RetVal: 3");
            return {RetVal::NotFound, kFail};
        }
        Trace(TraceLevel::Verbose, method.Scope(), "Internal", "First instance found.", "");
        out.Emit(*decoder); // the result is not examined here
        Trace(TraceLevel::Info, method.Scope(), "Internal", "Internal", "Done handling single instance.");
        method.Leave("RetVal: %d, hRes: 0x%X", RetVal::Success, kOk);
        return {RetVal::Success, kOk};
    } catch (const std::bad_alloc&) {
        return OutOfMemory(method, out);
    }
}

DispatchResult CTypeDispatcher::DispatchNextInstance(uint8_t type, IDispatchOutputs& out) {
    MethodScope method("CSmBiosImpl::DispatchNextInstance");
    try {
        std::unique_ptr<CCVSmBiosItem> decoder = DriverDecoder(*this, method, type);
        if (!decoder) return {RetVal::NotSupported, kFail};
        out.Prepare();
        uint32_t retVal = RetVal::Success;
        if (table_.NextOfType(*decoder)) {
            Trace(TraceLevel::Verbose, method.Scope(), "Internal", "next instance found.", "");
            out.Emit(*decoder); // the result is not examined here
            Trace(TraceLevel::Info, method.Scope(), "Internal", "Internal", "Done handling single instance.");
        } else {
            Trace(TraceLevel::Info, method.Scope(), "Internal", "Internal",
                  "End of instances - no more instances to return.");
            retVal = RetVal::NotFound;
        }
        method.Leave("RetVal: %d, hRes: 0x%X", retVal, kOk);
        return {retVal, kOk};
    } catch (const std::bad_alloc&) {
        return OutOfMemory(method, out);
    }
}
