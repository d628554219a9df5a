// fuzz_table: arbitrary bytes as a raw structure table. Every lookup of the
// table model is compared with a walk of the bytes made here; every structure
// is decoded whole through a sink that reads every name and value to its end,
// and once more cut short or by another decoder class; the three drivers of
// the dispatcher run for each type and must hand over what the table holds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "FuzzSupport.h"
#include "common/trace/Trace.h"
#include "core/TypeDispatcher.h"

namespace {
constexpr uint8_t kEndOfTable = 127;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);
constexpr size_t kLargestTable = 1u << 20; // larger inputs add nothing but run time
// The types that have a decoder class; 176 and 186 only behind the OEM marker.
const uint8_t kDecodedTypes[] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   9,   10,
                                 11, 12, 16, 17, 39, 128, 129, 130, 176, 186, 188};
// Trace records are formatted (string arguments read to their end) for one
// input in kTraceShare, chosen by a hash of its bytes so that a run repeats:
// formatting took a quarter of the time and reaches no code of its own.
constexpr uint32_t kTraceShare = 8;
bool g_formatTraces = true, g_formatAll = false;
volatile unsigned long g_kept = 0; // what is read is folded in, so that no read is left out

// strlen reads a string in one call that AddressSanitizer checks whole.
size_t Touch(const char* text) {
    const size_t n = std::strlen(text);
    g_kept = g_kept + n;
    return n;
}

uint32_t Mix(const uint8_t* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

// Reads every name and value to its end, as the COM sink does when it makes
// BSTRs and byte arrays, and keeps the first three for the header check.
struct TouchingSink : IAttributeSink {
    AppendResult Append(const char* name, bool, const AttributeValue& v) override {
        const size_t length = name != nullptr ? Touch(name) : 0;
        FUZZ_CHECK(length > 0 && length <= 64); // numbered names are formed in 65 bytes
        const uint32_t largest[] = {0xFFu, 0xFFFFu, ~0u, ~0u, ~0u, 0xFFu}; // by ValueType
        FUZZ_CHECK(v.type <= ValueType::Bool && v.number <= largest[static_cast<int>(v.type)]);
        // A null text becomes a null BSTR; anything else is widened in full.
        if (v.type == ValueType::Text && v.text != nullptr) Touch(v.text);
        FUZZ_CHECK(v.type != ValueType::Bytes || v.count == 0 || v.bytes != nullptr);
        for (size_t i = 0; v.type == ValueType::Bytes && i < v.count; ++i)
            g_kept = g_kept * 31u + v.bytes[i];
        if (count < 3) names[count] = name, numbers[count] = v.number;
        ++count;
        return 0;
    }
    size_t count = 0;
    const char* names[3] = {};
    uint32_t numbers[3] = {};
};

// Decodes and checks the record: success or a refusal, a refusal appends
// nothing, and a structure with its four header bytes begins with Type,
// Length and Handle carrying them. Returns the decoder's result.
AppendResult DecodeChecked(const CCVSmBiosItem& decoder) {
    TouchingSink sink;
    const AppendResult result = decoder.Decode(sink);
    FUZZ_CHECK(result == 0 || (result == CCVSmBiosItem::kRefused && sink.count == 0));
    if (result == 0 && decoder.Size() >= 4) {
        const uint8_t* d = decoder.Data();
        const uint32_t header[] = {d[0], d[1], static_cast<uint32_t>(d[2] | d[3] << 8)};
        const char* const names[] = {"Type", "Length", "Handle"};
        FUZZ_CHECK(sink.count >= 3);
        for (int i = 0; i < 3; ++i)
            FUZZ_CHECK(std::strcmp(sink.names[i], names[i]) == 0 && sink.numbers[i] == header[i]);
    }
    return result;
}

// The dispatcher's factory over a table that carries the OEM marker, so that
// it hands out every decoder class; null for a type without one.
std::unique_ptr<CCVSmBiosItem> AnyDecoder(uint8_t type) {
    static CSmBiosTable marker;
    static const CTypeDispatcher dispatcher = [] {
        static const uint8_t kMarker[] = {188, 8, 0, 0xBC, '8', '8', '1', '$', 0, 0};
        uint8_t* buffer = new uint8_t[sizeof kMarker];
        std::memcpy(buffer, kMarker, sizeof kMarker);
        marker.Attach(buffer, sizeof kMarker);
        return CTypeDispatcher(marker);
    }();
    return dispatcher.Dispatch(type);
}

std::unique_ptr<CCVSmBiosItem> SomeDecoder(uint32_t h) {
    return AnyDecoder(kDecodedTypes[h % sizeof kDecodedTypes]);
}

// The same bytes, and strings at the same offsets into them: an instance
// loaded again (or copied) is then in the state a fresh load gives it.
bool SameState(const CCSmBiosItem& a, const CCSmBiosItem& b) {
    const auto at = [](const CCSmBiosItem& x, size_t k) { return x.Strings()[k] - (const char*)x.Data(); };
    bool same = a.Size() == b.Size() && std::memcmp(a.Data(), b.Data(), a.Size()) == 0 &&
                a.Strings().size() == b.Strings().size();
    for (size_t k = 0; same && k < a.Strings().size(); ++k)
        same = at(a, k) == at(b, k);
    return same;
}

struct Expected {
    uint32_t offset, length;
    uint8_t type;
    uint16_t handle;
};
const auto kByType = [](const Expected& a, const Expected& b) { return a.type < b.type; };

class TableRun : IDispatchOutputs {
public:
    // The layout rule on its own: a structure whose header starts at p ends
    // with the first two consecutive NUL bytes at or behind p + Length. The
    // walk stops at a structure whose header or closing NULs are not there.
    TableRun(const uint8_t* data, size_t size) : data_(data), size_(size) {
        walk_.reserve(size / 4), byType_.reserve(size / 4), types_.reserve(size / 4 + 3);
        for (size_t p = 0, i; size - p >= 4; p = i + 2) {
            for (i = p + data[p + 1]; i + 1 < size && (data[i] != 0 || data[i + 1] != 0);)
                ++i;
            if (i + 1 >= size) break;
            walk_.push_back(
                {uint32_t(p), uint32_t(i + 2 - p), data[p], uint16_t(data[p + 2] | data[p + 3] << 8)});
        }
        for (const Expected& e : walk_)
            if (e.type != kEndOfTable) byType_.push_back(e);
        std::stable_sort(byType_.begin(), byType_.end(), kByType);
        refused_.assign(byType_.size(), false);
        // Every type present, one with a decoder and two more, chosen by the
        // bytes: every other type takes the path of one of these.
        const uint32_t h = Mix(data, size);
        for (const Expected& e : walk_)
            types_.push_back(e.type);
        types_.insert(types_.end(),
                      {kDecodedTypes[(h >> 8) % sizeof kDecodedTypes], uint8_t(h >> 16), uint8_t(h >> 24)});
        std::sort(types_.begin(), types_.end());
        types_.erase(std::unique(types_.begin(), types_.end()), types_.end());
        g_formatTraces = g_formatAll || h % kTraceShare == 0;
        g_traceThreshold = g_formatTraces ? TraceLevel::VerboseCC + 1 : 0;
    }

    void Run() {
        // Exactly the input's size, so that AddressSanitizer sees a read past the table.
        uint8_t* buffer = new uint8_t[size_];
        if (size_ > 0) std::memcpy(buffer, data_, size_);
        Attach(buffer);
        ByIndex();
        ByTypeAndHandle();
        Drivers();
        // The attached buffer once more: indexed anew, and not freed (the table frees it once, at the end).
        Attach(buffer);
    }

private:
    void Attach(uint8_t* buffer) {
        table_.Attach(buffer, static_cast<uint32_t>(size_));
        FUZZ_CHECK(table_.Buffer() == buffer && table_.Size() == size_ && table_.Count() == byType_.size());
    }
    bool Holds(const CCSmBiosItem& item, const Expected& e) const {
        return item.Size() == e.length && std::memcmp(item.Data(), data_ + e.offset, e.length) == 0;
    }
    // A lookup that finds nothing must leave the instance as it was.
    static CCSmBiosItem& Preload(CCSmBiosItem& item) { return item.Load(kSentinel, sizeof kSentinel), item; }
    static bool Untouched(const CCSmBiosItem& item) {
        return item.Size() == sizeof kSentinel && std::memcmp(item.Data(), kSentinel, sizeof kSentinel) == 0;
    }
    std::pair<size_t, size_t> Range(uint8_t type) const {
        const auto r = std::equal_range(byType_.begin(), byType_.end(), Expected{0, 0, type, 0}, kByType);
        return {r.first - byType_.begin(), r.second - byType_.begin()};
    }

    // Positions in type order, then nothing. Each structure is decoded here by
    // its own class (a type without one by some class: no decoder may depend
    // on the Type byte for its safety); the other lookups compare bytes.
    void ByIndex() {
        CCSmBiosItem item;
        for (uint32_t i : {table_.Count(), table_.Count() + 2, 0xFFFFFFFFu})
            FUZZ_CHECK(!table_.GetByIndex(i, Preload(item)) && Untouched(item));
        for (uint32_t i = 0; i < byType_.size(); ++i) {
            const Expected& e = byType_[i];
            std::unique_ptr<CCVSmBiosItem> decoder = AnyDecoder(e.type);
            const bool own = decoder != nullptr;
            if (!own) decoder = SomeDecoder(Mix(data_ + e.offset, e.length));
            FUZZ_CHECK(table_.GetByIndex(i, *decoder) && Holds(*decoder, e));
            refused_[i] = DecodeChecked(*decoder) == CCVSmBiosItem::kRefused && own;
            if (own) DecodeVariant(e, *decoder);
        }
    }

    // One more decoding, chosen by the structure's bytes: cut short somewhere
    // or at the end of its formatted area, for a fresh decoder of its class
    // whose copy then ends where the cut does; or copied or moved whole into
    // another class (decoders do not look at the Type byte, so every class
    // must cope with every structure).
    void DecodeVariant(const Expected& e, CCVSmBiosItem& found) {
        const uint8_t* s = data_ + e.offset;
        const uint32_t h = Mix(s, e.length);
        const uint32_t cut = h % 3 == 0 ? (h >> 2) % e.length : s[1];
        const bool copy = h % 3 == 2 || cut >= e.length;
        std::unique_ptr<CCVSmBiosItem> decoder = copy ? SomeDecoder(h >> 2) : AnyDecoder(e.type);
        if (copy) { // copied, or moved as the component hands a structure found by handle on
            fresh_.Load(s, e.length);
            (h & 4) != 0 ? decoder->MoveFrom(found) : decoder->CopyFrom(found);
            FUZZ_CHECK(SameState(*decoder, fresh_));
        } else {
            decoder->Load(s, cut);
        }
        DecodeChecked(*decoder);
    }

    // The first and the enumeration of each type, in table order; every
    // handle present, and those next to them or of end-of-table markers alone.
    void ByTypeAndHandle() {
        CCSmBiosItem item;
        for (uint8_t t : types_) {
            const auto [begin, end] = Range(t);
            const bool found = table_.GetFirstOfType(t, Preload(item));
            FUZZ_CHECK(found == (begin < end) && (found ? Holds(item, byType_[begin]) : Untouched(item)));
            table_.StartTypeEnum(t);
            for (size_t i = begin; i < end; ++i)
                FUZZ_CHECK(table_.NextOfType(item) && Holds(item, byType_[i]));
            for (int again = 0; again < 2; ++again)
                FUZZ_CHECK(!table_.NextOfType(Preload(item)) && Untouched(item));
        }
        std::vector<bool> present(0x10000); // a handle finds the first structure carrying it
        for (const Expected& e : walk_)
            if (e.type != kEndOfTable && !present[e.handle])
                FUZZ_CHECK(table_.GetByHandle(e.handle, item) && Holds(item, e)), present[e.handle] = true;
        std::vector<uint16_t> absent = {0x0000, 0xFFFF, 0xFFFE};
        absent.reserve(70);
        for (size_t k = 0; k < walk_.size() && absent.size() <= 64; ++k)
            for (int d : {0, 1, -1})
                absent.push_back(static_cast<uint16_t>(walk_[k].handle + d));
        for (uint16_t handle : absent)
            if (!present[handle]) FUZZ_CHECK(!table_.GetByHandle(handle, Preload(item)) && Untouched(item));
    }

    // A driver hands its decoder to Emit once per structure. The decoder must
    // hold structure next_ in the state a fresh load gives, so it would decode
    // as the decoder of ByIndex did: its result is returned instead.
    void Prepare() override { emitted_ = 0; }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        FUZZ_CHECK(next_ < end_);
        fresh_.Load(data_ + byType_[next_].offset, byType_[next_].length);
        FUZZ_CHECK(SameState(decoder, fresh_));
        ++emitted_;
        return refused_[next_++] ? CCVSmBiosItem::kRefused : 0;
    }

    // The three drivers for each type, against what the table holds.
    void Drivers() {
        CTypeDispatcher dispatcher(table_);
        const auto [first188, end188] = Range(188);
        const uint8_t* s = data_ + (first188 < end188 ? byType_[first188].offset : 0);
        const bool marker = first188 < end188 && s[1] == 8 && std::memcmp(s + 4, "881$", 4) == 0;
        FUZZ_CHECK(dispatcher.HasOemExtensionMarker() == marker);
        using Outcome = std::tuple<uint32_t, int32_t, size_t>; // RetVal, HRESULT, structures handed over
        const Outcome unsupported{RetVal::NotSupported, kFail, 0}, notFound{RetVal::NotFound, kFail, 0};
        for (uint8_t type : types_) {
            const bool supported =
                std::count(std::begin(kDecodedTypes), std::end(kDecodedTypes), type) == 1 &&
                (marker || (type != 176 && type != 186));
            const auto [begin, end] = Range(type);
            const bool anyRefused = std::count(refused_.begin() + begin, refused_.begin() + end, true) > 0;
            // A driver run that is to hand over structures `from` to `last` - 1.
            const auto drive = [&](DispatchResult (CTypeDispatcher::*driver)(uint8_t, IDispatchOutputs&),
                                   size_t from, size_t last) {
                next_ = from, end_ = last, emitted_ = 0;
                const DispatchResult r = (dispatcher.*driver)(type, *this);
                return Outcome{r.retVal, r.hr, emitted_}; // counted since the last Prepare
            };
            const Outcome none = supported ? notFound : unsupported;
            FUZZ_CHECK(drive(&CTypeDispatcher::DispatchMultiInstance, begin, end) ==
                       (supported && !anyRefused ? Outcome{RetVal::Success, 0, end - begin} : none));
            FUZZ_CHECK(drive(&CTypeDispatcher::DispatchSingleInstance, begin, std::min(begin + 1, end)) ==
                       (supported && begin < end ? Outcome{RetVal::Success, 0, 1} : none));
            table_.StartTypeEnum(type);
            for (size_t i = begin; i <= end && (i == begin || supported); ++i) {
                const Outcome next = !supported ? unsupported
                                     : i < end  ? Outcome{RetVal::Success, 0, 1}
                                                : Outcome{RetVal::NotFound, 0, 0};
                FUZZ_CHECK(drive(&CTypeDispatcher::DispatchNextInstance, i, std::min(i + 1, end)) == next);
            }
        }
    }

    static constexpr uint8_t kSentinel[] = {0xEE, 4, 0xAD, 0xDE, 0, 0};
    const uint8_t* data_;
    size_t size_;
    std::vector<Expected> walk_;   // every structure, table order
    std::vector<Expected> byType_; // without end-of-table markers, by type
    std::vector<bool> refused_;    // by position in byType_: its own decoder refused it
    std::vector<uint8_t> types_;   // the types each lookup and driver is asked for
    CSmBiosTable table_;
    size_t next_ = 0, end_ = 0, emitted_ = 0; // what a driver is to hand over, and did
    CCSmBiosItem fresh_;                      // a fresh load of the structure compared
};

} // namespace

int FuzzTable(const uint8_t* data, size_t size) {
    if (size <= kLargestTable) TableRun(data, size).Run();
    return 0;
}

void FormatEveryTrace() {
    g_formatAll = g_formatTraces = true;
}

void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    std::abort();
}

// Scopes that write Enter/Leave records ask whether a record is wanted before
// they build its text: every level is for the inputs whose records are
// formatted, so those texts reach the check below; none is for the others.
std::atomic<unsigned> g_traceThreshold{TraceLevel::VerboseCC + 1};

// The libraries call the trace entry point out of line in the fuzz build, where
// the compiler checks every details format against its arguments.
void Trace(unsigned level, const char* scope, const char* category, const char* text, const char* details,
           ...) {
    FUZZ_CHECK(level >= TraceLevel::Error && level <= TraceLevel::VerboseCC);
    FUZZ_CHECK(scope != nullptr && category != nullptr && text != nullptr && details != nullptr);
    if (!g_formatTraces) return;
    Touch(scope), Touch(category), Touch(text);
    char buffer[1024]; // longer details are cut, but every string argument is read to its end
    va_list args;
    va_start(args, details);
    FUZZ_CHECK(std::vsnprintf(buffer, sizeof buffer, details, args) >= 0);
    va_end(args);
}
