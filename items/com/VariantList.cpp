#include "VariantList.h"

#include <cstring>
#include <new>

VARIANT* VariantList::Add() {
    try {
        // Most records have fewer attributes than this: one allocation
        // instead of one for every doubling.
        if (items_.capacity() == 0) items_.reserve(kInitialCapacity);
        items_.emplace_back();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    VariantInit(&items_.back());
    return &items_.back();
}

void VariantList::Take(VARIANT& v) {
    items_.push_back(v);
    VariantInit(&v);
}

void VariantList::Clear() {
    for (VARIANT& v : items_)
        VariantClear(&v);
    items_.clear();
}

HRESULT VariantList::MoveInto(VARIANT* out) {
    VariantInit(out);
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items_.size()));
    if (array == nullptr) return E_OUTOFMEMORY;
    if (!items_.empty()) std::memcpy(array->pvData, items_.data(), items_.size() * sizeof(VARIANT));
    items_.clear(); // ownership went into the array
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}
