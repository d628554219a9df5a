#include "SmBiosTable.h"

#include <algorithm>
#include <array>
#include <new>

namespace {
constexpr uint8_t kEndOfTable = 127;
constexpr uint32_t kHeaderSize = 4;

// Stable counting sort of `in` into `out` by a one-byte key.
template <class T, class Key> void SortByByte(const std::vector<T>& in, std::vector<T>& out, Key key) {
    std::array<size_t, 256> next{};
    for (const T& e : in)
        ++next[key(e)];
    size_t position = 0;
    for (size_t& n : next) {
        const size_t count = n;
        n = position;
        position += count;
    }
    out.resize(in.size());
    for (const T& e : in)
        out[next[key(e)]++] = e;
}
} // namespace

uint32_t StructureLength(const uint8_t* structure, const uint8_t* end) {
    if (structure == nullptr || end == nullptr || end - structure < 2) return 0;
    const uint8_t* q = structure + structure[1];
    if (q >= end) return 0;
    if (*q != 0) {
        while (q < end && *q != 0)
            ++q;
        if (q >= end) return 0;
    }
    for (;;) {
        ++q;
        if (q >= end) return 0;
        if (*q == 0) break;
        while (q < end && *q != 0)
            ++q;
        if (q >= end) return 0;
    }
    return static_cast<uint32_t>(q - structure) + 1;
}

bool CSmBiosTable::Attach(std::unique_ptr<uint8_t[]> buffer, uint32_t size) {
    if (buffer.get() == buffer_.get()) buffer_.release(); // the same buffer again: kept, not freed
    Reset();
    buffer_ = std::move(buffer);
    size_ = buffer_ != nullptr ? size : 0;
    bool indexed = true;
    try {
        Walk();
    } catch (const std::bad_alloc&) {
        Reset();
        indexed = false;
    }
    cursor_ = types_.size();
    return indexed;
}

void CSmBiosTable::Walk() {
    std::vector<Entry> order; // table order
    const uint8_t* const begin = buffer_.get();
    const uint8_t* const end = begin + size_;
    const uint8_t* p = begin;
    while (p != nullptr && end - p >= static_cast<ptrdiff_t>(kHeaderSize)) {
        const uint32_t length = StructureLength(p, end);
        if (length == 0) break; // string set runs past the buffer
        if (p[0] != kEndOfTable) {
            const uint16_t handle = static_cast<uint16_t>(p[2] | (p[3] << 8));
            order.push_back({p[0], handle, static_cast<uint32_t>(p - begin), length});
        }
        p += length;
    }
    // Stable sorts keep table order among equals: within a type for the type
    // index, and so that the first structure of a handle comes first. Keys
    // are bytes, so counting sorts do it in linear time (the handle in two
    // passes, low byte first).
    SortByByte(order, types_, [](const Entry& e) { return e.type; });
    std::vector<Entry> byLowByte;
    SortByByte(order, byLowByte, [](const Entry& e) { return static_cast<uint8_t>(e.handle); });
    SortByByte(byLowByte, handles_, [](const Entry& e) { return static_cast<uint8_t>(e.handle >> 8); });
    handles_.erase(std::unique(handles_.begin(), handles_.end(),
                               [](const Entry& a, const Entry& b) { return a.handle == b.handle; }),
                   handles_.end());
    IndexTypes();
}

void CSmBiosTable::IndexTypes() {
    firstOfType_.fill(static_cast<uint32_t>(types_.size()));
    for (size_t i = types_.size(); i-- > 0;)
        firstOfType_[types_[i].type] = static_cast<uint32_t>(i);
}

bool CSmBiosTable::Detach(uint8_t** buffer, uint32_t* size) {
    if (buffer_ == nullptr || size_ == 0) return false;
    if (size != nullptr) *size = size_;
    uint8_t* detached = buffer_.release();
    if (buffer != nullptr) *buffer = detached;
    size_ = 0;
    return true;
}

void CSmBiosTable::Reset() {
    buffer_.reset();
    size_ = 0;
    types_.clear();
    handles_.clear();
    IndexTypes();
}

size_t CSmBiosTable::FirstOfType(uint8_t type) const {
    return firstOfType_[type];
}

// Walks in index order (by position, or through the enumeration) reach
// structures scattered over the buffer: in a table of thousands of structures
// each is a cache miss. Asking for the next one early lets the miss overlap
// with decoding the current one. Only a hint: nothing is read here.
void CSmBiosTable::PrefetchEntry(size_t position) const {
#if defined(__GNUC__) || defined(__clang__)
    if (position < types_.size()) __builtin_prefetch(buffer_.get() + types_[position].offset);
#else
    (void)position;
#endif
}

void CSmBiosTable::LoadEntry(const Entry& entry, CCSmBiosItem& item) const {
    item.Load(buffer_.get() + entry.offset, entry.length);
}

void CSmBiosTable::StartTypeEnum(uint8_t type) {
    cursorType_ = type;
    cursor_ = FirstOfType(type);
}

bool CSmBiosTable::NextOfType(CCSmBiosItem& item) {
    if (buffer_ == nullptr || cursor_ >= types_.size() || types_[cursor_].type != cursorType_) return false;
    LoadEntry(types_[cursor_], item);
    ++cursor_;
    PrefetchEntry(cursor_);
    return true;
}

bool CSmBiosTable::GetFirstOfType(uint8_t type, CCSmBiosItem& item) const {
    const size_t i = FirstOfType(type);
    if (buffer_ == nullptr || i >= types_.size()) return false;
    LoadEntry(types_[i], item);
    return true;
}

bool CSmBiosTable::PeekFirstOfType(uint8_t type, const uint8_t*& data, uint32_t& size) const {
    const size_t i = FirstOfType(type);
    if (buffer_ == nullptr || i >= types_.size()) return false;
    data = buffer_.get() + types_[i].offset;
    size = types_[i].length;
    return true;
}

bool CSmBiosTable::GetByIndex(uint32_t index, CCSmBiosItem& item) const {
    if (buffer_ == nullptr || index >= types_.size()) return false;
    LoadEntry(types_[index], item);
    PrefetchEntry(static_cast<size_t>(index) + 1);
    return true;
}

bool CSmBiosTable::GetByHandle(uint16_t handle, CCSmBiosItem& item) const {
    auto it = std::lower_bound(handles_.begin(), handles_.end(), handle,
                               [](const Entry& e, uint16_t h) { return e.handle < h; });
    if (buffer_ == nullptr || it == handles_.end() || it->handle != handle) return false;
    LoadEntry(*it, item);
    return true;
}
