// The base of every decoder: a structure instance that turns itself into an
// attribute record.
#pragma once

#include "AttributeSink.h"
#include "AttributeWriter.h"
#include "core/SmBiosItem.h"

#ifdef _WIN32
struct tagVARIANT;
#endif

// A decoder is created empty, loaded with one structure through its
// CCSmBiosItem part, asked once and destroyed.
class CCVSmBiosItem : public CCSmBiosItem {
public:
    // The failure of a refused structure (E_FAIL).
    static constexpr AppendResult kRefused = static_cast<AppendResult>(0x80004005u);

    virtual ~CCVSmBiosItem() = default;

    // Writes the record into `sink`: the Enter record, the header attributes,
    // the type's attributes, the Leave record. Returns 0, the last failing
    // append, or kRefused (nothing appended) when the structure fails the
    // type's signature test.
    AppendResult Decode(IAttributeSink& sink) const;

    // "CBiosItem::GetTypeInstanceData" and so on.
    virtual const char* Scope() const = 0;

#ifdef _WIN32
    // The record as two VT_ARRAY | VT_VARIANT outputs (names, values). The
    // outputs are initialised here, so callers pass empty VARIANTs.
    long GetTypeInstanceData(tagVARIANT* names, tagVARIANT* values) const;
    // String `index` (0-based) as a VT_BSTR; false when there is none.
    bool GetString(uint8_t index, tagVARIANT* out) const;
#endif

protected:
    // The signature test of the types that decode only one layout.
    virtual bool Accepts() const {
        return true;
    }
    // Appends the attributes that follow the header, in table order.
    virtual void Attributes(AttributeWriter& w) const = 0;
};
