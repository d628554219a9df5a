// What the raw values of the component's records mean, after the SMBIOS
// standard: names of enumerated values, the set bits of bit fields, units
// and special values. The tables are data, one per field, in the files of
// this folder; MeaningOf looks a record's attribute up in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Record.h"

struct Meaning {
    enum class Form { None, Text, List } form = Form::None;
    std::string text;               // Text: a name, a quantity or a special value
    std::vector<std::string> items; // List: the names of the set bits, lowest first
};

// The meaning of `attribute` of a structure of type `type`; Form::None where
// the standard defines none (strings, handles, counts, OEM values).
Meaning MeaningOf(uint8_t type, const Attribute& attribute);

// The meaning of the record's attribute `index`; none for the header
// (Type, Length, Handle).
Meaning RecordMeaning(const Record& record, size_t index);

// ---- what the tables are made of ---------------------------------------------

// A value and its name; for bit fields the bit number and its name.
struct Name {
    uint32_t value;
    const char* text;
};

// A table of names, found by value.
struct Names {
    const Name* rows = nullptr;
    size_t count = 0;
    Names() = default;
    template <size_t N> constexpr Names(const Name (&table)[N]) : rows(table), count(N) {}
    const char* Find(uint32_t value) const;
};

// How a field's value becomes its meaning.
enum class Form : uint8_t {
    Enum,     // the name of the value in `names`
    Bits,     // the names of the set bits in `names` (bit numbers)
    Quantity, // a special value of `names`, else the value and `unit`
    Custom,   // `describe`
};

struct FieldMeaning {
    uint8_t type;          // structure type
    const char* attribute; // attribute name; "Name#" stands for Name0, Name1, ...
    Form form;
    Names names;
    const char* unit;
    Meaning (*describe)(uint64_t value);
};

constexpr FieldMeaning Enum(uint8_t type, const char* attribute, Names names) {
    return {type, attribute, Form::Enum, names, nullptr, nullptr};
}
constexpr FieldMeaning Bits(uint8_t type, const char* attribute, Names names) {
    return {type, attribute, Form::Bits, names, nullptr, nullptr};
}
constexpr FieldMeaning Quantity(uint8_t type, const char* attribute, Names special, const char* unit) {
    return {type, attribute, Form::Quantity, special, unit, nullptr};
}
constexpr FieldMeaning Custom(uint8_t type, const char* attribute, Meaning (*describe)(uint64_t)) {
    return {type, attribute, Form::Custom, {}, nullptr, describe};
}

// The fields of one structure type (or a few related ones).
struct FieldMeanings {
    const FieldMeaning* rows;
    size_t count;
    template <size_t N> constexpr FieldMeanings(const FieldMeaning (&table)[N]) : rows(table), count(N) {}
};

// Helpers for the describe functions.
Meaning TextMeaning(std::string text);
Meaning NameOf(const Names& names, uint32_t value);
Meaning BitsOf(const Names& names, uint64_t value);
// "16 GB", "512 MB", "64 KB": `kilobytes` in the largest unit that divides it.
std::string Bytes(uint64_t kilobytes);

// One list per file of this folder.
extern const FieldMeanings kPlatformMeanings;  // types 0, 1, 2, 3
extern const FieldMeanings kProcessorMeanings; // type 4 (its family: ProcessorFamily.cpp)
extern const FieldMeanings kMemoryMeanings;    // types 5, 6, 16, 17
extern const FieldMeanings kCacheMeanings;     // type 7
extern const FieldMeanings kConnectorMeanings; // types 8, 9, 10
extern const FieldMeanings kPowerMeanings;     // type 39
extern const Names kProcessorFamily;
extern const Names kChassisTypeNames; // bits 6:0 of the chassis type
