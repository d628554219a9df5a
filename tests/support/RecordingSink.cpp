#include "RecordingSink.h"

#include <cstdio>
#include <cstring>

AppendResult RecordingSink::Append(const char* name, bool, const AttributeValue& value) {
    static const char* const kForms[] = {" b%02X", " w%04X", " d%08X", " \"", " [", " f%02X"};
    char v[16];
    std::snprintf(v, sizeof v, kForms[static_cast<int>(value.type)], value.number);
    attributes.push_back({name, value.text ? value.text : "", value.number});
    values +=
        (values.empty() ? v + 1 : v) + attributes.back().text + (value.type == ValueType::Text ? "\"" : "");
    for (size_t i = 0; value.type == ValueType::Bytes && i < value.count; ++i) {
        std::snprintf(v, sizeof v, "%02X", value.bytes[i]);
        values += v;
    }
    values += value.type == ValueType::Bytes ? "]" : "";
    return failAt_-- == 0 ? code_ : 0;
}

const RecordedAttribute* RecordingSink::Find(const std::string& name) const {
    for (const auto& a : attributes)
        if (a.name == name) return &a;
    return nullptr;
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
