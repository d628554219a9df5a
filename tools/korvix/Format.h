// Turns attribute records into the client's two output forms: an indented
// text listing and a JSON document. Both produce plain ASCII: characters
// outside printable ASCII in strings are written as escapes, so the output
// is the same whatever the console's code page.
#pragma once

#include <string>

#include "Record.h"

// Whether the output adds the meanings of the raw values (meanings/).
enum class Meanings { Add, Leave };

// Text form: a header line at column 0 ("Type 4, handle 0x0004", plus
// " (index 12)" when the record came from the table's enumeration), then one
// indented "Name = value" line per attribute, then a blank line. A structure
// without decoder is a single line saying so. With meanings, a value that
// has one is followed by ": meaning", or for a bit field by ":" and one
// further indented line per set bit.
std::string FormatTextRecord(const Record& record, Meanings meanings);

// The value part of a text line: "4 (0x0004)", "\"Dell Inc.\"", "[01 A2]".
std::string FormatTextValue(const AttributeValue& value);

// One JSON object: {"index", "type", "handle", "decoded", "attributes":
// [{"name", "type", "value"}, ...]}; "index" only when known, "type" and
// "handle" null when the record has none. With meanings, an attribute that
// has one also has "meaning": a string, or for a bit field an array of the
// names of its set bits.
std::string FormatJsonRecord(const Record& record, Meanings meanings);

// A JSON string literal (with quotes) for `text`: quote, backslash and
// control characters escaped, every character above 0x7E as \u00XX.
std::string JsonString(const std::wstring& text);

// Writes a JSON array of records piece by piece, so that a large table need
// not be held twice in memory.
class JsonArrayWriter {
public:
    explicit JsonArrayWriter(Meanings meanings) : meanings_(meanings) {}
    std::string Begin() { return "["; }
    std::string Add(const Record& record);
    std::string End() const { return count_ == 0 ? "]\n" : "\n]\n"; }

private:
    Meanings meanings_;
    size_t count_ = 0;
};
