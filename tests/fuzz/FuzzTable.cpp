// fuzz_table: arbitrary bytes as a raw SMBIOS structure table.
//
// The table is attached and every lookup is compared with a walk of the bytes
// made here, apart from the table model: the index by position, the first and
// the enumeration of every type, every handle present and some absent. Every
// structure found is decoded in full, cut short, and by one more decoder class
// than its own; then the three drivers of the dispatcher run for every type
// and must agree with what the table holds.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "FuzzSupport.h"
#include "core/TypeDispatcher.h"

namespace {
constexpr uint8_t kEndOfTable = 127;
constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);
// Inputs beyond this size add nothing but run time.
constexpr size_t kLargestTable = 1u << 20;

// One structure where the bytes say it is.
struct Expected {
    uint32_t offset;
    uint32_t length;
    uint8_t type;
    uint16_t handle;
};

bool ByType(const Expected& a, const Expected& b) {
    return a.type < b.type;
}

// The layout rule on its own: a structure whose header starts at p ends with
// the first two consecutive NUL bytes at or behind p + Length. The walk stops
// at a structure whose four header bytes or whose closing NULs are not in the
// buffer, as the table model does.
std::vector<Expected> ReferenceWalk(const uint8_t* data, size_t size) {
    std::vector<Expected> walk;
    size_t p = 0;
    while (size - p >= 4) {
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

// The handle a copy of the structure shows: a structure shorter than its
// header (Length 0 and no strings) has none, although the table indexes it
// under the bytes that follow it.
uint16_t CopiedHandle(const Expected& e) {
    return e.length >= 4 ? e.handle : 0;
}

// Loaded into an instance before a lookup that must fail, which has to leave
// the instance as it was.
const uint8_t kSentinel[] = {0xEE, 4, 0xAD, 0xDE, 0, 0};
CCSmBiosItem& Preload(CCSmBiosItem& item) {
    item.Load(kSentinel, sizeof kSentinel);
    return item;
}
bool Untouched(const CCSmBiosItem& item) {
    return item.Size() == sizeof kSentinel && std::memcmp(item.Data(), kSentinel, sizeof kSentinel) == 0;
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

// Decodes what a driver emits and counts it since the last Prepare.
class DecodingOutputs : public IDispatchOutputs {
public:
    void Prepare() override { emitted = 0; }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        ++emitted;
        lastHandle = decoder.Handle();
        return DecodeChecked(decoder);
    }
    size_t emitted = 0;
    uint16_t lastHandle = 0;
};

class TableRun {
public:
    TableRun(const uint8_t* data, size_t size) : data_(data), size_(size), walk_(ReferenceWalk(data, size)) {
        for (const Expected& e : walk_)
            if (e.type != kEndOfTable) byType_.push_back(e);
        std::stable_sort(byType_.begin(), byType_.end(), ByType);
        refused_.assign(byType_.size(), false);
    }

    void Run() {
        // Exactly the input's size, so that AddressSanitizer sees any read
        // past the end of the table.
        uint8_t* buffer = new uint8_t[size_];
        if (size_ > 0) std::memcpy(buffer, data_, size_);
        Attach(buffer);
        ByIndex();
        ByTypeAndHandle();
        Drivers();
        // Attaching the buffer that is attached already indexes it anew and
        // must not free it.
        Attach(buffer);
        CCSmBiosItem item;
        if (!byType_.empty()) FUZZ_CHECK(table_.GetByIndex(0, item) && Holds(item, byType_[0]));

        uint8_t* back = nullptr;
        uint32_t backSize = 0;
        const bool detached = table_.Detach(&back, &backSize);
        FUZZ_CHECK(detached == (size_ > 0));
        if (detached) {
            FUZZ_CHECK(back == buffer && backSize == size_);
            delete[] back;
        } // otherwise the table frees it
    }

private:
    void Attach(uint8_t* buffer) {
        table_.Attach(buffer, static_cast<uint32_t>(size_));
        FUZZ_CHECK(table_.Buffer() == buffer && table_.Size() == size_ && table_.Count() == byType_.size());
    }

    bool Holds(const CCSmBiosItem& item, const Expected& e) const {
        return item.Size() == e.length && std::memcmp(item.Data(), data_ + e.offset, e.length) == 0;
    }

    // Positions 0 to Count()+2: the entries in type order, then nothing. Each
    // structure is decoded here; the other lookups return the same bytes.
    void ByIndex() {
        const uint32_t count = table_.Count();
        CCSmBiosItem item;
        for (uint32_t i = count; i < count + 3; ++i)
            FUZZ_CHECK(!table_.GetByIndex(i, Preload(item)) && Untouched(item));
        FUZZ_CHECK(!table_.GetByIndex(0xFFFFFFFFu, Preload(item)) && Untouched(item));
        for (uint32_t i = 0; i < count; ++i) {
            const Expected& e = byType_[i];
            // A type without a decoder still goes through one decoder class:
            // none may depend on the Type byte for its safety.
            std::unique_ptr<CCVSmBiosItem> decoder = AnyDecoder(e.type);
            const bool own = decoder != nullptr;
            if (!own) decoder = SomeDecoder(Mix(data_ + e.offset, e.length));
            FUZZ_CHECK(table_.GetByIndex(i, *decoder) && Holds(*decoder, e));
            const bool refused = DecodeChecked(*decoder) == CCVSmBiosItem::kRefused;
            if (own) {
                refused_[i] = refused;
                DecodeVariants(e, *decoder);
            }
        }
    }

    // The structure cut short (inside its string set or header, and at the
    // end of its formatted area) for its own decoder, and copied whole into
    // one more decoder class: decoders do not look at the Type byte, so every
    // class must cope with every structure.
    void DecodeVariants(const Expected& e, const CCVSmBiosItem& found) {
        const uint8_t* s = data_ + e.offset;
        const uint32_t h = Mix(s, e.length);
        std::unique_ptr<CCVSmBiosItem> own = AnyDecoder(e.type);
        own->Load(s, h % e.length);
        DecodeChecked(*own);
        if (s[1] < e.length) {
            own->Load(s, s[1]);
            DecodeChecked(*own);
        }
        std::unique_ptr<CCVSmBiosItem> other = SomeDecoder(h >> 8);
        other->CopyFrom(found);
        FUZZ_CHECK(Holds(*other, e) && other->Strings().size() == found.Strings().size());
        for (size_t k = 0; k < other->Strings().size(); ++k) {
            // The copy's strings lie in its own bytes, where the original's lie in theirs.
            const uint8_t* text = reinterpret_cast<const uint8_t*>(other->Strings()[k]);
            FUZZ_CHECK(text >= other->Data() && text < other->Data() + other->Size());
            FUZZ_CHECK(text - other->Data() ==
                       reinterpret_cast<const uint8_t*>(found.Strings()[k]) - found.Data());
        }
        DecodeChecked(*other);
    }

    std::pair<size_t, size_t> Range(uint8_t type) const {
        auto r = std::equal_range(byType_.begin(), byType_.end(), Expected{0, 0, type, 0}, ByType);
        return {static_cast<size_t>(r.first - byType_.begin()),
                static_cast<size_t>(r.second - byType_.begin())};
    }

    // The first and the enumeration of every type, in table order. Every
    // handle finds the first structure that carries it in table order;
    // handles of end-of-table markers alone and handles next to the present
    // ones find nothing.
    void ByTypeAndHandle() {
        CCSmBiosItem item;
        for (unsigned t = 0; t < 256; ++t) {
            const auto [begin, end] = Range(static_cast<uint8_t>(t));
            const bool found = table_.GetFirstOfType(static_cast<uint8_t>(t), Preload(item));
            FUZZ_CHECK(found == (begin < end));
            FUZZ_CHECK(found ? Holds(item, byType_[begin]) : Untouched(item));
            table_.StartTypeEnum(static_cast<uint8_t>(t));
            for (size_t i = begin; i < end; ++i)
                FUZZ_CHECK(table_.NextOfType(item) && Holds(item, byType_[i]));
            for (int again = 0; again < 2; ++again)
                FUZZ_CHECK(!table_.NextOfType(Preload(item)) && Untouched(item));
        }

        std::map<uint16_t, const Expected*> first;
        for (const Expected& e : walk_)
            if (e.type != kEndOfTable) first.emplace(e.handle, &e);
        for (const auto& [handle, e] : first)
            FUZZ_CHECK(table_.GetByHandle(handle, item) && Holds(item, *e));
        std::vector<uint16_t> absent = {0x0000, 0xFFFF, 0xFFFE};
        for (size_t k = 0; k < walk_.size() && absent.size() <= 64; ++k) {
            const uint16_t h = walk_[k].handle; // perhaps an end-of-table marker's
            absent.insert(absent.end(), {h, static_cast<uint16_t>(h + 1), static_cast<uint16_t>(h - 1)});
        }
        for (uint16_t handle : absent)
            if (first.count(handle) == 0)
                FUZZ_CHECK(!table_.GetByHandle(handle, Preload(item)) && Untouched(item));
    }

    // The three drivers for every type, against what the table holds.
    void Drivers() {
        CTypeDispatcher dispatcher(table_);
        const auto [first188, end188] = Range(188);
        const uint8_t* s = data_ + (first188 < end188 ? byType_[first188].offset : 0);
        const bool marker = first188 < end188 && s[1] == 8 && std::memcmp(s + 4, "881$", 4) == 0;
        FUZZ_CHECK(dispatcher.HasOemExtensionMarker() == marker);
        DecodingOutputs out;
        DispatchResult r{};
        // The result and how many structures went out, from the last Prepare
        // (or from the call, for a driver that leaves the outputs alone).
        const auto gave = [&](uint32_t retVal, int32_t hr, size_t emitted) {
            return r.retVal == retVal && r.hr == hr && out.emitted == emitted;
        };
        for (unsigned t = 0; t < 256; ++t) {
            const uint8_t type = static_cast<uint8_t>(t);
            const bool supported =
                std::count(kDecodedTypes, kDecodedTypes + sizeof kDecodedTypes, type) == 1 &&
                (marker || (type != 176 && type != 186));
            const auto [begin, end] = Range(type);
            const size_t count = end - begin;
            const bool anyRefused = std::count(refused_.begin() + begin, refused_.begin() + end, true) > 0;

            out.emitted = 0;
            r = dispatcher.DispatchMultiInstance(type, out);
            FUZZ_CHECK(!supported   ? gave(RetVal::NotSupported, kFail, 0)
                       : anyRefused ? gave(RetVal::NotFound, kFail, 0)
                                    : gave(RetVal::Success, kOk, count));

            out.emitted = 0;
            r = dispatcher.DispatchSingleInstance(type, out);
            FUZZ_CHECK(!supported ? gave(RetVal::NotSupported, kFail, 0)
                       : count == 0
                           ? gave(RetVal::NotFound, kFail, 0)
                           : gave(RetVal::Success, kOk, 1) && out.lastHandle == CopiedHandle(byType_[begin]));

            table_.StartTypeEnum(type);
            for (size_t i = begin; i <= end; ++i) {
                out.emitted = 0;
                r = dispatcher.DispatchNextInstance(type, out);
                FUZZ_CHECK(!supported ? gave(RetVal::NotSupported, kFail, 0)
                           : i < end
                               ? gave(RetVal::Success, kOk, 1) && out.lastHandle == CopiedHandle(byType_[i])
                               : gave(RetVal::NotFound, kOk, 0));
                if (!supported) break;
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    std::vector<Expected> walk_;   // every structure, table order
    std::vector<Expected> byType_; // without end-of-table markers, by type
    std::vector<bool> refused_;    // by position in byType_: the decoder refused it
    CSmBiosTable table_;
};
} // namespace

int FuzzTable(const uint8_t* data, size_t size) {
    if (size > kLargestTable) return 0;
    TableRun(data, size).Run();
    return 0;
}
