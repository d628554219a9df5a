// The COM face of every decoder: the record as two arrays of VARIANT.
#include <windows.h>
#include <oleauto.h>

#include "VariantAttributeSink.h"
#include "common/conversion/CCStringConversion.h"
#include "items/CCVSmBiosItem.h"

long CCVSmBiosItem::GetTypeInstanceData(VARIANT* names, VARIANT* values) const {
    VariantInit(names);
    VariantInit(values);
    VariantAttributeSink sink;
    const HRESULT result = Decode(sink);
    if (result == kRefused) return E_FAIL; // outputs stay empty
    const HRESULT handOver = sink.HandOver(names, values);
    return FAILED(handOver) ? handOver : result;
}

bool CCVSmBiosItem::GetString(uint8_t index, VARIANT* out) const {
    if (out == nullptr || index >= Strings().size()) return false;
    VariantInit(out);
    out->vt = VT_BSTR;
    CCStringConversion wide(Strings()[index]);
    const wchar_t* w = wide.Convert2W();
    out->bstrVal = w != nullptr ? SysAllocString(w) : nullptr;
    return true;
}
