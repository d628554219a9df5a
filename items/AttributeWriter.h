// The per-call state of a decoder: reads fields of one structure copy and
// appends them to a sink, keeping the record's result code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AttributeSink.h"
#include "Field.h"
#include "core/SmBiosItem.h"

// Reads go through the structure copy's bounded accessor: a field whose bytes
// do not all lie inside the copy is left out of the record, and loops over
// counted entries stop at the first entry that does not. Bytes inside the
// copy but at or beyond Length (in the string set) are read as they stand.
class AttributeWriter {
public:
    AttributeWriter(const CCSmBiosItem& item, IAttributeSink& sink, const char* scope)
        : item_(item), sink_(sink), scope_(scope) {}

    // One table row: checks its Length condition, reads, converts, appends.
    void Row(const Field& field);
    template <size_t N> void Rows(const Field (&rows)[N]) {
        for (const Field& f : rows)
            Row(f);
    }
    // The header rows every record begins with: Type, Length, Handle.
    void Header();

    // Building blocks for the irregular rows (counts, runs, numbered names).
    bool LengthAbove(int n) const { return n == kAlways || static_cast<int>(item_.Length()) > n; }
    // The little-endian value at `offset`, or false when it lies outside the copy.
    bool Read(uint32_t offset, uint32_t width, uint32_t& value) const;
    const uint8_t* Bytes(uint32_t offset, uint32_t count) const { return item_.Bytes(offset, count); }
    uint8_t Length() const { return item_.Length(); }
    const CCSmBiosItem& Item() const { return item_; }
    const char* Scope() const { return scope_; }

    // Appends under a fixed name.
    void Append(const char* name, const AttributeValue& value);
    // Appends under a name formed from a pattern such as "ExtensionByte%d".
    void AppendNumbered(const char* pattern, unsigned index, const AttributeValue& value);
    // The string-field rule: number 0 leaves the attribute out silently; a
    // number that names no string leaves it out and writes the level-1 record
    // with `missing` as details. Returns the string, or null when left out.
    const char* String(const char* name, uint8_t number, const char* missing);
    // A Count byte at `countOffset` followed by that many strings taken by
    // position (not through string-number bytes), appended under `pattern`.
    void CountedStrings(uint32_t countOffset, const char* pattern);

    AppendResult Result() const { return result_; }

private:
    void Track(AppendResult r) {
        if (r < 0) result_ = r; // a later failure overwrites an earlier one
    }

    const CCSmBiosItem& item_;
    IAttributeSink& sink_;
    const char* scope_;
    AppendResult result_ = 0;
};

// Text forms used by the rows.
// "%I64X": upper-case hexadecimal, no prefix, no leading zeros ("0" for 0).
void FormatHex64(uint64_t value, char (&out)[17]);
// 16 bytes as 8-4-4-4-12 upper-case hex, bytes 3,2,1,0 - 5,4 - 7,6 - 8,9 - 10..15.
void FormatUuid(const uint8_t* bytes, char (&out)[37]);
