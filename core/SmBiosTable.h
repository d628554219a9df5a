// The in-memory SMBIOS structure table and its two indexes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "SmBiosItem.h"

// Whole size of the structure at `structure` (formatted area, strings and the
// closing NUL), found by scanning for the end of its string set. The scan
// never passes `end`: a structure that does not end before it has size 0.
uint32_t StructureLength(const uint8_t* structure, const uint8_t* end);

// The index over one raw table: the buffer begins with the Type byte of the
// first structure. Attach walks it once into
//  - the type index: every structure except end-of-table markers (type 127),
//    by ascending type, table order within a type;
//  - the handle index: one entry per handle, the first structure in table
//    order winning.
// Every lookup after Attach uses the indexes only: by position and the first
// of a type in constant time, by handle with a binary search.
//
// Bounds: the walk stops at a structure whose four header bytes or whose
// string set would reach past the end of the buffer; that structure and any
// bytes after it are not indexed. A Length below 4 is used as it stands; the
// walk advances by at least two bytes per structure, so it always ends.
class CSmBiosTable {
public:
    CSmBiosTable() = default;
    CSmBiosTable(const CSmBiosTable&) = delete;
    CSmBiosTable& operator=(const CSmBiosTable&) = delete;
    ~CSmBiosTable() { Reset(); }

    // Takes ownership of `buffer`, indexes it and puts the enumeration cursor
    // at the end. False when there is no memory for the indexes: the buffer
    // is freed and the table is empty. Attaching the buffer that is attached
    // already indexes it anew.
    bool Attach(std::unique_ptr<uint8_t[]> buffer, uint32_t size);
    // The same for a buffer allocated with new[].
    bool Attach(uint8_t* buffer, uint32_t size) { return Attach(std::unique_ptr<uint8_t[]>(buffer), size); }
    // Hands the buffer back without touching the indexes; false (and nothing
    // changed) when no buffer is attached.
    bool Detach(uint8_t** buffer, uint32_t* size);
    // Frees the attached buffer, if any, and empties both indexes. The cursor
    // is left alone.
    void Reset();

    void StartTypeEnum(uint8_t type);
    bool NextOfType(CCSmBiosItem& item);
    bool GetFirstOfType(uint8_t type, CCSmBiosItem& item) const;
    bool GetByIndex(uint32_t index, CCSmBiosItem& item) const;
    bool GetByHandle(uint16_t handle, CCSmBiosItem& item) const;

    // The first structure of a type in place, without copying it: its bytes
    // and whole size. False, as GetFirstOfType, when there is none.
    bool PeekFirstOfType(uint8_t type, const uint8_t*& data, uint32_t& size) const;

    // Number of entries in the type index (the range of GetByIndex).
    uint32_t Count() const { return static_cast<uint32_t>(types_.size()); }
    const uint8_t* Buffer() const { return buffer_.get(); }
    uint32_t Size() const { return size_; }

private:
    struct Entry {
        uint8_t type;
        uint16_t handle;
        uint32_t offset; // from the start of the buffer
        uint32_t length; // whole structure size
    };

    void Walk();
    void IndexTypes();
    void LoadEntry(const Entry& entry, CCSmBiosItem& item) const;
    void PrefetchEntry(size_t position) const;
    size_t FirstOfType(uint8_t type) const;

    std::unique_ptr<uint8_t[]> buffer_; // the one owner of the raw table
    uint32_t size_ = 0;
    size_t cursor_ = 0; // position in types_; types_.size() is the end
    uint8_t cursorType_ = 0;
    std::vector<Entry> types_;   // sorted by type, table order within a type
    std::vector<Entry> handles_; // sorted by handle, unique
    // Position in types_ of the first entry of each type, types_.size() for a
    // type the table does not hold: finding the first of a type costs one read.
    std::array<uint32_t, 256> firstOfType_{};
};
