// The command line of korvix.exe, parsed without touching COM so that every
// rule can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One structure type asked for with --type.
struct TypeChoice {
    uint8_t type;
    bool byNumber; // named by its number, not only through a group keyword
};

struct Options {
    bool help = false;
    bool listStrings = false;
    bool json = false;
    bool raw = false;
    std::vector<TypeChoice> types; // ascending, each type once
    std::optional<uint16_t> handle;
    std::string keyword; // -s: one value, as dmidecode prints it
    std::wstring file;
    std::wstring feature = L"Korvix";
    std::wstring version = L"1.05";
    std::wstring context = L"Client";
    std::wstring progId = L"Korvix.SmBiosImpl";
};

struct ParseResult {
    Options options;
    std::string error; // empty when the command line is valid
};

// `args` excludes the program name. Accepted: an optional command "dump"
// (the default) or "help", then options as "--name value" or "--name=value".
// Only --type may be given more than once; its values add up.
ParseResult ParseCommandLine(const std::vector<std::wstring>& args);

// Decimal or 0x-prefixed hexadecimal, no sign, at most `max`.
std::optional<uint32_t> ParseNumber(const std::wstring& text, uint32_t max);

// The text of korvix --help.
const char* UsageText();
