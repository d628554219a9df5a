// An attribute sink that keeps the record for assertions, and the portable tests' shorthands around it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TableBuilder.h"
#include "core/TypeDispatcher.h"

struct RecordedAttribute {
    std::string name, text;
    uint32_t number;
};

class RecordingSink : public IAttributeSink {
public:
    // Append number `failAt` (0-based) fails with `code`.
    explicit RecordingSink(int failAt = -1, AppendResult code = 0) : failAt_(failAt), code_(code) {}
    AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) override;
    const RecordedAttribute* Find(const std::string& name) const; // the first of that name

    std::vector<RecordedAttribute> attributes;
    // The values in record order: b12 (UI1), w1234 (UI2), d12345678 (UI4), f01 (Bool), "text", [0102].
    std::string values;

private:
    int failAt_;
    AppendResult code_;
};

// Attaches a copy of `bytes`; the table owns and frees it.
void AttachCopy(CSmBiosTable& table, const Bytes& bytes);
// The decoder class of `type` (176 and 186 too: the dispatcher's table carries the OEM marker).
std::unique_ptr<CCVSmBiosItem> DecoderFor(uint8_t type);
