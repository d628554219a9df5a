// The names that --type and -s accept besides numbers: the type groups and
// the keywords of single values, as dmidecode spells them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Record.h"

struct TypeGroup {
    const char* name;
    std::vector<uint8_t> types;
};
const std::vector<TypeGroup>& TypeGroups();

// How -s prints the value of a keyword.
enum class KeywordValue {
    Text,        // the string, "Not Specified" when the structure has none
    Uuid,        // the UUID, "Not Present" when all FFh, "Not Settable" when all 00h
    Meaning,     // the meaning of the number (meanings/)
    ChassisType, // the chassis type's name, without the lock bit
};

struct StringKeyword {
    const char* name;
    uint8_t type;
    const wchar_t* attribute;
    uint8_t offset; // of the field: a structure whose Length does not reach it prints nothing
    KeywordValue value;
};
const std::vector<StringKeyword>& StringKeywords();
const StringKeyword* FindStringKeyword(const std::string& name);

// What -s prints for one structure of the keyword's type: a line, or nothing
// when the structure is too short to have the field.
std::string KeywordLine(const StringKeyword& keyword, const Record& record);
