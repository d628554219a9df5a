// Every decoder class by structure type, without the factory's OEM-marker
// condition, so that the targets can run decoders the dispatcher would not
// hand out for a given table.
#pragma once

#include <cstdint>
#include <memory>

#include "items/CCVSmBiosItem.h"

// The decoder class of `type`, or null when the type has none.
std::unique_ptr<CCVSmBiosItem> AnyDecoder(uint8_t type);
// The types that have a decoder class, ascending.
extern const uint8_t kDecodedTypes[22];
