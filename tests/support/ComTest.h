// The object in this process with a table attached, query calls whose outputs
// start out holding a reference-counted sentinel, and records read back.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"
#include "core/com/CSmBiosImpl.h"

inline ComPtr<ISmBiosImpl> WithTable(const Bytes* table) { // null: not initialised
    ComPtr<ISmBiosImpl> object;
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()), S_OK);
    if (table)
        static_cast<CSmBiosImpl*>(object.Get())
            ->AttachTableForTesting(table->data(), uint32_t(table->size()));
    return object;
}

struct Value {
    VARTYPE vt = VT_EMPTY;
    ULONG number = 0; // VT_UI1, VT_UI2, VT_UI4, VT_BOOL
    std::wstring text;
    Bytes bytes; // VT_ARRAY | VT_UI1
    bool operator==(const Value& o) const {
        return std::tie(vt, number, text, bytes) == std::tie(o.vt, o.number, o.text, o.bytes);
    }
};

// Length of a one-dimensional, zero-based VARIANT vector; -1 for anything else.
inline LONG Length(const VARIANT& v) {
    LONG lower = -1;
    const bool vector = v.vt == (VT_ARRAY | VT_VARIANT) && SafeArrayGetDim(v.parray) == 1 &&
                        SUCCEEDED(SafeArrayGetLBound(v.parray, 1, &lower)) && lower == 0;
    return vector ? LONG(v.parray->rgsabound[0].cElements) : -1;
}

inline Value ValueOf(const VARIANT& x) {
    Value a{x.vt, x.vt == VT_UI1    ? x.bVal
                  : x.vt == VT_UI2  ? x.uiVal
                  : x.vt == VT_BOOL ? USHORT(x.boolVal)
                                    : 0u};
    a.number = x.vt == VT_UI4 ? x.ulVal : a.number;
    if (x.vt == VT_BSTR) a.text.assign(x.bstrVal, SysStringLen(x.bstrVal));
    for (LONG k = 0; x.vt == (VT_ARRAY | VT_UI1) && k < LONG(x.parray->rgsabound[0].cElements); ++k)
        SafeArrayGetElement(x.parray, &k, &a.bytes.emplace_back());
    return a;
}

// An attribute record: VT_BSTR names and typed values, two vectors of one length.
struct Record {
    std::vector<std::wstring> names;
    std::vector<Value> values;
    bool valid = false;
    Record(const VARIANT& n, const VARIANT& v) {
        const LONG count = Length(n);
        valid = count >= 0 && Length(v) == count;
        for (LONG i = 0; valid && i < count; ++i) {
            Variant name, value;
            SafeArrayGetElement(n.parray, &i, name.Get());
            SafeArrayGetElement(v.parray, &i, value.Get());
            valid = name->vt == VT_BSTR;
            names.push_back(ValueOf(*name.Get()).text);
            values.push_back(ValueOf(*value.Get()));
        }
    }
    Value Get(const wchar_t* name) const {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return values[i];
        return {};
    }
    bool operator==(const Record& o) const {
        return valid && o.valid && names == o.names && values == o.values;
    }
};

// A VT_UNKNOWN value that counts the references held on it.
struct Sentinel : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** p) override {
        return *p = nullptr, E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    LONG refs = 0;
};

enum class Q { All, First, Start, Next, Index, Handle };
inline const char* const kMethods[] = {"GetAllInstancesOfType", "GetFirstInstanceOfType",
                                       "StartTypeInstanceEnum", "GetNextTypeInstance",
                                       "EnumAllInstances",      "FindInstanceByHandle"};
enum class Null { None, Names, Values, RetVal }; // the argument passed as null

// One query call. Both outputs start holding the sentinel, so that the
// outcome shows whether the method left them alone or released what they
// held exactly once.
struct Ask {
    Ask(ISmBiosImpl* o, Q q, ULONG arg = 0, Null null = Null::None) {
        for (VARIANT* v : {names.Get(), values.Get()}) {
            v->vt = VT_UNKNOWN;
            v->punkVal = &sentinel;
            sentinel.AddRef();
        }
        VARIANT* n = null == Null::Names ? nullptr : names.Get();
        VARIANT* v = null == Null::Values ? nullptr : values.Get();
        ULONG* r = null == Null::RetVal ? nullptr : &retVal;
        const BYTE type = static_cast<BYTE>(arg);
        hr = q == Q::All     ? o->GetAllInstancesOfType(type, n, v, r)
             : q == Q::First ? o->GetFirstInstanceOfType(type, n, v, r)
             : q == Q::Start ? o->StartTypeInstanceEnum(type, r)
             : q == Q::Next  ? o->GetNextTypeInstance(n, v, r)
             : q == Q::Index ? o->EnumAllInstances(arg, n, v, r)
                             : o->FindInstanceByHandle(static_cast<USHORT>(arg), n, v, r);
        held = sentinel.refs;
    }
    Record Rec() const { return Record(*names.Get(), *values.Get()); }
    // The records nested in the outputs of GetAllInstancesOfType.
    std::vector<Record> All() const {
        std::vector<Record> records;
        for (LONG i = 0, count = Length(*names.Get()); count == Length(*values.Get()) && i < count; ++i) {
            Variant n, v;
            SafeArrayGetElement(names->parray, &i, n.Get());
            SafeArrayGetElement(values->parray, &i, v.Get());
            records.emplace_back(*n.Get(), *v.Get());
        }
        return records;
    }
    // "hr RetVal outputs": outputs "untouched", "empty", the handle of the
    // record ("0400") or of each nested record ("[0401 0400]").
    std::string Outcome() const {
        char text[16];
        std::snprintf(text, sizeof text, "%08lX", hr);
        std::string out = hr == S_OK        ? "S_OK"
                          : hr == E_FAIL    ? "E_FAIL"
                          : hr == E_POINTER ? "E_POINTER"
                                            : text;
        out += " " + std::to_string(retVal);
        if (held == 2 && names->vt == VT_UNKNOWN && values->vt == VT_UNKNOWN) return out + " untouched";
        if (held != 0) return out + " sentinel held " + std::to_string(held) + " times";
        if (names->vt == VT_EMPTY && values->vt == VT_EMPTY) return out + " empty";
        const bool one = Rec().valid;
        out += one ? " " : " [";
        for (const Record& r : one ? std::vector<Record>{Rec()} : All())
            out += (std::snprintf(text, sizeof text, "%04lX ", r.Get(L"Handle").number), text);
        return out.substr(0, out.size() - 1) + (one ? "" : "]");
    }

    Sentinel sentinel; // outlives the outputs that may still hold it
    HRESULT hr = E_UNEXPECTED;
    ULONG retVal = 99;
    LONG held = 0; // references on the sentinel right after the call
    mutable Variant names, values;
};

// Runs `body(thread)` on `count` threads in the multithreaded apartment.
template <class Body> void RunThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            ComApartment apartment;
            body(t);
        });
    for (auto& thread : threads)
        thread.join();
}
