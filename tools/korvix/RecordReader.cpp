#include "RecordReader.h"

#include "common/platform/ComWrappers.h"

namespace {

// The elements of a one-dimensional VT_ARRAY | VT_VARIANT as copies.
bool Elements(const VARIANT& array, std::vector<Variant>& out) {
    if (array.vt != (VT_ARRAY | VT_VARIANT) || array.parray == nullptr || SafeArrayGetDim(array.parray) != 1)
        return false;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(array.parray, 1, &upper)))
        return false;
    out = std::vector<Variant>(upper >= lower ? static_cast<size_t>(upper - lower + 1) : 0);
    for (LONG i = lower; i <= upper; ++i)
        if (FAILED(SafeArrayGetElement(array.parray, &i, out[i - lower].Get()))) return false;
    return true;
}

} // namespace

AttributeValue ReadValue(const VARIANT& v) {
    AttributeValue out;
    out.variantType = v.vt;
    switch (v.vt) {
    case VT_UI1:
        out.kind = ValueKind::UI1;
        out.number = v.bVal;
        break;
    case VT_UI2:
        out.kind = ValueKind::UI2;
        out.number = v.uiVal;
        break;
    case VT_UI4:
        out.kind = ValueKind::UI4;
        out.number = v.ulVal;
        break;
    case VT_BOOL:
        out.kind = ValueKind::Bool;
        out.number = static_cast<USHORT>(v.boolVal);
        break;
    case VT_BSTR:
        out.kind = ValueKind::Text;
        if (v.bstrVal != nullptr) out.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
        break;
    case VT_ARRAY | VT_UI1: {
        LONG lower = 0, upper = -1;
        if (v.parray == nullptr || SafeArrayGetDim(v.parray) != 1 ||
            FAILED(SafeArrayGetLBound(v.parray, 1, &lower)) ||
            FAILED(SafeArrayGetUBound(v.parray, 1, &upper)))
            break;
        SafeArrayLockGuard lock(v.parray);
        if (!lock.Locked()) break;
        out.kind = ValueKind::Bytes;
        const auto* data = static_cast<const uint8_t*>(v.parray->pvData);
        if (upper >= lower && data != nullptr) out.bytes.assign(data, data + (upper - lower + 1));
        break;
    }
    default:
        break;
    }
    return out;
}

bool ReadRecord(const VARIANT& names, const VARIANT& values, Record& record) {
    std::vector<Variant> n, v;
    if (!Elements(names, n) || !Elements(values, v) || n.size() != v.size()) return false;
    record.attributes.clear();
    record.attributes.reserve(n.size());
    for (size_t i = 0; i < n.size(); ++i) {
        Attribute a;
        if (n[i]->vt == VT_BSTR && n[i]->bstrVal != nullptr)
            a.name.assign(n[i]->bstrVal, SysStringLen(n[i]->bstrVal));
        a.value = ReadValue(*v[i].Get());
        record.attributes.push_back(std::move(a));
    }
    record.outcome = Record::Outcome::Decoded;
    return true;
}

bool ReadRecordList(const VARIANT& names, const VARIANT& values, std::vector<Record>& records) {
    records.clear();
    // No structure of the type: the component leaves both outputs empty.
    if (names.vt == VT_EMPTY && values.vt == VT_EMPTY) return true;
    std::vector<Variant> n, v;
    if (!Elements(names, n) || !Elements(values, v) || n.size() != v.size()) return false;
    for (size_t i = 0; i < n.size(); ++i) {
        Record record;
        if (!ReadRecord(*n[i].Get(), *v[i].Get(), record)) return false;
        records.push_back(std::move(record));
    }
    return true;
}
