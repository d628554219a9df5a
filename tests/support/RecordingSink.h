// An attribute sink that keeps the record for assertions, and helpers to run
// a decoder over hand-made bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TableBuilder.h"
#include "items/AttributeSink.h"
#include "items/CCVSmBiosItem.h"

struct RecordedAttribute {
    std::string name;
    bool numbered;
    ValueType type;
    uint32_t number;
    std::string text;
    bool nullText;
    Bytes bytes;
};

class RecordingSink : public IAttributeSink {
public:
    // Appends numbered `failAt` (0-based) fail with `code`; -1 never fails.
    explicit RecordingSink(int failAt = -1, AppendResult code = static_cast<AppendResult>(0x8007000Eu))
        : failAt_(failAt), code_(code) {}

    AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) override;

    std::vector<RecordedAttribute> attributes;
    std::vector<std::string> Names() const;
    // The first attribute of that name; fails the test when there is none.
    const RecordedAttribute& Get(const std::string& name) const;
    bool Has(const std::string& name) const;

private:
    int failAt_;
    AppendResult code_;
    int calls_ = 0;
};

// Loads `structure` (whole bytes, strings included) into a fresh decoder of
// class D and decodes it.
template <class D> AppendResult DecodeBytes(const Bytes& structure, RecordingSink& sink) {
    D decoder;
    decoder.Load(structure.data(), static_cast<uint32_t>(structure.size()));
    return decoder.Decode(sink);
}
