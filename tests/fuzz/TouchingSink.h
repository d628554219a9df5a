// An attribute sink that reads every name and value completely, as the COM
// sink does when it turns them into BSTRs and byte arrays, and checks the
// record's shape. It keeps only what the checks need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "items/AttributeSink.h"
#include "items/CCVSmBiosItem.h"

class TouchingSink : public IAttributeSink {
public:
    AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) override;

    size_t Count() const { return count_; }
    // Name and numeric value of attribute `i` for i < 3 (the header rows).
    const std::string& HeaderName(size_t i) const { return headerNames_[i]; }
    uint32_t HeaderValue(size_t i) const { return headerValues_[i]; }

private:
    size_t count_ = 0;
    std::string headerNames_[3];
    uint32_t headerValues_[3] = {};
};

// Decodes `decoder` through a TouchingSink and checks the record: the result
// is success or a refusal, a refusal appends nothing, and a structure that
// holds its four header bytes begins with Type, Length and Handle carrying
// those bytes. Returns the decoder's result.
AppendResult DecodeChecked(const CCVSmBiosItem& decoder);
