// The declarative description of one row of an attribute table.
#pragma once

#include <cstdint>

// How the bytes of a field become a value.
enum class FieldKind : uint8_t {
    Byte,   // 1 byte  → UI1
    Word,   // 2 bytes → UI2
    Dword,  // 4 bytes → UI4
    String, // 1 byte string number → Text
    Hex64,  // 8 bytes → Text, upper-case hex without leading zeros
    Uuid,   // 16 bytes → Text, 8-4-4-4-12 with the first three groups byte-swapped
    Flag,   // 1 byte  → Bool holding the raw byte
};

// The row's condition on the structure's Length byte: emitted only when
// Length > lengthAbove; kAlways for rows without a condition.
constexpr int kAlways = -1;

struct Field {
    const char* name;
    uint8_t offset;
    FieldKind kind;
    int lengthAbove;
    const char* missing; // String rows: details of the missing-string record
};

constexpr Field U8(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Byte, lengthAbove, nullptr};
}
constexpr Field U16(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Word, lengthAbove, nullptr};
}
constexpr Field U32(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Dword, lengthAbove, nullptr};
}
constexpr Field Str(const char* name, uint8_t offset, const char* missing, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::String, lengthAbove, missing};
}
constexpr Field Hex64(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Hex64, lengthAbove, nullptr};
}
constexpr Field Uuid(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Uuid, lengthAbove, nullptr};
}
constexpr Field Flag(const char* name, uint8_t offset, int lengthAbove = kAlways) {
    return {name, offset, FieldKind::Flag, lengthAbove, nullptr};
}
