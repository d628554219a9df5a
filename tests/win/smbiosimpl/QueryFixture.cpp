#include "QueryFixture.h"

#include <cstdio>
#include <memory>

#include "core/com/CSmBiosImpl.h"

ComPtr<ISmBiosImpl> NewObject() {
    ComPtr<ISmBiosImpl> object;
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()), S_OK);
    return object;
}

void AttachTable(ISmBiosImpl* object, const Bytes& table) {
    static_cast<CSmBiosImpl*>(object)->AttachTableForTesting(table.data(),
                                                             static_cast<uint32_t>(table.size()));
}

ComPtr<ISmBiosImpl> NewObjectWithTable(const Bytes& table) {
    ComPtr<ISmBiosImpl> object = NewObject();
    if (object) AttachTable(object.Get(), table);
    return object;
}

// ---- outputs -----------------------------------------------------------------

Outputs::Outputs() {
    Refill();
}

void Outputs::Refill() {
    for (Variant* v : {std::addressof(names_), std::addressof(values_)}) {
        VARIANT* p = v->Put();
        p->vt = VT_I4;
        p->lVal = kSentinel;
    }
}

bool Outputs::Untouched() const {
    return names_.Get()->vt == VT_I4 && names_.Get()->lVal == kSentinel && values_.Get()->vt == VT_I4 &&
           values_.Get()->lVal == kSentinel;
}

bool Outputs::Empty() const {
    return names_.Get()->vt == VT_EMPTY && values_.Get()->vt == VT_EMPTY;
}

// ---- records -----------------------------------------------------------------

namespace {

// The array of a VT_ARRAY | VT_VARIANT VARIANT with one dimension and lower
// bound 0, else null with `error` set.
SAFEARRAY* VariantArray(const VARIANT& v, const char* what, std::string& error) {
    if (v.vt != (VT_ARRAY | VT_VARIANT) || v.parray == nullptr) {
        error = std::string(what) + " is not VT_ARRAY | VT_VARIANT (vt " + std::to_string(v.vt) + ")";
        return nullptr;
    }
    LONG lower = -1;
    if (SafeArrayGetDim(v.parray) != 1 || FAILED(SafeArrayGetLBound(v.parray, 1, &lower)) || lower != 0) {
        error = std::string(what) + " is not one-dimensional with lower bound 0";
        return nullptr;
    }
    return v.parray;
}

RecordValue ValueOf(const VARIANT& v) {
    RecordValue a;
    a.vt = v.vt;
    switch (v.vt) {
    case VT_UI1:
        a.number = v.bVal;
        break;
    case VT_UI2:
        a.number = v.uiVal;
        break;
    case VT_UI4:
        a.number = v.ulVal;
        break;
    case VT_BOOL:
        a.number = static_cast<USHORT>(v.boolVal);
        break;
    case VT_BSTR:
        a.text.assign(v.bstrVal != nullptr ? v.bstrVal : L"", SysStringLen(v.bstrVal));
        break;
    case VT_ARRAY | VT_UI1: {
        LONG upper = -1;
        SafeArrayGetUBound(v.parray, 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            uint8_t b = 0;
            SafeArrayGetElement(v.parray, &i, &b);
            a.bytes.push_back(b);
        }
        break;
    }
    default:
        break;
    }
    return a;
}

} // namespace

long ElementCount(const VARIANT& v) {
    if ((v.vt & VT_ARRAY) == 0 || v.parray == nullptr || SafeArrayGetDim(v.parray) != 1) return -1;
    return static_cast<long>(v.parray->rgsabound[0].cElements);
}

Record::Record(const VARIANT& names, const VARIANT& values) {
    SAFEARRAY* n = VariantArray(names, "names", error_);
    SAFEARRAY* v = n != nullptr ? VariantArray(values, "values", error_) : nullptr;
    if (v == nullptr) return;
    if (n->rgsabound[0].cElements != v->rgsabound[0].cElements) {
        error_ = "names and values differ in length";
        return;
    }
    for (LONG i = 0; i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
        Variant name, value;
        if (FAILED(SafeArrayGetElement(n, &i, name.Get())) ||
            FAILED(SafeArrayGetElement(v, &i, value.Get())) || name->vt != VT_BSTR) {
            error_ = "element " + std::to_string(i) + " cannot be read or its name is not VT_BSTR";
            return;
        }
        names_.emplace_back(name->bstrVal, SysStringLen(name->bstrVal));
        values_.push_back(ValueOf(*value.Get()));
    }
}

bool Record::Has(const wchar_t* name) const {
    for (const auto& n : names_)
        if (n == name) return true;
    return false;
}

RecordValue Record::Value(const wchar_t* name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return values_[i];
    return {};
}

std::vector<Record> NestedRecords(const VARIANT& names, const VARIANT& values, std::string& error) {
    std::vector<Record> records;
    SAFEARRAY* n = VariantArray(names, "outer names", error);
    SAFEARRAY* v = n != nullptr ? VariantArray(values, "outer values", error) : nullptr;
    if (v == nullptr) return records;
    if (n->rgsabound[0].cElements != v->rgsabound[0].cElements) {
        error = "outer arrays differ in length";
        return records;
    }
    for (LONG i = 0; i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
        Variant name, value;
        SafeArrayGetElement(n, &i, name.Get());
        SafeArrayGetElement(v, &i, value.Get());
        records.emplace_back(*name.Get(), *value.Get());
        if (!records.back().Error().empty()) {
            error = "element " + std::to_string(i) + ": " + records.back().Error();
            return records;
        }
    }
    return records;
}

// ---- trace -----------------------------------------------------------------------

TraceFile::TraceFile() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    static LONG counter = 0;
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%skorvix_query_%lu_%ld.trc", folder, GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    path_ = name;
    capture_ = std::make_unique<TraceCapture>(path_);
}

TraceFile::~TraceFile() {
    capture_.reset(); // switched off before the file goes
    DeleteFileA(path_.c_str());
}

std::vector<CapturedRecord> TraceFile::OfScope(const std::string& scope) const {
    std::vector<CapturedRecord> found;
    for (auto& r : Records())
        if (r.className + "::" + r.method == scope) found.push_back(r);
    return found;
}

std::string Line(const CapturedRecord& r) {
    return r.level + "|" + r.category + "|" + r.text + "|" + r.details;
}

std::vector<std::string> Lines(const std::vector<CapturedRecord>& records) {
    std::vector<std::string> lines;
    for (const auto& r : records)
        lines.push_back(Line(r));
    return lines;
}

// ---- structures ------------------------------------------------------------------

const Bytes kOemSignature = {'8', '8', '1', '$'};

Bytes Bios(uint16_t handle, const std::string& vendor) {
    Bytes body(0x14, 0); // Length 0x18
    body[0] = 1;         // Vendor: string 1
    return Structure(0, handle, body, {vendor});
}

Bytes Baseboard(uint16_t handle) {
    return Structure(2, handle, Bytes(0x0B, 0));
}

Bytes Processor(uint16_t handle, uint8_t socketStringNumber, std::initializer_list<std::string> strings) {
    Bytes body(0x1E, 0); // Length 0x22
    body[0] = socketStringNumber;
    return Structure(4, handle, body, strings);
}

Bytes MemoryDevice(uint16_t handle, uint16_t sizeMb) {
    Bytes body(0x11, 0); // Length 0x15, the oldest layout
    body[0x0C - 4] = static_cast<uint8_t>(sizeMb);
    body[0x0D - 4] = static_cast<uint8_t>(sizeMb >> 8);
    return Structure(17, handle, body);
}

Bytes EndOfTable(uint16_t handle) {
    return Structure(127, handle, {});
}

Bytes Alerting(uint16_t handle, uint8_t version) {
    // Length 8: description, version, system id, attributes.
    return Structure(129, handle, {0, version, 0, 0x5A});
}

Bytes BiosIdentification(uint16_t handle, uint8_t length, const Bytes& signature) {
    Bytes body = signature;
    body.resize(length - 4, 0);
    return Structure(188, handle, body, {}, length);
}
