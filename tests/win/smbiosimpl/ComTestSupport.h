// Helpers shared by the Windows tests of the object and its clients: objects
// created in this process, the six queries called with sentinel-filled
// outputs, attribute records read back, trace files read record by record,
// and hand-made structures that their decoders accept.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/ModuleTrace.h"
#include "core/com/CSmBiosImpl.h"

using Lines = std::vector<std::string>;

inline ComPtr<ISmBiosImpl> NewObject() {
    ComPtr<ISmBiosImpl> object;
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()), S_OK);
    return object;
}
// Attaches `table` as a successful Initialize leaves it.
inline void Attach(ISmBiosImpl* object, const Bytes& table) {
    static_cast<CSmBiosImpl*>(object)->AttachTableForTesting(table.data(),
                                                             static_cast<uint32_t>(table.size()));
}
inline ComPtr<ISmBiosImpl> WithTable(const Bytes& table) {
    ComPtr<ISmBiosImpl> object = NewObject();
    Attach(object.Get(), table);
    return object;
}

struct RecordValue {
    VARTYPE vt = VT_EMPTY;
    ULONG number = 0; // VT_UI1, VT_UI2, VT_UI4, VT_BOOL
    std::wstring text;
    Bytes bytes; // VT_ARRAY | VT_UI1
};

// The array of a one-dimensional VT_ARRAY | VT_VARIANT with lower bound 0,
// else null with `error` set.
inline SAFEARRAY* VectorOf(const VARIANT& v, const char* what, std::string& error) {
    LONG lower = -1;
    if (v.vt == (VT_ARRAY | VT_VARIANT) && v.parray != nullptr && SafeArrayGetDim(v.parray) == 1 &&
        SUCCEEDED(SafeArrayGetLBound(v.parray, 1, &lower)) && lower == 0)
        return v.parray;
    error = std::string(what) + " is no zero-based VARIANT vector (vt " + std::to_string(v.vt) + ")";
    return nullptr;
}

// An attribute record: names (VT_BSTR) and values of equal length.
class Record {
public:
    Record(const VARIANT& names, const VARIANT& values) {
        SAFEARRAY* n = VectorOf(names, "names", error_);
        SAFEARRAY* v = n ? VectorOf(values, "values", error_) : nullptr;
        if (v && n->rgsabound[0].cElements != v->rgsabound[0].cElements) error_ = "lengths differ";
        for (LONG i = 0; v && error_.empty() && i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
            Variant name, value;
            SafeArrayGetElement(n, &i, name.Get());
            SafeArrayGetElement(v, &i, value.Get());
            if (name->vt != VT_BSTR) error_ = "name " + std::to_string(i) + " is not VT_BSTR";
            names_.push_back(name->vt == VT_BSTR ? std::wstring(name->bstrVal, SysStringLen(name->bstrVal))
                                                 : L"");
            RecordValue a{value->vt};
            const VARIANT& x = *value.Get();
            a.number = x.vt == VT_UI1    ? x.bVal
                       : x.vt == VT_UI2  ? x.uiVal
                       : x.vt == VT_BOOL ? USHORT(x.boolVal)
                                         : x.ulVal;
            if (x.vt == VT_BSTR) a.text.assign(x.bstrVal ? x.bstrVal : L"", SysStringLen(x.bstrVal));
            for (LONG k = 0; x.vt == (VT_ARRAY | VT_UI1) && k < LONG(x.parray->rgsabound[0].cElements); ++k)
                SafeArrayGetElement(x.parray, &k, &a.bytes.emplace_back());
            values_.push_back(a);
        }
    }
    const std::string& Error() const { return error_; }
    const std::vector<std::wstring>& Names() const { return names_; }
    const std::vector<RecordValue>& Values() const { return values_; }
    bool Has(const wchar_t* name) const { return Find(name) != nullptr; }
    RecordValue Value(const wchar_t* name) const { return Find(name) ? *Find(name) : RecordValue{}; }
    ULONG Number(const wchar_t* name) const { return Value(name).number; }
    std::wstring Text(const wchar_t* name) const { return Value(name).text; }

private:
    const RecordValue* Find(const wchar_t* name) const {
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == name) return &values_[i];
        return nullptr;
    }
    std::string error_;
    std::vector<std::wstring> names_;
    std::vector<RecordValue> values_;
};

// The records nested in the outputs of GetAllInstancesOfType.
inline std::vector<Record> NestedRecords(const VARIANT& names, const VARIANT& values, std::string& error) {
    std::vector<Record> records;
    error.clear();
    SAFEARRAY* n = VectorOf(names, "outer names", error);
    SAFEARRAY* v = n ? VectorOf(values, "outer values", error) : nullptr;
    if (v && n->rgsabound[0].cElements != v->rgsabound[0].cElements) error = "outer lengths differ";
    for (LONG i = 0; v && error.empty() && i < static_cast<LONG>(n->rgsabound[0].cElements); ++i) {
        Variant name, value;
        SafeArrayGetElement(n, &i, name.Get());
        SafeArrayGetElement(v, &i, value.Get());
        error = records.emplace_back(*name.Get(), *value.Get()).Error();
    }
    return records;
}

// Runs `body(thread)` on `count` threads, each in the multithreaded
// apartment, that start together.
template <class Body> void RunThreads(int count, Body body) {
    UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            ComApartment apartment;
            WaitForSingleObject(start.Get(), INFINITE);
            body(t);
        });
    Sleep(50);
    SetEvent(start.Get());
    for (auto& thread : threads)
        thread.join();
}

enum class Q { All, First, Start, Next, Index, Handle };

// One query call. The outputs start as VT_I4 kSentinel, so that outputs the
// method did not touch can be told from outputs it cleared.
struct Ask {
    static constexpr LONG kSentinel = 0x5EED;
    Ask(ISmBiosImpl* o, Q q, ULONG arg = 0) {
        VARIANT *n = names.Get(), *v = values.Get();
        n->vt = v->vt = VT_I4;
        n->lVal = v->lVal = kSentinel;
        const BYTE type = static_cast<BYTE>(arg);
        hr = q == Q::All     ? o->GetAllInstancesOfType(type, n, v, &retVal)
             : q == Q::First ? o->GetFirstInstanceOfType(type, n, v, &retVal)
             : q == Q::Start ? o->StartTypeInstanceEnum(type, &retVal)
             : q == Q::Next  ? o->GetNextTypeInstance(n, v, &retVal)
             : q == Q::Index ? o->EnumAllInstances(arg, n, v, &retVal)
                             : o->FindInstanceByHandle(static_cast<USHORT>(arg), n, v, &retVal);
    }
    bool Untouched() const {
        return names->vt == VT_I4 && values->vt == VT_I4 && names->lVal == kSentinel &&
               values->lVal == kSentinel;
    }
    bool Empty() const { return names->vt == VT_EMPTY && values->vt == VT_EMPTY; }
    Record Rec() const { return Record(*names.Get(), *values.Get()); }
    // "hr RetVal outputs", e.g. "E_FAIL 4 untouched" or "S_OK 0 record".
    std::string Outcome() const {
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
        return (hr == S_OK     ? "S_OK"
                : hr == E_FAIL ? "E_FAIL"
                               : code) +
               (" " + std::to_string(retVal)) +
               (Untouched() ? " untouched"
                : Empty()   ? " empty"
                            : " record");
    }
    std::vector<Record> Nested(std::string& error) const {
        return NestedRecords(*names.Get(), *values.Get(), error);
    }

    HRESULT hr = E_UNEXPECTED;
    ULONG retVal = 99;
    mutable Variant names, values;
};

// ---- trace files: UTF-16LE after a byte-order mark, a record a CR LF line --

struct TraceRecord {
    std::string pid, tid, level, module, cls, method, category, text, details;
    std::string Line() const { return level + "|" + category + "|" + text + "|" + details; }
};

struct TraceFileContent {
    bool bom = false, narrowUnits = true; // every code unit fits a byte
    std::vector<TraceRecord> records;
    Lines bad;            // lines that are not one well-formed record
    std::string trailing; // text after the last CR LF
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
    const size_t m = moduleColumn ? 1 : 0;
    size_t from = 0;
    for (size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
        const std::string line = text.substr(from, end - from);
        Lines f;
        size_t at = 0;
        for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        if (f.size() != 9 + m || f[1].size() < 4 ||
            std::string("|Error|Warning|Info|Verbose|InfoCC|VerboseCC|").find("|" + f[3] + "|") ==
                std::string::npos)
            c.bad.push_back(line);
        else
            c.records.push_back(
                {f[1], f[2], f[3], m ? f[4] : "", f[4 + m], f[5 + m], f[6 + m], f[7 + m], f[8 + m]});
    }
    c.trailing = text.substr(from);
    return c;
}

// "level|category|text|details" of the records of `scope` ("Class::Method").
inline Lines LinesOf(const std::vector<TraceRecord>& records, const std::string& scope) {
    Lines lines;
    for (const TraceRecord& r : records)
        if (r.cls + "::" + r.method == scope) lines.push_back(r.Line());
    return lines;
}

// The executable's own trace object at level 6 into a fresh file for the
// life of the object; DLLs loaded meanwhile join it.
class TraceCapture {
public:
    TraceCapture() {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        static LONG counter = 0;
        path_ = std::wstring(folder) + L"korvix_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(InterlockedIncrement(&counter)) + L".trc";
        CCVireoTrace::Settings on;
        on.enabled = on.moduleColumn = true;
        on.level = 6;
        on.fileName = path_.c_str();
        ModuleTraceObject().Apply(on);
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
    Lines Of(const std::string& scope) const { return LinesOf(Records(), scope); }

private:
    std::wstring path_;
};

// ---- structures --------------------------------------------------------------

inline Bytes Bios(uint16_t handle, const std::string& vendor) { // Length 0x18, Vendor string 1
    return Structure(0, handle, Cat({{1}, Bytes(0x13, 0)}), {vendor});
}
inline Bytes Baseboard(uint16_t handle) {
    return Structure(2, handle, Bytes(0x0B, 0));
}
inline Bytes Processor(uint16_t handle, const std::string& socket = "") { // Length 0x22
    return Structure(4, handle, Cat({{uint8_t(socket.empty() ? 0 : 1)}, Bytes(0x1D, 0)}), {socket});
}
inline Bytes MemoryDevice(uint16_t handle, uint16_t sizeMb) { // Length 0x15, the oldest layout
    return Structure(17, handle, Cat({Bytes(8, 0), U16(sizeMb), Bytes(7, 0)}));
}
inline Bytes EndOfTable(uint16_t handle) {
    return Structure(127, handle, {});
}
inline Bytes NoDecoder(uint16_t handle) { // type 13
    return Structure(13, handle, Bytes(0x12, 0));
}
// Alerting (128, 129): a version other than 1 is refused.
inline Bytes Alerting(uint16_t handle, uint8_t version, uint8_t type = 129) {
    return Structure(type, handle, {0, version, 0, 0x5A});
}
// Type 188 with `signature` at offset 4.
inline Bytes BiosIdentification(uint16_t handle, uint8_t length, Bytes signature) {
    signature.resize(length - 4, 0);
    return Structure(188, handle, signature, {}, length);
}
inline const Bytes kOemSignature = {'8', '8', '1', '$'};
