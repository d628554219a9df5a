#include "Keywords.h"

#include "meanings/Meaning.h"

const std::vector<TypeGroup>& TypeGroups() {
    static const std::vector<TypeGroup> groups = {
        {"bios", {0, 13}},
        {"system", {1, 12, 15, 23, 32}},
        {"baseboard", {2, 10, 41}},
        {"chassis", {3}},
        {"processor", {4}},
        {"memory", {5, 6, 16, 17}},
        {"cache", {7}},
        {"connector", {8}},
        {"slot", {9}},
    };
    return groups;
}

const std::vector<StringKeyword>& StringKeywords() {
    using V = KeywordValue;
    static const std::vector<StringKeyword> keywords = {
        {"bios-vendor", 0, L"Vendor", 0x04, V::Text},
        {"bios-version", 0, L"Version", 0x05, V::Text},
        {"bios-release-date", 0, L"ReleaseDate", 0x08, V::Text},
        {"system-manufacturer", 1, L"Manufacturer", 0x04, V::Text},
        {"system-product-name", 1, L"ProductName", 0x05, V::Text},
        {"system-version", 1, L"Version", 0x06, V::Text},
        {"system-serial-number", 1, L"SerialNumber", 0x07, V::Text},
        {"system-uuid", 1, L"UUID", 0x08, V::Uuid},
        {"system-family", 1, L"Family", 0x1A, V::Text},
        {"system-sku-number", 1, L"SKUNumber", 0x19, V::Text},
        {"baseboard-manufacturer", 2, L"Manufacturer", 0x04, V::Text},
        {"baseboard-product-name", 2, L"Product", 0x05, V::Text},
        {"baseboard-serial-number", 2, L"SerialNumber", 0x07, V::Text},
        {"baseboard-asset-tag", 2, L"AssetTag", 0x08, V::Text},
        {"chassis-manufacturer", 3, L"Manufacturer", 0x04, V::Text},
        {"chassis-type", 3, L"Type", 0x05, V::ChassisType},
        {"chassis-serial-number", 3, L"SerialNumber", 0x07, V::Text},
        {"chassis-asset-tag", 3, L"AssetTag", 0x08, V::Text},
        {"processor-family", 4, L"ProcessorFamily", 0x06, V::Meaning},
        {"processor-manufacturer", 4, L"ProcessorManufacturer", 0x07, V::Text},
        {"processor-version", 4, L"ProcessorVersion", 0x10, V::Text},
        {"processor-frequency", 4, L"CurrentSpeed", 0x16, V::Meaning},
    };
    return keywords;
}

const StringKeyword* FindStringKeyword(const std::string& name) {
    for (const StringKeyword& k : StringKeywords())
        if (name == k.name) return &k;
    return nullptr;
}

std::string KeywordLine(const StringKeyword& keyword, const Record& record) {
    const auto length = record.Number(L"Length");
    if (!length || *length <= keyword.offset) return {};
    // The header's Type comes first; the chassis type is the second "Type".
    constexpr size_t kHeaderAttributes = 3;
    for (size_t i = kHeaderAttributes; i < record.attributes.size(); ++i) {
        const Attribute& a = record.attributes[i];
        if (a.name != keyword.attribute) continue;
        switch (keyword.value) {
        case KeywordValue::Uuid:
            if (a.value.text.find_first_not_of(L"Ff-") == std::wstring::npos) return "Not Present\n";
            if (a.value.text.find_first_not_of(L"0-") == std::wstring::npos) return "Not Settable\n";
            [[fallthrough]];
        case KeywordValue::Text: {
            if (a.value.kind != ValueKind::Text) break;
            // Printable ASCII as it is, anything else as a dot.
            std::string line;
            for (wchar_t c : a.value.text)
                line += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
            return line + "\n";
        }
        case KeywordValue::Meaning: {
            // A value the standard does not name is shown as the number.
            const std::string text = RecordMeaning(record, i).text;
            return (text.empty() ? std::to_string(a.value.number) : text) + "\n";
        }
        case KeywordValue::ChassisType: {
            const char* name = kChassisTypeNames.Find(a.value.number & 0x7F);
            return std::string(name != nullptr ? name : "") + "\n";
        }
        }
    }
    // A string the structure does not give (string number 0).
    return keyword.value == KeywordValue::Text ? "Not Specified\n" : "";
}
