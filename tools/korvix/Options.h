// The command line of korvix.exe, parsed without touching COM so that every
// rule can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Options {
    bool help = false;
    bool json = false;
    std::optional<uint8_t> type;
    std::optional<uint16_t> handle;
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
ParseResult ParseCommandLine(const std::vector<std::wstring>& args);

// Decimal or 0x-prefixed hexadecimal, no sign, at most `max`.
std::optional<uint32_t> ParseNumber(const std::wstring& text, uint32_t max);

// The text of korvix --help.
const char* UsageText();
