#include "AttributeWriter.h"

#include <cinttypes>
#include <cstdio>

#include "common/trace/Trace.h"

namespace {
// Numbered names are formed in a zeroed buffer of this size.
constexpr size_t kNameBuffer = 65;

uint32_t WidthOf(FieldKind kind) {
    switch (kind) {
    case FieldKind::Word:
        return 2;
    case FieldKind::Dword:
        return 4;
    case FieldKind::Hex64:
        return 8;
    case FieldKind::Uuid:
        return 16;
    default:
        return 1;
    }
}
} // namespace

void FormatHex64(uint64_t value, char (&out)[17]) {
    std::snprintf(out, sizeof out, "%" PRIX64, value);
}

void FormatUuid(const uint8_t* b, char (&out)[37]) {
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
}

bool AttributeWriter::Read(uint32_t offset, uint32_t width, uint32_t& value) const {
    uint64_t v = 0;
    if (width > 4 || !item_.Read(offset, width, v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

void AttributeWriter::Header() {
    Row(U8("Type", 0x00));
    Row(U8("Length", 0x01));
    Row(U16("Handle", 0x02));
}

void AttributeWriter::Append(const char* name, const AttributeValue& value) {
    Track(sink_.Append(name, false, value));
}

void AttributeWriter::AppendNumbered(const char* pattern, unsigned index, const AttributeValue& value) {
    char name[kNameBuffer] = {};
    std::snprintf(name, sizeof name, pattern, index);
    Track(sink_.Append(name, true, value));
}

void AttributeWriter::CountedStrings(uint32_t countOffset, const char* pattern) {
    uint32_t count = 0;
    if (!Read(countOffset, 1, count)) return; // no Count byte in the copy: no strings either

    // A Count beyond the string set yields the strings that exist, without a
    // record: the first position that names no string ends the run, as every
    // later one names none either.
    for (unsigned i = 0; i < count; ++i) {
        const char* text = item_.StringNumber(static_cast<uint8_t>(i + 1));
        if (text == nullptr) break;
        AppendNumbered(pattern, i, AttributeValue::Text(text));
    }
}

const char* AttributeWriter::String(const char* name, uint8_t number, const char* missing) {
    if (number == 0) return nullptr;
    const char* text = item_.StringNumber(number);
    if (text == nullptr) {
        Trace(TraceLevel::Error, scope_, "Leave", "", "%s", missing ? missing : "");
        return nullptr;
    }
    Append(name, AttributeValue::Text(text));
    return text;
}

void AttributeWriter::Row(const Field& f) {
    if (!LengthAbove(f.lengthAbove)) return;
    const uint8_t* p = item_.Bytes(f.offset, WidthOf(f.kind));
    if (p == nullptr) return; // outside the structure copy
    switch (f.kind) {
    case FieldKind::Byte:
        Append(f.name, AttributeValue::UI1(p[0]));
        break;
    case FieldKind::Flag:
        Append(f.name, AttributeValue::Bool(p[0]));
        break;
    case FieldKind::Word:
        Append(f.name, AttributeValue::UI2(p[0] | p[1] << 8));
        break;
    case FieldKind::Dword:
        Append(f.name,
               AttributeValue::UI4(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24));
        break;
    case FieldKind::String:
        String(f.name, p[0], f.missing);
        break;
    case FieldKind::Hex64: {
        uint64_t v = 0;
        item_.Read(f.offset, 8, v);
        char text[17];
        FormatHex64(v, text);
        Append(f.name, AttributeValue::Text(text));
        break;
    }
    case FieldKind::Uuid: {
        char text[37];
        FormatUuid(p, text);
        Append(f.name, AttributeValue::Text(text));
        break;
    }
    }
}
