#include "TouchingSink.h"

#include <cstring>

#include "FuzzCheck.h"

namespace {
// Numbered names are formed in a 65-byte buffer.
constexpr unsigned long kLongestName = 64;
} // namespace

AppendResult TouchingSink::Append(const char* name, bool numberedName, const AttributeValue& value) {
    FUZZ_CHECK(name != nullptr);
    const unsigned long nameLength = FuzzTouchString(name);
    FUZZ_CHECK(nameLength > 0 && nameLength <= kLongestName);

    uint32_t number = 0;
    switch (value.type) {
    case ValueType::UI1:
    case ValueType::Bool:
        FUZZ_CHECK(value.number <= 0xFFu);
        number = value.number;
        break;
    case ValueType::UI2:
        FUZZ_CHECK(value.number <= 0xFFFFu);
        number = value.number;
        break;
    case ValueType::UI4:
        number = value.number;
        break;
    case ValueType::Text:
        // A null text becomes a null BSTR; anything else is widened in full.
        if (value.text != nullptr) FuzzTouchString(value.text);
        break;
    case ValueType::Bytes:
        FUZZ_CHECK(value.count == 0 || value.bytes != nullptr);
        FuzzKeep(value.bytes, value.count);
        break;
    default:
        FUZZ_CHECK(!"value type outside the record's types");
    }

    if (count_ < 3) {
        headerNames_[count_] = name;
        headerValues_[count_] = number;
    }
    ++count_;
    return 0;
}

AppendResult DecodeChecked(const CCVSmBiosItem& decoder) {
    TouchingSink sink;
    const AppendResult result = decoder.Decode(sink);
    FUZZ_CHECK(result == 0 || result == CCVSmBiosItem::kRefused);
    if (result == CCVSmBiosItem::kRefused) {
        FUZZ_CHECK(sink.Count() == 0);
        return result;
    }
    if (decoder.Size() >= 4) {
        FUZZ_CHECK(sink.Count() >= 3);
        FUZZ_CHECK(sink.HeaderName(0) == "Type" && sink.HeaderValue(0) == decoder.Data()[0]);
        FUZZ_CHECK(sink.HeaderName(1) == "Length" && sink.HeaderValue(1) == decoder.Data()[1]);
        FUZZ_CHECK(sink.HeaderName(2) == "Handle" &&
                   sink.HeaderValue(2) == static_cast<uint32_t>(decoder.Data()[2] | decoder.Data()[3] << 8));
    }
    return result;
}
