// Collects an attribute record as VARIANTs and hands it out as the two
// VT_ARRAY | VT_VARIANT arrays (names, values) that clients receive.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "VariantList.h"
#include "items/AttributeSink.h"

class VariantAttributeSink : public IAttributeSink {
public:
    VariantAttributeSink() = default;
    VariantAttributeSink(const VariantAttributeSink&) = delete;
    VariantAttributeSink& operator=(const VariantAttributeSink&) = delete;
    ~VariantAttributeSink() override = default;

    AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) override;

    // Moves both arrays into the outputs (which are overwritten, not cleared)
    // as VT_ARRAY | VT_VARIANT with lower bound 0. Returns the failure of
    // creating an array, else S_OK; on failure the output stays VT_EMPTY.
    HRESULT HandOver(VARIANT* names, VARIANT* values);

private:
    static HRESULT MakeValue(const AttributeValue& value, VARIANT& out);
    static HRESULT MakeName(const char* name, bool numbered, VARIANT& out);

    VariantList names_;
    VariantList values_;
};
