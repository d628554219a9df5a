// Shorthands of the portable tests: tables from bytes, a decoder for any type,
// a decoded record as one comparable line, and the trace records it wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "RecordingSink.h"
#include "TraceRecorder.h"
#include "core/TypeDispatcher.h"

namespace record_checks {

using Texts = std::vector<std::string>;

// Attaches a copy of `bytes`; the table owns and frees it.
inline void AttachCopy(CSmBiosTable& table, const Bytes& bytes) {
    auto* buffer = new uint8_t[bytes.size() + 1];
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
}

inline Bytes Cut(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + n);
}

// The decoder class of `type`, taken from a dispatcher whose table carries the
// OEM extension marker, so that types 176 and 186 have theirs too.
inline std::unique_ptr<CCVSmBiosItem> DecoderFor(uint8_t type) {
    static CSmBiosTable table;
    static CTypeDispatcher dispatcher(table);
    if (table.Count() == 0) AttachCopy(table, Structure(188, 0xBC00, {'8', '8', '1', '$'}));
    return dispatcher.Dispatch(type);
}

// The record as one line of "Name=value": b12 (UI1), w1234 (UI2), d12345678
// (UI4), f01 (Bool), "text", null, [0102] (bytes). A name formed at run time
// ends in '#'.
inline std::string Line(const RecordingSink& sink) {
    std::string out;
    for (const RecordedAttribute& a : sink.attributes) {
        char v[16] = "";
        if (a.type == ValueType::UI1 || a.type == ValueType::Bool)
            std::snprintf(v, sizeof v, "%c%02X", a.type == ValueType::Bool ? 'f' : 'b', a.number);
        else if (a.type == ValueType::UI2 || a.type == ValueType::UI4)
            std::snprintf(v, sizeof v, a.type == ValueType::UI2 ? "w%04X" : "d%08X", a.number);
        out += (out.empty() ? "" : " ") + a.name + (a.numbered ? "#=" : "=") + v;
        if (a.type == ValueType::Text) out += a.nullText ? "null" : "\"" + a.text + "\"";
        if (a.type != ValueType::Bytes) continue;
        out += "[";
        for (uint8_t b : a.bytes) {
            std::snprintf(v, sizeof v, "%02X", b);
            out += v;
        }
        out += "]";
    }
    return out;
}

// Details of the level-1 records since the last Clear(); each must be the
// missing-string record of `scope`.
inline Texts Errors(const std::string& scope) {
    Texts details;
    for (const TraceRecord& r : TraceRecorder::Records()) {
        if (r.level != 1) continue;
        EXPECT_EQ(r.scope + "|" + r.category + "|" + r.text, scope + "|Leave|");
        details.push_back(r.details);
    }
    return details;
}

// Level-4 records since the last Clear() as "text|details", ", "-joined.
inline std::string Internal() {
    std::string out;
    for (const TraceRecord& r : TraceRecorder::Records())
        if (r.level == 4) out += (out.empty() ? "" : ", ") + r.text + "|" + r.details;
    return out;
}

} // namespace record_checks
