// Helpers of the query interface tests: objects created in-process with a
// table attached, output VARIANTs pre-filled with a sentinel, attribute
// records read back from the two output arrays, and a trace file at level 6.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Korvix.h"
#include "TableBuilder.h"
#include "TraceCapture.h"
#include "common/platform/ComWrappers.h"

// A new object (FinalConstruct run), not initialised.
ComPtr<ISmBiosImpl> NewObject();
// A new object whose table is attached as a successful Initialize leaves it.
ComPtr<ISmBiosImpl> NewObjectWithTable(const Bytes& table);
// Attaches `table` to an object created by NewObject.
void AttachTable(ISmBiosImpl* object, const Bytes& table);

// The two VARIANT outputs of a query, pre-filled with VT_I4 kSentinel so that
// an output the method did not touch can be told from one it cleared.
class Outputs {
public:
    static constexpr LONG kSentinel = 0x5EED;
    Outputs();
    VARIANT* Names() { return names_.Get(); }
    VARIANT* Values() { return values_.Get(); }
    const VARIANT& NamesRef() const { return *names_.Get(); }
    const VARIANT& ValuesRef() const { return *values_.Get(); }
    bool Untouched() const;
    bool Empty() const;
    // Fills both with the sentinel again.
    void Refill();

private:
    Variant names_;
    Variant values_;
};

// One value of an attribute record.
struct RecordValue {
    VARTYPE vt = VT_EMPTY;
    ULONG number = 0;           // VT_UI1, VT_UI2, VT_UI4, VT_BOOL
    std::wstring text;          // VT_BSTR
    std::vector<uint8_t> bytes; // VT_ARRAY | VT_UI1
};

// An attribute record read from a names VARIANT and a values VARIANT. Both
// must be one-dimensional VT_ARRAY | VT_VARIANT arrays with lower bound 0 and
// the same number of elements, names VT_BSTR; Error() says what is not so.
class Record {
public:
    Record(const VARIANT& names, const VARIANT& values);
    const std::string& Error() const { return error_; }
    const std::vector<std::wstring>& Names() const { return names_; }
    size_t Size() const { return names_.size(); }
    bool Has(const wchar_t* name) const;
    // The value of `name`; VT_EMPTY when the record has no such attribute.
    RecordValue Value(const wchar_t* name) const;
    ULONG Number(const wchar_t* name) const { return Value(name).number; }

private:
    std::string error_;
    std::vector<std::wstring> names_;
    std::vector<RecordValue> values_;
};

// The elements of the nested outputs of GetAllInstancesOfType; `error` says
// what does not have the expected shape.
std::vector<Record> NestedRecords(const VARIANT& names, const VARIANT& values, std::string& error);

// Number of elements of a one-dimensional array VARIANT; -1 for anything else.
long ElementCount(const VARIANT& v);

// The test executable's trace object switched on at level 6 into a fresh
// file in the temporary folder for the life of the object.
class TraceFile {
public:
    TraceFile();
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    std::vector<CapturedRecord> Records() const { return capture_->Records(); }
    // The records written by `scope` ("Class::Method").
    std::vector<CapturedRecord> OfScope(const std::string& scope) const;

private:
    std::string path_;
    std::unique_ptr<TraceCapture> capture_;
};

// "level|category|text|details" of a record, for readable comparisons.
std::string Line(const CapturedRecord& r);
std::vector<std::string> Lines(const std::vector<CapturedRecord>& records);

// Hand-made structures with decoders that accept them.
Bytes Bios(uint16_t handle, const std::string& vendor);
Bytes Baseboard(uint16_t handle);
Bytes Processor(uint16_t handle, uint8_t socketStringNumber = 0,
                std::initializer_list<std::string> strings = {});
Bytes MemoryDevice(uint16_t handle, uint16_t sizeMb);
Bytes EndOfTable(uint16_t handle);
// A type-129 alerting structure; `version` other than 1 makes its decoder
// refuse it.
Bytes Alerting(uint16_t handle, uint8_t version);
// A type-188 structure: Length `length`, `signature` at offset 4.
Bytes BiosIdentification(uint16_t handle, uint8_t length, const Bytes& signature);
extern const Bytes kOemSignature; // "881$"
