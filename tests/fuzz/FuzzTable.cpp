// fuzz_table: arbitrary bytes as a raw structure table.
//
// The table is attached and every lookup is compared with a walk of the bytes
// made here, apart from the table model: by position, the first and the
// enumeration of each type, every handle present and some absent. Every
// structure is decoded whole, and cut short or by one more decoder class than
// its own. The three drivers of the dispatcher then run for every type and must
// hand over exactly what the table holds.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <tuple>
#include <vector>

#include "FuzzSupport.h"
#include "core/TypeDispatcher.h"

namespace {
constexpr uint8_t kEndOfTable = 127;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);
// Larger inputs add nothing but run time.
constexpr size_t kLargestTable = 1u << 20;
// The types that have a decoder class; 176 and 186 only behind the OEM marker.
const uint8_t kDecodedTypes[] = {0,  1,  2,  3,  4,  5,   6,   7,   8,   9,   10,
                                 11, 12, 16, 17, 39, 128, 129, 130, 176, 186, 188};

struct Expected {
    uint32_t offset;
    uint32_t length;
    uint8_t type;
    uint16_t handle;
};

// The layout rule on its own: a structure whose header starts at p ends with
// the first two consecutive NUL bytes at or behind p + Length. The walk stops
// at a structure whose header or closing NULs are not in the buffer.
std::vector<Expected> ReferenceWalk(const uint8_t* data, size_t size) {
    std::vector<Expected> walk;
    for (size_t p = 0; size - p >= 4;) {
        size_t i = p + data[p + 1];
        while (i + 1 < size && (data[i] != 0 || data[i + 1] != 0))
            ++i;
        if (i + 1 >= size) break;
        const uint16_t handle = static_cast<uint16_t>(data[p + 2] | data[p + 3] << 8);
        walk.push_back({static_cast<uint32_t>(p), static_cast<uint32_t>(i + 2 - p), data[p], handle});
        p = i + 2;
    }
    return walk;
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

uint32_t Mix(const uint8_t* p, uint32_t n) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

std::unique_ptr<CCVSmBiosItem> SomeDecoder(uint32_t h) {
    return AnyDecoder(kDecodedTypes[h % sizeof kDecodedTypes]);
}

// A lookup that finds nothing must leave the instance as it was.
const uint8_t kSentinel[] = {0xEE, 4, 0xAD, 0xDE, 0, 0};
CCSmBiosItem& Preload(CCSmBiosItem& item) {
    item.Load(kSentinel, sizeof kSentinel);
    return item;
}
bool Untouched(const CCSmBiosItem& item) {
    return item.Size() == sizeof kSentinel && std::memcmp(item.Data(), kSentinel, sizeof kSentinel) == 0;
}

// The same bytes, and strings at the same offsets into them: an instance
// loaded again (or copied) is then in the state a fresh load gives it.
bool SameState(const CCSmBiosItem& a, const CCSmBiosItem& b) {
    if (a.Size() != b.Size() || std::memcmp(a.Data(), b.Data(), a.Size()) != 0) return false;
    if (a.Strings().size() != b.Strings().size()) return false;
    for (size_t k = 0; k < a.Strings().size(); ++k)
        if (a.Strings()[k] - reinterpret_cast<const char*>(a.Data()) !=
            b.Strings()[k] - reinterpret_cast<const char*>(b.Data()))
            return false;
    return true;
}

class TableRun : IDispatchOutputs {
public:
    TableRun(const uint8_t* data, size_t size) : data_(data), size_(size), walk_(ReferenceWalk(data, size)) {
        for (const Expected& e : walk_)
            if (e.type != kEndOfTable) byType_.push_back(e);
        std::stable_sort(byType_.begin(), byType_.end(),
                         [](const Expected& a, const Expected& b) { return a.type < b.type; });
        refused_.assign(byType_.size(), false);
        // Every type present, one with a decoder and two more, chosen by the
        // bytes: every other type takes the path of one of these.
        for (const Expected& e : walk_)
            types_.push_back(e.type);
        const uint32_t h = Mix(data, static_cast<uint32_t>(size));
        types_.insert(types_.end(), {kDecodedTypes[(h >> 8) % sizeof kDecodedTypes],
                                     static_cast<uint8_t>(h >> 16), static_cast<uint8_t>(h >> 24)});
        FormatTraces(h);
        std::sort(types_.begin(), types_.end());
        types_.erase(std::unique(types_.begin(), types_.end()), types_.end());
    }

    void Run() {
        // Exactly the input's size, so that AddressSanitizer sees a read past the table.
        uint8_t* buffer = new uint8_t[size_];
        if (size_ > 0) std::memcpy(buffer, data_, size_);
        Attach(buffer);
        ByIndex();
        ByTypeAndHandle();
        Drivers();
        // Attaching the attached buffer again indexes it anew and must not free it.
        Attach(buffer);
        uint8_t* back = nullptr;
        uint32_t backSize = 0;
        const bool detached = table_.Detach(&back, &backSize);
        FUZZ_CHECK(detached == (size_ > 0) && (!detached || (back == buffer && backSize == size_)));
        if (detached) delete[] back; // otherwise the table frees it
    }

private:
    void Attach(uint8_t* buffer) {
        table_.Attach(buffer, static_cast<uint32_t>(size_));
        FUZZ_CHECK(table_.Buffer() == buffer && table_.Size() == size_ && table_.Count() == byType_.size());
    }

    bool Holds(const CCSmBiosItem& item, const Expected& e) const {
        return item.Size() == e.length && std::memcmp(item.Data(), data_ + e.offset, e.length) == 0;
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

    // One more decoding, chosen by the structure's bytes: cut short
    // somewhere or at the end of its formatted area, for a fresh decoder of
    // its class whose copy then ends where the cut does; or copied whole into
    // another class (decoders do not look at the Type byte, so every class
    // must cope with every structure).
    void DecodeVariant(const Expected& e, const CCVSmBiosItem& found) {
        const uint8_t* s = data_ + e.offset;
        const uint32_t h = Mix(s, e.length);
        const uint32_t cut = h % 3 == 0 ? (h >> 2) % e.length : s[1];
        if (h % 3 == 2 || cut >= e.length) {
            std::unique_ptr<CCVSmBiosItem> other = SomeDecoder(h >> 2);
            other->CopyFrom(found);
            FUZZ_CHECK(SameState(*other, found));
            DecodeChecked(*other);
        } else {
            std::unique_ptr<CCVSmBiosItem> own = AnyDecoder(e.type);
            own->Load(s, cut);
            DecodeChecked(*own);
        }
    }

    std::pair<size_t, size_t> Range(uint8_t type) const {
        const auto r = std::equal_range(byType_.begin(), byType_.end(), Expected{0, 0, type, 0},
                                        [](const Expected& a, const Expected& b) { return a.type < b.type; });
        return {r.first - byType_.begin(), r.second - byType_.begin()};
    }

    // The first and the enumeration of each type, in table order. A handle
    // finds the first structure that carries it; handles next to the present
    // ones and those of end-of-table markers alone find nothing.
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
        std::vector<Expected> first; // by handle, the first in table order
        std::copy_if(walk_.begin(), walk_.end(), std::back_inserter(first),
                     [](const Expected& e) { return e.type != kEndOfTable; });
        const auto byHandle = [](const Expected& a, const Expected& b) { return a.handle < b.handle; };
        std::stable_sort(first.begin(), first.end(), byHandle);
        first.erase(
            std::unique(first.begin(), first.end(), [](auto& a, auto& b) { return a.handle == b.handle; }),
            first.end());
        for (const Expected& e : first)
            FUZZ_CHECK(table_.GetByHandle(e.handle, item) && Holds(item, e));
        std::vector<uint16_t> absent = {0x0000, 0xFFFF, 0xFFFE};
        for (size_t k = 0; k < walk_.size() && absent.size() <= 64; ++k) {
            const uint16_t h = walk_[k].handle;
            absent.insert(absent.end(), {h, static_cast<uint16_t>(h + 1), static_cast<uint16_t>(h - 1)});
        }
        for (uint16_t handle : absent)
            if (!std::binary_search(first.begin(), first.end(), Expected{0, 0, 0, handle}, byHandle))
                FUZZ_CHECK(!table_.GetByHandle(handle, Preload(item)) && Untouched(item));
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
        for (uint8_t type : types_) {
            const bool supported =
                std::count(std::begin(kDecodedTypes), std::end(kDecodedTypes), type) == 1 &&
                (marker || (type != 176 && type != 186));
            const auto [begin, end] = Range(type);
            const bool anyRefused = std::count(refused_.begin() + begin, refused_.begin() + end, true) > 0;
            // A driver run that is to hand over the structures from `from`
            // up to `last`: its RetVal, HRESULT and how many it handed over
            // since its last Prepare.
            using Outcome = std::tuple<uint32_t, int32_t, size_t>;
            const auto drive = [&](DispatchResult (CTypeDispatcher::*driver)(uint8_t, IDispatchOutputs&),
                                   size_t from, size_t last) {
                next_ = from, end_ = last, emitted_ = 0;
                const DispatchResult r = (dispatcher.*driver)(type, *this);
                return Outcome{r.retVal, r.hr, emitted_};
            };
            const Outcome unsupported{RetVal::NotSupported, kFail, 0}, notFound{RetVal::NotFound, kFail, 0};
            FUZZ_CHECK(drive(&CTypeDispatcher::DispatchMultiInstance, begin, end) ==
                       (!supported   ? unsupported
                        : anyRefused ? notFound
                                     : Outcome{RetVal::Success, 0, end - begin}));
            FUZZ_CHECK(drive(&CTypeDispatcher::DispatchSingleInstance, begin, std::min(begin + 1, end)) ==
                       (!supported     ? unsupported
                        : begin == end ? notFound
                                       : Outcome{RetVal::Success, 0, 1}));
            table_.StartTypeEnum(type);
            for (size_t i = begin; i <= end; ++i) {
                const Outcome next =
                    i < end ? Outcome{RetVal::Success, 0, 1} : Outcome{RetVal::NotFound, 0, 0};
                FUZZ_CHECK(drive(&CTypeDispatcher::DispatchNextInstance, i, std::min(i + 1, end)) ==
                           (supported ? next : unsupported));
                if (!supported) break;
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    std::vector<Expected> walk_;   // every structure, table order
    std::vector<Expected> byType_; // without end-of-table markers, by type
    std::vector<bool> refused_;    // by position in byType_: its own decoder refused it
    std::vector<uint8_t> types_;   // the types each lookup and driver is asked for
    CSmBiosTable table_;
    size_t next_ = 0, end_ = 0, emitted_ = 0; // what a driver is to hand over, and did
    CCSmBiosItem fresh_;                      // structure next_ as a load gives it
};
} // namespace

int FuzzTable(const uint8_t* data, size_t size) {
    if (size > kLargestTable) return 0;
    TableRun(data, size).Run();
    return 0;
}
