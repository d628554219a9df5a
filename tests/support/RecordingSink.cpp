#include "RecordingSink.h"

#include <gtest/gtest.h>

AppendResult RecordingSink::Append(const char* name, bool numberedName, const AttributeValue& value) {
    RecordedAttribute a{name,
                        numberedName,
                        value.type,
                        value.number,
                        value.text ? value.text : "",
                        value.type == ValueType::Text && value.text == nullptr,
                        {}};
    if (value.type == ValueType::Bytes && value.bytes != nullptr)
        a.bytes.assign(value.bytes, value.bytes + value.count);
    attributes.push_back(a);
    return calls_++ == failAt_ ? code_ : 0;
}

std::vector<std::string> RecordingSink::Names() const {
    std::vector<std::string> names;
    for (const auto& a : attributes)
        names.push_back(a.name);
    return names;
}

const RecordedAttribute& RecordingSink::Get(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return a;
    ADD_FAILURE() << "no attribute " << name;
    static RecordedAttribute none{};
    return none;
}

bool RecordingSink::Has(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return true;
    return false;
}
