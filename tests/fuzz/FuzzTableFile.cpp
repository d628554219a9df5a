// fuzz_tablefile: arbitrary bytes as the content of a table file and as the
// answer of the firmware table interface, given to the driver-access
// component's reader. It either rejects them with an error text or yields a
// table that begins with a whole structure and is exactly the slice that the
// recognised layout names; that table then goes through fuzz_table's checks.
#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"
#include "TableFile.h"

namespace {
constexpr size_t kRawSmBiosDataHeader = 8;

uint64_t Le(const uint8_t* p, unsigned width) {
    uint64_t v = 0;
    for (unsigned i = width; i-- > 0;)
        v = (v << 8) | p[i];
    return v;
}

// The layout the content announces by its first bytes.
TableFileKind KindOf(const uint8_t* data, size_t size) {
    if (size >= 4 && std::memcmp(data, "_SM_", 4) == 0) return TableFileKind::EntryPoint2;
    if (size >= 5 && std::memcmp(data, "_SM3_", 5) == 0) return TableFileKind::EntryPoint3;
    return size >= 2 && data[1] < 4 ? TableFileKind::RawSmBiosData : TableFileKind::RawTable;
}

bool IsSlice(const TableFileResult& r, const uint8_t* data, size_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset && r.table.size() == length &&
           std::memcmp(r.table.data(), data + offset, length) == 0;
}

// Where the table of an accepted file has to come from.
bool FromAnnouncedPlace(const TableFileResult& r, const uint8_t* data, size_t size) {
    switch (r.kind) {
    case TableFileKind::RawTable:
        return IsSlice(r, data, size, 0, size);
    case TableFileKind::RawSmBiosData:
        return IsSlice(r, data, size, kRawSmBiosDataHeader, Le(data + 4, 4));
    case TableFileKind::EntryPoint2:
        return IsSlice(r, data, size, Le(data + 0x18, 4), Le(data + 0x16, 2));
    case TableFileKind::EntryPoint3: { // the maximum size bounds the table, cut after its last whole
                                       // structure
        const uint64_t address = Le(data + 0x10, 8);
        if (address >= size) return false;
        const uint64_t region = std::min<uint64_t>(Le(data + 0x0C, 4), size - address);
        return IsSlice(r, data, size, address, WholeStructuresEnd(data + address, region));
    }
    }
    return false;
}

// Accepted with a table that begins with a whole structure, or rejected with an error text.
void CheckResult(const TableFileResult& r) {
    FUZZ_CHECK(r.ok == !r.table.empty() && r.ok == r.error.empty());
    FUZZ_CHECK(std::strlen(TableFileKindName(r.kind)) > 0 && std::strlen(r.error.c_str()) == r.error.size());
    FUZZ_CHECK(!r.ok || WholeStructuresEnd(r.table.data(), r.table.size()) > 0);
}
} // namespace

int FuzzTableFile(const uint8_t* data, size_t size) {
    if (size > kMaxTableFileSize) return 0;
    // The prefix of whole structures is itself made of whole structures.
    const size_t whole = WholeStructuresEnd(data, size);
    FUZZ_CHECK(whole <= size && WholeStructuresEnd(data, whole) == whole);

    const TableFileResult file = ParseTableFile(data, size);
    CheckResult(file);
    FUZZ_CHECK(file.kind == (size == 0 ? TableFileKind::RawTable : KindOf(data, size)));
    FUZZ_CHECK(!file.ok || FromAnnouncedPlace(file, data, size));
    // The firmware's answer is always a RawSMBIOSData block; a length beyond
    // the answer is cut to what is there.
    const TableFileResult firmware = ParseFirmwareTable(data, size);
    CheckResult(firmware);
    FUZZ_CHECK(firmware.kind == TableFileKind::RawSmBiosData);
    FUZZ_CHECK(!firmware.ok || IsSlice(firmware, data, size, kRawSmBiosDataHeader,
                                       std::min<uint64_t>(Le(data + 4, 4), size - kRawSmBiosDataHeader)));
    const TableFileResult& found = file.ok ? file : firmware;
    if (found.ok) FuzzTable(found.table.data(), found.table.size());
    return 0;
}
