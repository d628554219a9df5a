// A growing list of owned VARIANTs that ends up as a one-dimensional
// VT_ARRAY | VT_VARIANT with lower bound 0.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

class VariantList {
public:
    VariantList() = default;
    VariantList(const VariantList&) = delete;
    VariantList& operator=(const VariantList&) = delete;
    ~VariantList() { Clear(); }

    // A new, initialised element at the end, owned by the list; null (and
    // the list unchanged) when the list cannot grow.
    VARIANT* Add();
    // Takes `v` over (shallow: its strings and arrays move with it) and
    // leaves it VT_EMPTY.
    void Take(VARIANT& v);
    size_t Size() const { return items_.size(); }
    void Clear();

    // Moves the elements into a new array held by `out`, which is
    // overwritten, not cleared. On failure `out` is VT_EMPTY and the list
    // keeps its elements.
    HRESULT MoveInto(VARIANT* out);

private:
    static constexpr size_t kInitialCapacity = 32;
    // Elements are grown in place: adding never copies the list so far.
    std::vector<VARIANT> items_;
};
