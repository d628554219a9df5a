// A small strict JSON reader for checking the client's output: the whole
// grammar (objects, arrays, strings with escapes, numbers, literals), no
// extensions. Object members keep their order.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::wstring text; // String, decoded (\uXXXX to one UTF-16 unit)
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member of an object, or null when there is none.
    const JsonValue* Find(const std::string& name) const;
};

// Parses one complete document (surrounding white space allowed). On
// failure returns false and says where in `error`.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);
