// One SMBIOS structure copied out of the table, with its string list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// A structure instance owns a private copy of one whole structure (formatted
// area and string set) and a list of pointers to its strings; element 0 is
// string number 1. It never points into the raw table, so it outlives it.
//
// Every field read goes through Read(), which answers "absent" for any byte
// outside the copy: code built on it cannot read past the structure.
class CCSmBiosItem {
public:
    CCSmBiosItem() = default;
    CCSmBiosItem(const CCSmBiosItem&) = delete;
    CCSmBiosItem& operator=(const CCSmBiosItem&) = delete;
    ~CCSmBiosItem() { Clear(); }

    // Copies the structure that starts at `structure` and whose whole size
    // (formatted area and string set) is `size` bytes. The memory of an
    // earlier copy is reused when it is large enough, so loading one instance
    // again and again (an enumeration) allocates only for larger structures.
    void Load(const uint8_t* structure, uint32_t size);
    // Replaces this instance's contents with a copy of `other`'s; the string
    // list points into the new copy.
    void CopyFrom(const CCSmBiosItem& other);
    // Takes over `other`'s copy and string list without copying them (the
    // list still points into the copy, which moves along) and leaves `other`
    // empty. For a caller that copied a structure only to hand it on.
    void MoveFrom(CCSmBiosItem& other);
    // Frees the copy and empties the list.
    void Clear();

    bool Empty() const { return size_ == 0; }
    uint32_t Size() const { return size_; }
    const uint8_t* Data() const { return copy_.get(); }
    const std::vector<const char*>& Strings() const { return strings_; }

    // Little-endian value of `width` (1, 2, 4 or 8) bytes at `offset`; false
    // when any of those bytes lies outside the copy.
    bool Read(uint32_t offset, uint32_t width, uint64_t& value) const;
    // Pointer to `count` bytes at `offset`, or null when they do not all lie
    // inside the copy.
    const uint8_t* Bytes(uint32_t offset, uint32_t count) const;

    // The header bytes; 0 when the copy is too short to hold them.
    uint8_t Type() const { return ByteAt(0); }
    uint8_t Length() const { return ByteAt(1); }
    uint16_t Handle() const;

    // String number `number` (1-based) or null when it names no string.
    const char* StringNumber(uint8_t number) const;

private:
    uint8_t ByteAt(uint32_t offset) const { return offset < size_ ? copy_[offset] : 0; }
    void ParseStrings();

    std::unique_ptr<uint8_t[]> copy_;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0; // bytes allocated for copy_, guard bytes included
    std::vector<const char*> strings_;
};
