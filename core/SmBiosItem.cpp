#include "SmBiosItem.h"

#include <cstdint>
#include <cstring>

namespace {
// Zero bytes kept behind every copy, so that a string set cut off without its
// terminator still yields terminated strings. They are not part of Size().
constexpr uint32_t kGuardBytes = 2;
} // namespace

void CCSmBiosItem::Load(const uint8_t* structure, uint32_t size) {
    if (structure == nullptr || size == 0 || size > UINT32_MAX - kGuardBytes) {
        Clear();
        return;
    }
    strings_.clear();
    if (capacity_ < size + kGuardBytes) {
        copy_.reset(new uint8_t[size + kGuardBytes]);
        capacity_ = size + kGuardBytes;
    }
    std::memmove(copy_.get(), structure, size);
    std::memset(copy_.get() + size, 0, kGuardBytes);
    size_ = size;
    ParseStrings();
}

void CCSmBiosItem::CopyFrom(const CCSmBiosItem& other) {
    if (&other == this) return;
    Load(other.copy_.get(), other.size_);
}

void CCSmBiosItem::MoveFrom(CCSmBiosItem& other) {
    if (&other == this) return;
    copy_ = std::move(other.copy_);
    size_ = other.size_;
    capacity_ = other.capacity_;
    strings_.swap(other.strings_);
    other.Clear();
}

void CCSmBiosItem::Clear() {
    copy_.reset();
    size_ = 0;
    capacity_ = 0;
    strings_.clear();
}

// The string set starts at offset Length. An empty set (first byte NUL) gives
// an empty list, even when further bytes follow before the double NUL. The
// strings are counted first so that the list is allocated once.
void CCSmBiosItem::ParseStrings() {
    const uint32_t first = Length();
    if (first >= size_ || copy_[first] == 0) return;
    const char* const begin = reinterpret_cast<const char*>(copy_.get());
    const char* const end = begin + size_;
    size_t count = 0;
    for (const char* q = begin + first; q < end && *q != 0;) {
        ++count;
        const void* nul = std::memchr(q, 0, static_cast<size_t>(end - q));
        if (nul == nullptr) break; // the last string ends in the guard bytes
        q = static_cast<const char*>(nul) + 1;
    }
    strings_.reserve(count);
    for (const char* q = begin + first; q < end && *q != 0;) {
        strings_.push_back(q);
        const void* nul = std::memchr(q, 0, static_cast<size_t>(end - q));
        if (nul == nullptr) break;
        q = static_cast<const char*>(nul) + 1;
    }
}

bool CCSmBiosItem::Read(uint32_t offset, uint32_t width, uint64_t& value) const {
    const uint8_t* p = Bytes(offset, width);
    if (p == nullptr || width > 8) return false;
    value = 0;
    for (uint32_t i = width; i-- > 0;)
        value = (value << 8) | p[i];
    return true;
}

const uint8_t* CCSmBiosItem::Bytes(uint32_t offset, uint32_t count) const {
    if (offset > size_ || count > size_ - offset) return nullptr;
    return copy_.get() + offset;
}

uint16_t CCSmBiosItem::Handle() const {
    uint64_t value = 0;
    return Read(2, 2, value) ? static_cast<uint16_t>(value) : 0;
}

const char* CCSmBiosItem::StringNumber(uint8_t number) const {
    if (number == 0 || number > strings_.size()) return nullptr;
    return strings_[number - 1u];
}
