// Turns a structure type into its decoder and runs decoders over the
// structures a query selects. Free of COM: the caller says how a decoded
// structure reaches its outputs.
#pragma once

#include <cstdint>
#include <memory>

#include "SmBiosTable.h"
#include "items/CCVSmBiosItem.h"

// RetVal of the query interface.
namespace RetVal {
enum : uint32_t { Success = 0, NotInitialized = 1, EnumNotStarted = 2, NotFound = 3, NotSupported = 4 };
}

// What a driver does with its outputs: Prepare clears them (called where the
// outputs are to be emptied), Emit decodes one structure into them.
class IDispatchOutputs {
public:
    virtual ~IDispatchOutputs() = default;
    virtual void Prepare() = 0;
    // Returns the decoder's result (0 or a failure code).
    virtual int32_t Emit(const CCVSmBiosItem& decoder) = 0;
};

struct DispatchResult {
    uint32_t retVal;
    int32_t hr; // S_OK (0), E_FAIL, or E_OUTOFMEMORY with RetVal 3 when a
                // structure could not be copied or collected for want of memory
};

class CTypeDispatcher {
public:
    explicit CTypeDispatcher(CSmBiosTable& table) : table_(table) {}

    // The decoder for `type`, empty, or null when the type has none (types
    // 176 and 186 only when the table carries the OEM extension marker).
    std::unique_ptr<CCVSmBiosItem> Dispatch(uint8_t type) const;

    // Every structure of the type in table order; moves the shared cursor.
    // A failing decoder aborts the run (RetVal 3).
    DispatchResult DispatchMultiInstance(uint8_t type, IDispatchOutputs& out);
    // The first structure of the type.
    DispatchResult DispatchSingleInstance(uint8_t type, IDispatchOutputs& out);
    // The next structure of the running enumeration of `type`.
    DispatchResult DispatchNextInstance(uint8_t type, IDispatchOutputs& out);

    // The first type-188 structure has Length 8 and "881$" at offsets 4 to 7.
    bool HasOemExtensionMarker() const;

private:
    CSmBiosTable& table_;
};
