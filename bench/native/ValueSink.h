// An attribute sink for the native benchmarks: it reads every name and value
// it is given (so the decoders' work cannot be optimised away) and keeps only
// a running checksum, doing as little work of its own as it can so that the
// figures show the decoders rather than the sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "items/AttributeSink.h"

class ValueSink : public IAttributeSink {
public:
    AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) override {
        // Lengths and first characters: every byte a client would copy is
        // read, with as little work of the sink's own as possible.
        uint64_t h =
            sum_ + std::strlen(name) + static_cast<unsigned char>(name[0]) + (numberedName ? 1u : 0u);
        h += value.number + static_cast<uint64_t>(value.type);
        if (value.text != nullptr) h += std::strlen(value.text) + static_cast<unsigned char>(value.text[0]);
        for (size_t i = 0; i < value.count; ++i)
            h += value.bytes[i];
        sum_ = h;
        ++attributes_;
        return 0;
    }

    uint64_t Sum() const { return sum_; }
    uint64_t Attributes() const { return attributes_; }

private:
    uint64_t sum_ = 0;
    uint64_t attributes_ = 0;
};
