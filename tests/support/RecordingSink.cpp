#include "RecordingSink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

AppendResult RecordingSink::Append(const char* name, bool numberedName, const AttributeValue& value) {
    RecordedAttribute a{name, numberedName, value.type, value.number, value.text ? value.text : "", {}};
    if (value.bytes != nullptr) a.bytes.assign(value.bytes, value.bytes + value.count);
    attributes.push_back(a);
    return calls_++ == failAt_ ? code_ : 0;
}

bool RecordingSink::Has(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return true;
    return false;
}

const RecordedAttribute& RecordingSink::Get(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return a;
    ADD_FAILURE() << "no attribute " << name;
    static const RecordedAttribute none{};
    return none;
}

std::string RecordingSink::Line() const {
    std::string out;
    for (const RecordedAttribute& a : attributes) {
        static const char* const kForms[] = {"b%02X", "w%04X", "d%08X", "", "", "f%02X"};
        char v[16];
        std::snprintf(v, sizeof v, kForms[static_cast<int>(a.type)], a.number);
        out += (out.empty() ? "" : " ") + a.name + (a.numbered ? "#=" : "=") + v;
        if (a.type == ValueType::Text) out += "\"" + a.text + "\"";
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

void AttachCopy(CSmBiosTable& table, const Bytes& bytes) {
    auto* buffer = new uint8_t[bytes.size() + 1];
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    table.Attach(buffer, static_cast<uint32_t>(bytes.size()));
}

std::unique_ptr<CCVSmBiosItem> DecoderFor(uint8_t type) {
    static CSmBiosTable table;
    static CTypeDispatcher dispatcher(table);
    if (table.Count() == 0) AttachCopy(table, Structure(188, 0xBC00, {'8', '8', '1', '$'}));
    return dispatcher.Dispatch(type);
}
