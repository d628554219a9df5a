// Helpers shared by the Windows tests of the object and its clients: the
// six queries called with sentinel-filled outputs, attribute records read
// back from the output arrays, and trace files read back record by record.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/ModuleTrace.h"

// One value of an attribute record.
struct RecordValue {
    VARTYPE vt = VT_EMPTY;
    ULONG number = 0; // VT_UI1, VT_UI2, VT_UI4, VT_BOOL
    std::wstring text;
    Bytes bytes; // VT_ARRAY | VT_UI1
};

// An attribute record: both outputs must be one-dimensional VT_ARRAY |
// VT_VARIANT arrays with lower bound 0 and equal length, names VT_BSTR;
// Error() says what is not so.
class Record {
public:
    Record(const VARIANT& names, const VARIANT& values) {
        SAFEARRAY* n = VectorOf(names, "names", error_);
        SAFEARRAY* v = n != nullptr ? VectorOf(values, "values", error_) : nullptr;
        if (v == nullptr) return;
        if (n->rgsabound[0].cElements != v->rgsabound[0].cElements) error_ = "lengths differ";
        for (LONG i = 0; error_.empty() && i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
            Variant name, value;
            SafeArrayGetElement(n, &i, name.Get());
            SafeArrayGetElement(v, &i, value.Get());
            if (name->vt != VT_BSTR) error_ = "name " + std::to_string(i) + " is not VT_BSTR";
            names_.push_back(name->vt == VT_BSTR ? std::wstring(name->bstrVal, SysStringLen(name->bstrVal))
                                                 : L"");
            values_.push_back(ValueOf(*value.Get()));
        }
    }
    const std::string& Error() const { return error_; }
    const std::vector<std::wstring>& Names() const { return names_; }
    const std::vector<RecordValue>& Values() const { return values_; }
    bool Has(const wchar_t* name) const { return Find(name) != nullptr; }
    RecordValue Value(const wchar_t* name) const { return Find(name) ? *Find(name) : RecordValue{}; }
    ULONG Number(const wchar_t* name) const { return Value(name).number; }
    std::wstring Text(const wchar_t* name) const { return Value(name).text; }

    // The array of a one-dimensional VT_ARRAY | VT_VARIANT with lower bound 0.
    static SAFEARRAY* VectorOf(const VARIANT& v, const char* what, std::string& error) {
        LONG lower = -1;
        if (v.vt != (VT_ARRAY | VT_VARIANT) || v.parray == nullptr || SafeArrayGetDim(v.parray) != 1 ||
            FAILED(SafeArrayGetLBound(v.parray, 1, &lower)) || lower != 0) {
            error = std::string(what) + " is no zero-based VARIANT vector (vt " + std::to_string(v.vt) + ")";
            return nullptr;
        }
        return v.parray;
    }

private:
    const RecordValue* Find(const wchar_t* name) const {
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == name) return &values_[i];
        return nullptr;
    }
    static RecordValue ValueOf(const VARIANT& v) {
        RecordValue a;
        a.vt = v.vt;
        if (v.vt == VT_UI1) a.number = v.bVal;
        if (v.vt == VT_UI2) a.number = v.uiVal;
        if (v.vt == VT_UI4) a.number = v.ulVal;
        if (v.vt == VT_BOOL) a.number = static_cast<USHORT>(v.boolVal);
        if (v.vt == VT_BSTR) a.text.assign(v.bstrVal ? v.bstrVal : L"", SysStringLen(v.bstrVal));
        for (LONG i = 0;
             v.vt == (VT_ARRAY | VT_UI1) && i < static_cast<LONG>(v.parray->rgsabound[0].cElements); ++i) {
            uint8_t b = 0;
            SafeArrayGetElement(v.parray, &i, &b);
            a.bytes.push_back(b);
        }
        return a;
    }

    std::string error_;
    std::vector<std::wstring> names_;
    std::vector<RecordValue> values_;
};

// The records nested in the outputs of GetAllInstancesOfType.
inline std::vector<Record> NestedRecords(const VARIANT& names, const VARIANT& values, std::string& error) {
    std::vector<Record> records;
    error.clear();
    SAFEARRAY* n = Record::VectorOf(names, "outer names", error);
    SAFEARRAY* v = n ? Record::VectorOf(values, "outer values", error) : nullptr;
    if (v == nullptr) return records;
    if (n->rgsabound[0].cElements != v->rgsabound[0].cElements) error = "outer lengths differ";
    for (LONG i = 0; error.empty() && i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
        Variant name, value;
        SafeArrayGetElement(n, &i, name.Get());
        SafeArrayGetElement(v, &i, value.Get());
        records.emplace_back(*name.Get(), *value.Get());
        error = records.back().Error();
    }
    return records;
}

enum class Q { All, First, Start, Next, Index, Handle };

// One query call; its outputs start as VT_I4 kSentinel, so that outputs the
// method did not touch can be told from outputs it cleared.
struct Ask {
    static constexpr LONG kSentinel = 0x5EED;
    Ask(ISmBiosImpl* o, Q q, ULONG arg = 0) {
        for (VARIANT* p : {names.Get(), values.Get()}) {
            p->vt = VT_I4;
            p->lVal = kSentinel;
        }
        VARIANT *n = names.Get(), *v = values.Get();
        switch (q) {
        case Q::All:
            hr = o->GetAllInstancesOfType(static_cast<BYTE>(arg), n, v, &retVal);
            break;
        case Q::First:
            hr = o->GetFirstInstanceOfType(static_cast<BYTE>(arg), n, v, &retVal);
            break;
        case Q::Start:
            hr = o->StartTypeInstanceEnum(static_cast<BYTE>(arg), &retVal);
            break;
        case Q::Next:
            hr = o->GetNextTypeInstance(n, v, &retVal);
            break;
        case Q::Index:
            hr = o->EnumAllInstances(arg, n, v, &retVal);
            break;
        case Q::Handle:
            hr = o->FindInstanceByHandle(static_cast<USHORT>(arg), n, v, &retVal);
            break;
        }
    }
    bool Untouched() const {
        return names.Get()->vt == VT_I4 && names.Get()->lVal == kSentinel && values.Get()->vt == VT_I4 &&
               values.Get()->lVal == kSentinel;
    }
    bool Empty() const { return names.Get()->vt == VT_EMPTY && values.Get()->vt == VT_EMPTY; }
    Record Rec() const { return Record(*names.Get(), *values.Get()); }
    std::vector<Record> Nested(std::string& error) const {
        return NestedRecords(*names.Get(), *values.Get(), error);
    }

    HRESULT hr = E_UNEXPECTED;
    ULONG retVal = 99;
    Variant names, values;
};

// ---- trace files ----------------------------------------------------------

struct TraceRecord {
    std::string pid, tid, level, module, cls, method, category, text, details;
    // "level|category|text|details", for readable comparisons.
    std::string Line() const { return level + "|" + category + "|" + text + "|" + details; }
};

// A trace file: UTF-16LE after a byte-order mark, one record a CR LF line.
struct TraceFileContent {
    bool bom = false, narrowUnits = true; // every code unit fits a byte
    std::vector<TraceRecord> records;
    std::vector<std::string> bad; // lines that are not one well-formed record
    std::string trailing;         // text after the last CR LF
};

inline TraceFileContent ReadTraceFile(const std::wstring& path, bool moduleColumn) {
    TraceFileContent c;
    std::ifstream in(path.c_str(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    c.bom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    std::string text;
    for (size_t i = c.bom ? 2 : 0; i + 1 < bytes.size(); i += 2) {
        c.narrowUnits = c.narrowUnits && bytes[i + 1] == 0;
        text.push_back(bytes[i]);
    }
    static const std::string levels = "|Error|Warning|Info|Verbose|InfoCC|VerboseCC|";
    size_t from = 0;
    for (size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
        const std::string line = text.substr(from, end - from);
        std::vector<std::string> f;
        size_t at = 0;
        for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        const size_t m = moduleColumn ? 1 : 0;
        if (f.size() != 9 + m || f[1].size() < 4 || levels.find("|" + f[3] + "|") == std::string::npos) {
            c.bad.push_back(line);
            continue;
        }
        c.records.push_back(
            {f[1], f[2], f[3], m ? f[4] : "", f[4 + m], f[5 + m], f[6 + m], f[7 + m], f[8 + m]});
    }
    c.trailing = text.substr(from);
    return c;
}

// The lines of the records written by `scope` ("Class::Method").
inline std::vector<std::string> LinesOf(const std::vector<TraceRecord>& records, const std::string& scope) {
    std::vector<std::string> lines;
    for (const TraceRecord& r : records)
        if (r.cls + "::" + r.method == scope) lines.push_back(r.Line());
    return lines;
}

// The test executable's own trace object switched on at level 6 into a
// fresh file for the life of the object (DLLs loaded meanwhile join it).
class TraceCapture {
public:
    TraceCapture() {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        static LONG counter = 0;
        path_ = std::wstring(folder) + L"korvix_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(InterlockedIncrement(&counter)) + L".trc";
        CCVireoTrace::Settings settings;
        settings.enabled = true;
        settings.level = 6;
        settings.fileName = path_.c_str();
        settings.moduleColumn = true;
        ModuleTraceObject().Apply(settings);
    }
    ~TraceCapture() {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
        DeleteFileW(path_.c_str());
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<TraceRecord> Records() const { return ReadTraceFile(path_, true).records; }
    std::vector<std::string> Lines(const std::string& scope) const { return LinesOf(Records(), scope); }

private:
    std::wstring path_;
};

using Lines = std::vector<std::string>;

// ---- hand-made structures whose decoders accept them -----------------------

inline Bytes Bios(uint16_t handle, const std::string& vendor) {
    Bytes body(0x14, 0); // Length 0x18, Vendor: string 1
    body[0] = 1;
    return Structure(0, handle, body, {vendor});
}
inline Bytes Baseboard(uint16_t handle) {
    return Structure(2, handle, Bytes(0x0B, 0));
}
inline Bytes Processor(uint16_t handle, const std::string& socket = "") {
    Bytes body(0x1E, 0); // Length 0x22
    body[0] = socket.empty() ? 0 : 1;
    return socket.empty() ? Structure(4, handle, body) : Structure(4, handle, body, {socket});
}
inline Bytes MemoryDevice(uint16_t handle, uint16_t sizeMb) {
    Bytes body(0x11, 0); // Length 0x15, the oldest layout
    body[0x0C - 4] = static_cast<uint8_t>(sizeMb);
    body[0x0D - 4] = static_cast<uint8_t>(sizeMb >> 8);
    return Structure(17, handle, body);
}
inline Bytes EndOfTable(uint16_t handle) {
    return Structure(127, handle, {});
}
inline Bytes NoDecoder(uint16_t handle) { // type 13
    return Structure(13, handle, Bytes(0x12, 0));
}
// An alerting structure (128 or 129); a version other than 1 is refused.
inline Bytes Alerting(uint16_t handle, uint8_t version, uint8_t type = 129) {
    return Structure(type, handle, {0, version, 0, 0x5A});
}
// Type 188 with Length `length` and `signature` at offset 4.
inline Bytes BiosIdentification(uint16_t handle, uint8_t length, Bytes signature) {
    signature.resize(length - 4, 0);
    return Structure(188, handle, signature, {}, length);
}
inline const Bytes kOemSignature = {'8', '8', '1', '$'};
