#include "CCVariantConversion.h"

#include <cstdint>
#include <new>

#include "common/trace/MethodScope.h"

namespace {

constexpr const char* kCtorScope = "CCVariantConversion<unsigned char>::CCVariantConversion";
constexpr const char* kDtorScope = "CCVariantConversion<unsigned char>::~CCVariantConversion";
constexpr const char* kGetVariantScope = "CCVariantConversion<unsigned char>::GetVariant";
constexpr const char* kGetBufferScope = "CCVariantConversion<unsigned char>::GetBufferPointer";
constexpr const char* kFillVariantScope = "CCVariantConversion<unsigned char>::FillVariant";
constexpr const char* kFillBufferScope = "CCVariantConversion<unsigned char>::FillBuffer";

constexpr const char* kConstructed = "An instance of CCVariantConversion was constructed";
constexpr const char* kDestructed = "An instance of CCVariantConversion was destructed";

// Pointers are traced as 32-bit hexadecimal numbers ("0x%08X").
unsigned Hex32(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

// The array a byte-array VARIANT carries, by value or by reference; null for
// anything else, and for arrays whose elements are not VARIANTs or that do
// not have exactly one dimension.
SAFEARRAY* ArrayOf(const VARIANT& v) {
    if ((V_VT(&v) & VT_ARRAY) == 0 || (V_VT(&v) & VT_TYPEMASK) != VT_VARIANT) return nullptr;
    SAFEARRAY* psa = nullptr;
    if (V_VT(&v) & VT_BYREF) {
        if (V_ARRAYREF(&v) != nullptr) psa = *V_ARRAYREF(&v);
    } else {
        psa = V_ARRAY(&v);
    }
    if (psa == nullptr || SafeArrayGetDim(psa) != 1 || psa->cbElements != sizeof(VARIANT)) return nullptr;
    return psa;
}

// The byte value of an element that is not VT_UI1. False when the element
// cannot be copied (its byte is then left alone); throws when it cannot be
// converted.
bool ConvertedByte(const VARIANT& element, unsigned char* out) {
    Variant copy;
    if (FAILED(VariantCopy(copy.Get(), const_cast<VARIANT*>(&element)))) return false;
    if (V_VT(copy.Get()) != VT_UI1) {
        const HRESULT hr = VariantChangeType(copy.Get(), copy.Get(), 0, VT_UI1);
        if (FAILED(hr)) throw CCComError(hr);
    }
    *out = V_UI1(copy.Get());
    return true;
}

} // namespace

CCVariantConversion<unsigned char>::CCVariantConversion(unsigned char* pBuffer, DWORD dwCount)
    : count_(dwCount), buffer_(pBuffer), external_(true) {
    Trace(TraceLevel::InfoCC, kCtorScope, "Enter", kConstructed, "pBuffer: 0x%08X dwCount: %d",
          Hex32(pBuffer), static_cast<int>(dwCount));
    Trace(TraceLevel::InfoCC, kCtorScope, "Leave", kConstructed, "");
}

CCVariantConversion<unsigned char>::CCVariantConversion(const VARIANT* pvtInput) : external_(false) {
    Trace(TraceLevel::InfoCC, kCtorScope, "Enter", kConstructed, "pvtInput: 0x%08X", Hex32(pvtInput));
    if (pvtInput == nullptr) {
        Trace(TraceLevel::Error, kCtorScope, "Internal", "FAIL: No VARIANT to convert.", "hr: 0x%08X",
              static_cast<unsigned>(E_POINTER));
        throw CCComError(E_POINTER);
    }
    const HRESULT hr = VariantCopy(variant_.Get(), const_cast<VARIANT*>(pvtInput));
    if (FAILED(hr)) {
        Trace(TraceLevel::Error, kCtorScope, "Internal", "FAIL: VariantCopy failed.", "hr: 0x%08X",
              static_cast<unsigned>(hr));
        throw CCComError(hr);
    }
    Trace(TraceLevel::InfoCC, kCtorScope, "Leave", kDestructed, "");
}

CCVariantConversion<unsigned char>::~CCVariantConversion() {
    Trace(TraceLevel::InfoCC, kDtorScope, "Enter", kDestructed, "");
    owned_.reset();
    buffer_ = nullptr;
    variant_.Put();
    Trace(TraceLevel::InfoCC, kDtorScope, "Leave", kDestructed, "");
}

void CCVariantConversion<unsigned char>::GetVariant(VARIANT* pvt) {
    MethodScope method(kGetVariantScope, MethodScope::Called{}, "pvt: 0x%08X", Hex32(pvt));
    if (pvt != nullptr) {
        if (external_) {
            FillVariant(pvt);
        } else {
            VariantCopy(pvt, variant_.Get());
        }
    }
}

unsigned char* CCVariantConversion<unsigned char>::GetBufferPointer(DWORD* pCount) {
    MethodScope method(kGetBufferScope, MethodScope::Called{}, "pCount: 0x%08X", Hex32(pCount));
    if (!external_) {
        owned_.reset();
        buffer_ = nullptr;
        count_ = 0;
        DWORD elements = 0;
        FillBuffer(nullptr, &elements);
        if (elements > 0) {
            owned_.reset(new (std::nothrow) unsigned char[elements]());
            if (!owned_) throw CCComError(E_OUTOFMEMORY);
            buffer_ = owned_.get();
            FillBuffer(buffer_, &count_);
        }
    }
    if (pCount != nullptr) *pCount = count_;
    return buffer_;
}

bool CCVariantConversion<unsigned char>::FillVariant(VARIANT* pvt) {
    MethodScope method(kFillVariantScope, MethodScope::Called{}, "pvt: 0x%08X", Hex32(pvt));
    bool result = true;
    SAFEARRAY* psa = nullptr;
    if (buffer_ != nullptr && pvt != nullptr) {
        psa = SafeArrayCreateVector(VT_VARIANT, 0, count_);
    }
    if (psa != nullptr) {
        // The new array's elements are VT_EMPTY; filling them in place under
        // one lock stores the same VT_UI1 values an element-wise put would.
        if (count_ > 0) {
            SafeArrayLockGuard lock(psa);
            if (lock.Locked()) {
                auto* elements = static_cast<VARIANT*>(psa->pvData);
                for (DWORD i = 0; i < count_; ++i) {
                    V_VT(&elements[i]) = VT_UI1;
                    V_UI1(&elements[i]) = buffer_[i];
                }
            } else {
                result = false;
            }
        }
        V_VT(pvt) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(pvt) = psa;
    }
    method.Leave("bReturn: %d", result);
    return result;
}

void CCVariantConversion<unsigned char>::FillBuffer(unsigned char* pBuffer, DWORD* pCount) {
    MethodScope method(kFillBufferScope, MethodScope::Called{}, "pBuffer: 0x%08X pCount: 0x%08X",
                       Hex32(pBuffer), Hex32(pCount));
    LONG lower = 0;
    LONG upper = -1;
    SAFEARRAY* psa = ArrayOf(*variant_.Get());
    if (psa != nullptr && SUCCEEDED(SafeArrayGetLBound(psa, 1, &lower)) &&
        SUCCEEDED(SafeArrayGetUBound(psa, 1, &upper))) {
        const DWORD elements = static_cast<DWORD>(static_cast<int64_t>(upper) - lower + 1);
        if (pCount != nullptr) *pCount = elements;
        if (pBuffer != nullptr && elements > 0) {
            SafeArrayLockGuard lock(psa);
            if (lock.Locked()) {
                const auto* items = static_cast<const VARIANT*>(psa->pvData);
                for (DWORD i = 0; i < elements; ++i) {
                    if (V_VT(&items[i]) == VT_UI1) {
                        pBuffer[i] = V_UI1(&items[i]);
                    } else {
                        ConvertedByte(items[i], &pBuffer[i]);
                    }
                }
            }
        }
    }
}
