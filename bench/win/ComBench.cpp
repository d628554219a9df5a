// korvix_bench_com: the COM path of Korvix.dll as a client drives it, run
// under Wine. The built Korvix.dll and TorvelAccess.dll are registered for
// the run (ComponentInstall); the driver-access component serves each table
// from a file named by KORVIX_SMBIOS_TABLE.
//
// Usage: korvix_bench_com [--all-real] [--quick] [--trace]
//   default   Initialize per table size, the per-call queries, the two
//             whole-table walks, the byte-array conversion per MB and the cost
//             of a trace statement while tracing is off;
//   --trace   tracing on at level 6 into a temporary file: records per second
//             (run it as a process of its own: the DLLs join the trace
//             object when they are loaded).
// Every figure is one tab-separated line on stdout (see Harness.h).
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTables.h"
#include "ComponentInstall.h"
#include "Harness.h"
#include "Korvix.h"
#include "common/conversion/CCVariantConversion.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/ModuleTrace.h"
#include "common/trace/Trace.h"

namespace {

using bench::Measure;
using bench::MeasureTimed;
using bench::Report;
using bench::Ticks;

constexpr ULONG kNotFound = 3;
constexpr uint32_t kGeneratedSizes[] = {100, 1000, 10000, 65535};
// Real tables for the COM figures: the smallest, a two-socket server and the
// largest of the corpus (--all-real takes every one).
const char* const kRealTables[] = {"surface-laptop3-amd-3.2", "dell-poweredge-r640-3.0", "vmware-vm-2.7"};

struct Table {
    std::string name;
    std::wstring file;
    size_t bytes = 0;
    size_t structures = 0;
    bool temporary = false;
};

// A benchmark that cannot run. Thrown, so that the registration is undone on
// the way out.
struct BenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& what, HRESULT hr = S_OK) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw BenchFailure(what + " (" + code + ")");
}

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp, n);
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s)
        out.push_back(static_cast<char>(c));
    return out;
}

CLSID g_clsid;

// A created object that has its feature context.
ComPtr<ISmBiosImpl> NewObject() {
    ComPtr<ISmBiosImpl> object;
    HRESULT hr = CoCreateInstance(g_clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid());
    if (FAILED(hr)) Fail("CoCreateInstance", hr);
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    VARIANT_BOOL ok = 0;
    hr = object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok);
    if (FAILED(hr) || ok != 1) Fail("ComponentInitialize", hr);
    return object;
}

ComPtr<ISmBiosImpl> InitializedObject(const Table& t) {
    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", t.file.c_str());
    ComPtr<ISmBiosImpl> object = NewObject();
    const HRESULT hr = object->Initialize();
    if (FAILED(hr)) Fail("Initialize on " + t.name, hr);
    return object;
}

std::vector<Table> Tables(bool allReal, bool quick) {
    std::vector<Table> tables;
    const std::wstring folder = TempFolder();
    for (uint32_t n : kGeneratedSizes) {
        if (quick && n > 10000) continue;
        const bench::Bytes bytes = bench::GeneratedTable(n);
        Table t;
        t.name = "generated-" + std::to_string(n);
        t.file = folder + L"korvix-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" + Widen(t.name) +
                 L".bin";
        if (!bench::WriteBinary(Narrow(t.file), bytes)) Fail("cannot write " + Narrow(t.file));
        t.bytes = bytes.size();
        t.structures = bench::CountStructures(bytes);
        t.temporary = true;
        tables.push_back(t);
    }
    for (const bench::NamedTable& real : bench::CorpusTables()) {
        bool wanted = allReal;
        for (const char* name : kRealTables)
            wanted = wanted || real.name == name;
        if (!wanted) continue;
        Table t;
        t.name = real.name;
        t.file = Widen(real.path);
        t.bytes = real.bytes.size();
        t.structures = bench::CountStructures(real.bytes);
        tables.push_back(t);
    }
    return tables;
}

// ---- per table ---------------------------------------------------------------

void InitializeFigure(const Table& t) {
    SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", t.file.c_str());
    const bench::Timing timing = MeasureTimed([&] {
        ComPtr<ISmBiosImpl> object = NewObject(); // creation and feature context are not timed
        const int64_t start = Ticks::Now();
        const HRESULT hr = object->Initialize();
        const int64_t ticks = Ticks::Now() - start;
        if (FAILED(hr)) Fail("Initialize on " + t.name, hr);
        return ticks; // the release happens after the clock stopped
    });
    Report("com.Initialize", t.name, t.structures, t.bytes, timing);
}

// Each query leaves its two arrays in `names` and `values`; Put() frees the
// previous answer, as a client has to, so that is part of every call.
void QueryFigures(const Table& t, ISmBiosImpl* object) {
    Variant names, values;
    ULONG retVal = 0;

    // What each query can find: the decoded types, their first handles, the
    // indexes of decoded structures.
    std::vector<uint8_t> types;
    for (unsigned type = 0; type < 256; ++type)
        if (object->GetFirstInstanceOfType(static_cast<uint8_t>(type), names.Put(), values.Put(), &retVal) ==
                S_OK &&
            retVal == 0)
            types.push_back(static_cast<uint8_t>(type));
    std::vector<UINT> indexes;
    std::vector<USHORT> handles;
    for (UINT i = 0;; ++i) {
        object->EnumAllInstances(i, names.Put(), values.Put(), &retVal);
        if (retVal == kNotFound) break;
        if (retVal != 0) continue; // a type without decoder
        indexes.push_back(i);
        // "Handle" is the third attribute of every record.
        LONG third = 2;
        Variant handle;
        if (SUCCEEDED(SafeArrayGetElement(values->parray, &third, handle.Get())) && handle->vt == VT_UI2)
            handles.push_back(handle->uiVal);
    }
    if (types.empty() || indexes.empty() || handles.empty()) Fail("nothing to query in " + t.name);

    size_t k = 0;
    Report("com.GetFirstInstanceOfType", t.name, t.structures, t.bytes, Measure([&] {
               object->GetFirstInstanceOfType(types[k], names.Put(), values.Put(), &retVal);
               if (++k == types.size()) k = 0;
           }));
    k = 0;
    Report("com.FindInstanceByHandle", t.name, t.structures, t.bytes, Measure([&] {
               object->FindInstanceByHandle(handles[k], names.Put(), values.Put(), &retVal);
               if (++k == handles.size()) k = 0;
           }));
    k = 0;
    Report("com.EnumAllInstances", t.name, t.structures, t.bytes, Measure([&] {
               object->EnumAllInstances(indexes[k], names.Put(), values.Put(), &retVal);
               if (++k == indexes.size()) k = 0;
           }));

    // The whole table, as a client reads all of it.
    Report("com.WalkEnumAllInstances", t.name, t.structures, t.bytes, Measure([&] {
               for (UINT i = 0;; ++i) {
                   object->EnumAllInstances(i, names.Put(), values.Put(), &retVal);
                   if (retVal == kNotFound) break;
               }
           }));
    Report("com.WalkGetAllInstancesOfType", t.name, t.structures, t.bytes, Measure([&] {
               for (unsigned type = 0; type < 256; ++type)
                   object->GetAllInstancesOfType(static_cast<uint8_t>(type), names.Put(), values.Put(),
                                                 &retVal);
           }));
}

// ---- the byte-array conversion --------------------------------------------------

void ConversionFigures() {
    const DWORD size = 1u << 20;
    std::vector<unsigned char> bytes(size);
    for (DWORD i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7u);
    const std::string name = "1MiB";

    // Buffer -> VARIANT: the conversion object and GetVariant; the array is
    // freed afterwards, off the clock.
    Report("conv.ToVariant", name, 0, size, MeasureTimed([&] {
               Variant v;
               const int64_t start = Ticks::Now();
               {
                   CCVariantConversion<unsigned char> conversion(bytes.data(), size);
                   conversion.GetVariant(v.Get());
               }
               const int64_t ticks = Ticks::Now() - start;
               if (v->vt != (VT_ARRAY | VT_VARIANT)) Fail("ToVariant");
               return ticks;
           }));

    // VARIANT -> buffer: the conversion object (which copies the VARIANT),
    // GetBufferPointer and the object's destruction.
    Variant source;
    {
        CCVariantConversion<unsigned char> conversion(bytes.data(), size);
        conversion.GetVariant(source.Get());
    }
    Report("conv.ToBuffer", name, 0, size, Measure([&] {
               CCVariantConversion<unsigned char> conversion(source.Get());
               DWORD n = 0;
               const unsigned char* out = conversion.GetBufferPointer(&n);
               if (n != size || out == nullptr || out[12345] != bytes[12345]) Fail("ToBuffer");
           }));

    // For scale: only creating an array of as many VARIANTs (the platform
    // allocates and zeroes it) ...
    Report("conv.NewArray", name, 0, size, MeasureTimed([&] {
               const int64_t start = Ticks::Now();
               SafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, size));
               const int64_t ticks = Ticks::Now() - start;
               if (array.Get() == nullptr) Fail("SafeArrayCreateVector");
               return ticks;
           }));
    // ... and freeing such an array, which every receiver of one pays.
    Report("conv.VariantClear", name, 0, size, MeasureTimed([&] {
               Variant v;
               {
                   CCVariantConversion<unsigned char> conversion(bytes.data(), size);
                   conversion.GetVariant(v.Get());
               }
               const int64_t start = Ticks::Now();
               v.Put();
               return Ticks::Now() - start;
           }));
}

// ---- the platform's heap ------------------------------------------------------------

// What a small allocation costs while few or many others are alive: an
// answer of GetAllInstancesOfType keeps every record of the type (dozens of
// small blocks each) alive at once, a single record only its own. Per block:
// a BSTR of an attribute name's size and a malloc of a string copy's size,
// allocated, then all freed.
void HeapFigures() {
    for (size_t live : {1000u, 100000u}) {
        std::vector<void*> blocks(live);
        std::vector<BSTR> strings(live);
        bench::Timing t = Measure([&] {
            for (size_t i = 0; i < live; ++i) {
                blocks[i] = std::malloc(16 + (i * 7) % 64);
                strings[i] = SysAllocString(L"PhysicalMemoryArrayHandle");
            }
            for (size_t i = 0; i < live; ++i) {
                std::free(blocks[i]);
                SysFreeString(strings[i]);
            }
        });
        // Per block pair rather than per round.
        t.nsPerOp /= static_cast<double>(live);
        t.minNsPerOp /= static_cast<double>(live);
        t.maxNsPerOp /= static_cast<double>(live);
        Report("heap.AllocFree", std::to_string(live) + " live", 0, 0, t);
    }
}

// ---- trace statements --------------------------------------------------------------

// 1,000 statements per operation, so that the clock's own cost is spread.
void TraceOffFigures() {
    constexpr int kBatch = 1000;
    volatile unsigned sink = 0;
    Report("trace.OffStatementx1000", "-", 0, 0, Measure([&] {
               for (int i = 0; i < kBatch; ++i)
                   Trace(TraceLevel::Info, "CBenchItem::GetTypeInstanceData", "Enter",
                         "Method GetTypeInstanceData has been entered.", "hRes: 0x%X",
                         static_cast<unsigned>(i));
           }));
    Report("trace.NoStatementx1000", "-", 0, 0, Measure([&] {
               for (int i = 0; i < kBatch; ++i)
                   sink = sink + 1;
           }));
}

size_t CountRecords(const std::wstring& file) {
    const bench::Bytes content = bench::ReadBinary(Narrow(file));
    size_t records = 0;
    for (size_t i = 0; i + 1 < content.size(); i += 2)
        if (content[i] == '\n' && content[i + 1] == 0) ++records;
    return records;
}

// Tracing on at level 6: whole-table walks for about a second, then the
// records in the file per second; and the same for a loop of level-6
// statements of this executable.
void TraceOnFigures(const std::wstring& file, const std::vector<Table>& tables) {
    const Table* table = nullptr;
    for (const Table& t : tables)
        if (t.name == "dell-poweredge-r640-3.0") table = &t;
    if (table == nullptr) Fail("no table for the trace figures");
    ComPtr<ISmBiosImpl> object = InitializedObject(*table);
    Variant names, values;
    ULONG retVal = 0;
    const size_t before = CountRecords(file);
    int64_t walks = 0;
    const int64_t start = Ticks::Now();
    do {
        for (UINT i = 0;; ++i) {
            object->EnumAllInstances(i, names.Put(), values.Put(), &retVal);
            if (retVal == kNotFound) break;
        }
        ++walks;
    } while (Ticks::Seconds(Ticks::Now() - start) < 1.0);
    const double seconds = Ticks::Seconds(Ticks::Now() - start);
    const size_t records = CountRecords(file) - before;
    bench::ReportValue("trace6.WalkEnumAllInstances.records", table->name, "records/s",
                       static_cast<double>(records) / seconds);
    bench::ReportValue("trace6.WalkEnumAllInstances.recordsPerWalk", table->name, "records",
                       static_cast<double>(records) / static_cast<double>(walks));
    bench::ReportValue("trace6.WalkEnumAllInstances.msPerWalk", table->name, "ms",
                       seconds * 1e3 / static_cast<double>(walks));

    const size_t before2 = CountRecords(file);
    int64_t statements = 0;
    const int64_t start2 = Ticks::Now();
    do {
        for (int i = 0; i < 100; ++i, ++statements)
            Trace(TraceLevel::VerboseCC, "CBenchItem::GetTypeInstanceData", "Internal", "Bench record",
                  "index: %d", static_cast<int>(statements));
    } while (Ticks::Seconds(Ticks::Now() - start2) < 1.0);
    const double seconds2 = Ticks::Seconds(Ticks::Now() - start2);
    const size_t records2 = CountRecords(file) - before2;
    if (records2 != static_cast<size_t>(statements))
        Fail("trace records lost: " + std::to_string(records2) + " of " + std::to_string(statements));
    bench::ReportValue("trace6.Statement.records", "-", "records/s",
                       static_cast<double>(records2) / seconds2);
}

// Every benchmark of one run; 1 when one of them could not run.
int Run(bool traceOn, const std::wstring& traceFile, bool allReal, bool quick) {
    std::vector<Table> tables;
    int status = 0;
    try {
        tables = Tables(allReal, quick);
        if (traceOn) {
            TraceOnFigures(traceFile, tables);
        } else {
            for (const Table& t : tables) {
                InitializeFigure(t);
                ComPtr<ISmBiosImpl> object = InitializedObject(t);
                QueryFigures(t, object.Get());
            }
            ConversionFigures();
            HeapFigures();
            TraceOffFigures();
        }
    } catch (const BenchFailure& failure) {
        std::fprintf(stderr, "korvix_bench_com: %s\n", failure.what());
        status = 1;
    }
    for (const Table& t : tables)
        if (t.temporary) DeleteFileW(t.file.c_str());
    return status;
}

} // namespace

int main(int argc, char** argv) {
    bool allReal = false, quick = false, traceOn = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--all-real")
            allReal = true;
        else if (a == "--quick")
            quick = true;
        else if (a == "--trace")
            traceOn = true;
        else {
            std::fprintf(stderr, "usage: korvix_bench_com [--all-real] [--quick] [--trace]\n");
            return 2;
        }
    }
    if (quick) {
        bench::HarnessSettings().minSeconds = 0.05;
        bench::HarnessSettings().runs = 3;
    }

    // Tracing has to be on before Korvix.dll is loaded (by the registration
    // below already): its trace object joins this one at load.
    const std::wstring traceFile =
        TempFolder() + L"korvix-bench-" + std::to_wstring(GetCurrentProcessId()) + L".trc";
    if (traceOn) {
        CCVireoTrace::Settings s;
        s.enabled = true;
        s.level = 6;
        s.fileName = traceFile.c_str();
        s.moduleColumn = true;
        // Not cleared: with the clear flag every trace object (this one and
        // each DLL's) empties the file at its own first record. The name is
        // new for every run anyway.
        s.clear = false;
        DeleteFileW(traceFile.c_str());
        ModuleTraceObject().Apply(s);
    }

    int status = 0;
    {
        ComApartment apartment;
        ComponentInstall install;
        if (FAILED(apartment.Result()) || !install.Error().empty() ||
            FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &g_clsid))) {
            std::fprintf(stderr, "korvix_bench_com: the component could not be installed: %s\n",
                         install.Error().c_str());
            status = 1;
        } else {
            status = Run(traceOn, traceFile, allReal, quick);
        }
        SetEnvironmentVariableW(L"KORVIX_SMBIOS_TABLE", nullptr);
    }
    if (traceOn) {
        ModuleTraceObject().Apply(CCVireoTrace::Settings{false});
        DeleteFileW(traceFile.c_str());
    }
    return status;
}
