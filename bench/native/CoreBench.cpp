// Google Benchmark over the COM-free core: the table model (Attach and the
// three lookups), the type dispatcher and the decoders, on the real tables of
// the test corpus and on generated tables of 100 to 65,535 structures.
//
// The same source is linked three times (see CMakeLists.txt) with different
// trace entry points; the benchmarks that compare them carry the same names in
// every executable.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BenchTables.h"
#include "ValueSink.h"
#include "common/trace/Trace.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"

namespace {

using bench::Bytes;

constexpr uint32_t kGeneratedSizes[] = {100, 1000, 10000, 65535};
// A real server table for the per-call figures beside the generated ones.
constexpr const char* kRealForCalls = "dell-poweredge-r640-3.0";

struct Table {
    std::string name;
    Bytes bytes;
};

std::vector<Table> RealTables() {
    std::vector<Table> out;
    for (auto& t : bench::CorpusTables())
        out.push_back({t.name, std::move(t.bytes)});
    return out;
}

std::vector<Table> GeneratedTables() {
    std::vector<Table> out;
    for (uint32_t n : kGeneratedSizes)
        out.push_back({"generated-" + std::to_string(n), bench::GeneratedTable(n)});
    return out;
}

// A table attached for the whole of one benchmark. The table owns a copy of
// the bytes, as CSmBiosImpl's table owns the acquired buffer.
class Attached {
public:
    explicit Attached(const Bytes& bytes) {
        uint8_t* copy = new uint8_t[bytes.size() + 1];
        std::memcpy(copy, bytes.data(), bytes.size());
        table_.Attach(copy, static_cast<uint32_t>(bytes.size()));
    }
    CSmBiosTable& Get() { return table_; }

    std::vector<uint8_t> Types() {
        std::set<uint8_t> seen;
        CCSmBiosItem item;
        for (uint32_t i = 0; table_.GetByIndex(i, item); ++i)
            seen.insert(item.Type());
        return {seen.begin(), seen.end()};
    }
    std::vector<uint16_t> Handles() {
        std::vector<uint16_t> handles;
        CCSmBiosItem item;
        for (uint32_t i = 0; table_.GetByIndex(i, item); ++i)
            handles.push_back(item.Handle());
        return handles;
    }
    // Positions and handles of the structures that have a decoder: the
    // queries that return a record (RetVal 0).
    std::vector<uint32_t> DecodedIndexes() {
        CTypeDispatcher dispatcher(table_);
        std::vector<uint32_t> indexes;
        CCSmBiosItem item;
        for (uint32_t i = 0; table_.GetByIndex(i, item); ++i)
            if (dispatcher.Dispatch(item.Type())) indexes.push_back(i);
        return indexes;
    }
    std::vector<uint16_t> DecodedHandles() {
        std::vector<uint16_t> handles;
        CCSmBiosItem item;
        for (uint32_t i : DecodedIndexes())
            if (table_.GetByIndex(i, item)) handles.push_back(item.Handle());
        return handles;
    }
    std::vector<uint8_t> DecodedTypes() {
        CTypeDispatcher dispatcher(table_);
        std::vector<uint8_t> types;
        for (uint8_t t : Types())
            if (dispatcher.Dispatch(t)) types.push_back(t);
        return types;
    }

private:
    CSmBiosTable table_;
};

void SetTableCounters(benchmark::State& state, const Table& t, uint32_t structures) {
    state.counters["structures"] = structures;
    state.counters["bytes"] = static_cast<double>(t.bytes.size());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * structures);
}

// ---- the table model --------------------------------------------------------

// Attach walks the buffer into both indexes. The same buffer is attached
// again each time: Attach then neither frees nor copies it.
void Attach(benchmark::State& state, const Table* t) {
    CSmBiosTable table;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[t->bytes.size() + 1]);
    std::memcpy(buffer.get(), t->bytes.data(), t->bytes.size());
    const uint32_t size = static_cast<uint32_t>(t->bytes.size());
    for (auto _ : state) {
        table.Attach(buffer.get(), size);
        benchmark::DoNotOptimize(table.Count());
    }
    const uint32_t count = table.Count();
    table.Detach(nullptr, nullptr); // the buffer stays ours
    SetTableCounters(state, *t, count);
}

// One lookup per iteration, cycling through every type the table holds,
// into one item that is reused.
void GetFirstOfType(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    const std::vector<uint8_t> types = a.Types();
    CCSmBiosItem item;
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.Get().GetFirstOfType(types[k], item));
        if (++k == types.size()) k = 0;
    }
    SetTableCounters(state, *t, a.Get().Count());
    state.SetItemsProcessed(state.iterations());
}

void GetByHandle(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    const std::vector<uint16_t> handles = a.Handles();
    CCSmBiosItem item;
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.Get().GetByHandle(handles[k], item));
        if (++k == handles.size()) k = 0;
    }
    SetTableCounters(state, *t, a.Get().Count());
    state.SetItemsProcessed(state.iterations());
}

void GetByIndex(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    const uint32_t n = a.Get().Count();
    CCSmBiosItem item;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a.Get().GetByIndex(i, item));
        if (++i == n) i = 0;
    }
    SetTableCounters(state, *t, n);
    state.SetItemsProcessed(state.iterations());
}

// ---- queries without COM ------------------------------------------------------

// What EnumAllInstances and FindInstanceByHandle do once the structure is
// found: a decoder from the factory, the structure handed into it, the
// record decoded (here into a sink that reads every value).
void DecodeItem(CTypeDispatcher& dispatcher, CCSmBiosItem& item, ValueSink& sink) {
    std::unique_ptr<CCVSmBiosItem> decoder = dispatcher.Dispatch(item.Type());
    if (!decoder) return; // a type without decoder (RetVal 4)
    decoder->MoveFrom(item);
    decoder->Decode(sink);
}

// The whole table through the index, as a client walks it with
// EnumAllInstances(0, 1, ...) until RetVal 3; a fresh item per call.
void WalkByIndex(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    CTypeDispatcher dispatcher(a.Get());
    ValueSink sink;
    for (auto _ : state) {
        for (uint32_t i = 0;; ++i) {
            CCSmBiosItem item;
            if (!a.Get().GetByIndex(i, item)) break;
            DecodeItem(dispatcher, item, sink);
        }
    }
    benchmark::DoNotOptimize(sink.Sum());
    SetTableCounters(state, *t, a.Get().Count());
    state.counters["attributes"] =
        static_cast<double>(sink.Attributes()) / static_cast<double>(state.iterations());
}

// Outputs of DispatchMultiInstance that decode into the sink.
class SinkOutputs : public IDispatchOutputs {
public:
    explicit SinkOutputs(ValueSink& sink) : sink_(sink) {}
    void Prepare() override {}
    int32_t Emit(const CCVSmBiosItem& decoder) override { return decoder.Decode(sink_); }

private:
    ValueSink& sink_;
};

// The whole table by type, as a client walks it with GetAllInstancesOfType
// for every type 0 to 255.
void WalkByType(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    CTypeDispatcher dispatcher(a.Get());
    ValueSink sink;
    SinkOutputs out(sink);
    for (auto _ : state) {
        for (unsigned type = 0; type < 256; ++type)
            benchmark::DoNotOptimize(dispatcher.DispatchMultiInstance(static_cast<uint8_t>(type), out));
    }
    benchmark::DoNotOptimize(sink.Sum());
    SetTableCounters(state, *t, a.Get().Count());
}

// One query per iteration, cycling through the structures that have a
// decoder (as a client does that reads records): the native part of
// EnumAllInstances, FindInstanceByHandle and GetFirstInstanceOfType.
void QueryByIndex(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    CTypeDispatcher dispatcher(a.Get());
    const std::vector<uint32_t> indexes = a.DecodedIndexes();
    ValueSink sink;
    size_t k = 0;
    for (auto _ : state) {
        CCSmBiosItem item;
        if (a.Get().GetByIndex(indexes[k], item)) DecodeItem(dispatcher, item, sink);
        if (++k == indexes.size()) k = 0;
    }
    benchmark::DoNotOptimize(sink.Sum());
    SetTableCounters(state, *t, a.Get().Count());
    state.SetItemsProcessed(state.iterations());
}

void QueryByHandle(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    CTypeDispatcher dispatcher(a.Get());
    const std::vector<uint16_t> handles = a.DecodedHandles();
    ValueSink sink;
    size_t k = 0;
    for (auto _ : state) {
        CCSmBiosItem item;
        if (a.Get().GetByHandle(handles[k], item)) DecodeItem(dispatcher, item, sink);
        if (++k == handles.size()) k = 0;
    }
    benchmark::DoNotOptimize(sink.Sum());
    SetTableCounters(state, *t, a.Get().Count());
    state.SetItemsProcessed(state.iterations());
}

void QueryFirstOfType(benchmark::State& state, const Table* t) {
    Attached a(t->bytes);
    CTypeDispatcher dispatcher(a.Get());
    const std::vector<uint8_t> types = a.DecodedTypes();
    ValueSink sink;
    SinkOutputs out(sink);
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dispatcher.DispatchSingleInstance(types[k], out));
        if (++k == types.size()) k = 0;
    }
    benchmark::DoNotOptimize(sink.Sum());
    SetTableCounters(state, *t, a.Get().Count());
    state.SetItemsProcessed(state.iterations());
}

// ---- the trace statement itself ------------------------------------------------

// One trace statement per iteration, shaped like the decoders' Enter record.
// With tracing off it costs what the linked Trace() does before returning.
void TraceStatement(benchmark::State& state) {
    unsigned i = 0;
    for (auto _ : state) {
        Trace(TraceLevel::Info, "CBenchItem::GetTypeInstanceData", "Enter",
              "Method GetTypeInstanceData has been entered.", "hRes: 0x%X", i++);
        benchmark::ClobberMemory();
    }
}

// The same loop without the statement.
void NoStatement(benchmark::State& state) {
    unsigned i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(i++);
        benchmark::ClobberMemory();
    }
}

} // namespace

int main(int argc, char** argv) {
    // Kept alive for the whole run: the benchmarks hold pointers into them.
    static const std::vector<Table> real = RealTables();
    static const std::vector<Table> generated = GeneratedTables();
    const Table* realForCalls = nullptr;
    for (const Table& t : real)
        if (t.name == kRealForCalls) realForCalls = &t;

    std::vector<const Table*> all;
    for (const Table& t : generated)
        all.push_back(&t);
    for (const Table& t : real)
        all.push_back(&t);
    std::vector<const Table*> forCalls;
    for (const Table& t : generated)
        forCalls.push_back(&t);
    if (realForCalls != nullptr) forCalls.push_back(realForCalls);

    for (const Table* t : all) {
        benchmark::RegisterBenchmark(("Attach/" + t->name).c_str(), Attach, t)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("WalkByIndex/" + t->name).c_str(), WalkByIndex, t)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("WalkByType/" + t->name).c_str(), WalkByType, t)
            ->Unit(benchmark::kMicrosecond);
    }
    for (const Table* t : forCalls) {
        benchmark::RegisterBenchmark(("GetFirstOfType/" + t->name).c_str(), GetFirstOfType, t);
        benchmark::RegisterBenchmark(("GetByHandle/" + t->name).c_str(), GetByHandle, t);
        benchmark::RegisterBenchmark(("GetByIndex/" + t->name).c_str(), GetByIndex, t);
        benchmark::RegisterBenchmark(("QueryByIndex/" + t->name).c_str(), QueryByIndex, t);
        benchmark::RegisterBenchmark(("QueryByHandle/" + t->name).c_str(), QueryByHandle, t);
        benchmark::RegisterBenchmark(("QueryFirstOfType/" + t->name).c_str(), QueryFirstOfType, t);
    }
    benchmark::RegisterBenchmark("TraceStatement", TraceStatement);
    benchmark::RegisterBenchmark("NoStatement", NoStatement);

    benchmark::AddCustomContext("korvix_trace_build", KORVIX_BENCH_TRACE_BUILD);
    benchmark::AddCustomContext("korvix_sanitizers", KORVIX_BENCH_SANITIZED ? "on" : "off");
    benchmark::AddCustomContext("korvix_corpus_tables", std::to_string(real.size()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
