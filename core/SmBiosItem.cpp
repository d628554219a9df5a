#include "SmBiosItem.h"

#include <cstring>

namespace {
// Zero bytes kept behind every copy, so that a string set cut off without its
// terminator still yields terminated strings. They are not part of Size().
constexpr uint32_t kGuardBytes = 2;
} // namespace

void CCSmBiosItem::Load(const uint8_t* structure, uint32_t size) {
    Clear();
    if (structure == nullptr || size == 0) return;
    copy_.reset(new uint8_t[size + kGuardBytes]);
    std::memcpy(copy_.get(), structure, size);
    std::memset(copy_.get() + size, 0, kGuardBytes);
    size_ = size;
    ParseStrings();
}

void CCSmBiosItem::CopyFrom(const CCSmBiosItem& other) {
    if (&other == this) return;
    Load(other.copy_.get(), other.size_);
}

void CCSmBiosItem::Clear() {
    copy_.reset();
    size_ = 0;
    strings_.clear();
}

// The string set starts at offset Length. An empty set (first byte NUL) gives
// an empty list, even when further bytes follow before the double NUL.
void CCSmBiosItem::ParseStrings() {
    uint32_t q = Length();
    if (q >= size_ || copy_[q] == 0) return;
    while (q < size_ && copy_[q] != 0) {
        strings_.push_back(reinterpret_cast<const char*>(copy_.get() + q));
        while (q < size_ && copy_[q] != 0)
            ++q;
        ++q; // past the terminator
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
