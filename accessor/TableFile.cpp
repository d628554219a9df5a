#include "TableFile.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t kEndOfTable = 127;
constexpr size_t kStructureHeader = 4;
constexpr size_t kRawSmBiosDataHeader = 8;
// Bytes of an entry point that are read: up to the table address.
constexpr size_t kEntryPoint2Needed = 0x1C;
constexpr size_t kEntryPoint3Needed = 0x18;

uint16_t U16At(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32At(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64At(const uint8_t* p) {
    return U32At(p) | (static_cast<uint64_t>(U32At(p + 4)) << 32);
}

std::string Format(const char* format, unsigned long long a = 0, unsigned long long b = 0,
                   unsigned long long c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

TableFileResult Fail(TableFileKind kind, std::string error) {
    TableFileResult r;
    r.kind = kind;
    r.error = std::move(error);
    return r;
}

// The structures from offset 0 as far as they are whole.
struct Walk {
    size_t end = 0;          // just past the last whole structure
    bool endOfTable = false; // the walk stopped after an end-of-table structure
};

Walk WalkStructures(const uint8_t* table, size_t size) {
    Walk walk;
    if (table == nullptr) return walk;
    size_t& pos = walk.end;
    while (size - pos >= kStructureHeader) {
        const uint8_t type = table[pos];
        const size_t length = table[pos + 1];
        if (length < kStructureHeader || length > size - pos) break;
        // The string set ends with the first pair of NUL bytes after the
        // formatted area (a set without strings is just that pair).
        size_t q = pos + length;
        size_t end = 0;
        for (; q + 1 < size; ++q) {
            if (table[q] == 0 && table[q + 1] == 0) {
                end = q + 2;
                break;
            }
        }
        if (end == 0) break;
        pos = end;
        if (type == kEndOfTable) {
            walk.endOfTable = true;
            break;
        }
    }
    return walk;
}

// What a client should know about the bytes of a table that was accepted:
// bytes no whole structure takes up, and a missing end-of-table structure.
// Bytes after the end-of-table structure are only reported when `exact`
// (the length was announced as the table's, not as a maximum).
std::string Warning(const uint8_t* table, size_t size, const Walk& walk, bool exact) {
    std::string out;
    const size_t left = size - walk.end;
    if (left > 0 && walk.endOfTable && exact) {
        out = Format("%llu bytes after the end-of-table structure (from offset 0x%llX) are not used", left,
                     walk.end);
    } else if (left >= kStructureHeader && !walk.endOfTable && table[walk.end + 1] >= kStructureHeader) {
        out = Format("the table ends inside a structure: type %llu at offset 0x%llX has only %llu of its "
                     "bytes, so it is left out",
                     table[walk.end], walk.end, left);
    } else if (left > 0 && !walk.endOfTable) {
        out = Format("%llu bytes after the last whole structure (from offset 0x%llX) are not a structure",
                     left, walk.end);
    }
    if (!walk.endOfTable) {
        if (!out.empty()) out += "; ";
        out += "the table has no end-of-table structure (type 127)";
    }
    return out;
}

// Copies the table from [offset, offset + length), which must begin with a
// whole structure. `exact`: the length is the table's; otherwise it is a
// maximum and the table ends with its last whole structure.
TableFileResult Take(TableFileKind kind, const uint8_t* data, size_t offset, size_t length, bool exact) {
    const Walk walk = WalkStructures(data + offset, length);
    if (walk.end == 0) {
        return Fail(kind,
                    Format("no whole SMBIOS structure at the start of the table (offset 0x%llX, %llu bytes)",
                           offset, length));
    }
    TableFileResult r;
    r.ok = true;
    r.kind = kind;
    r.warning = Warning(data + offset, length, walk, exact);
    r.table.assign(data + offset, data + offset + (exact ? length : walk.end));
    return r;
}

TableFileResult EntryPoint2(const uint8_t* data, size_t size) {
    const TableFileKind kind = TableFileKind::EntryPoint2;
    if (size < kEntryPoint2Needed) {
        return Fail(kind, Format("truncated _SM_ entry point: %llu bytes, at least %llu needed", size,
                                 kEntryPoint2Needed));
    }
    if (std::memcmp(data + 0x10, "_DMI_", 5) != 0) {
        return Fail(kind, "malformed _SM_ entry point: no _DMI_ anchor at offset 0x10");
    }
    const size_t length = U16At(data + 0x16);
    const size_t address = U32At(data + 0x18);
    if (length == 0) return Fail(kind, "the _SM_ entry point gives a table length of 0");
    if (address >= size) {
        return Fail(kind,
                    Format("table address 0x%llX lies past the end of the file (%llu bytes)", address, size));
    }
    if (length > size - address) {
        return Fail(kind, Format("table of %llu bytes at 0x%llX runs past the end of the file (%llu bytes)",
                                 length, address, size));
    }
    return Take(kind, data, address, length, true);
}

TableFileResult EntryPoint3(const uint8_t* data, size_t size) {
    const TableFileKind kind = TableFileKind::EntryPoint3;
    if (size < kEntryPoint3Needed) {
        return Fail(kind, Format("truncated _SM3_ entry point: %llu bytes, at least %llu needed", size,
                                 kEntryPoint3Needed));
    }
    const uint64_t maxSize = U32At(data + 0x0C);
    const uint64_t address = U64At(data + 0x10);
    if (maxSize == 0) return Fail(kind, "the _SM3_ entry point gives a maximum table size of 0");
    if (address >= size) {
        return Fail(kind,
                    Format("table address 0x%llX lies past the end of the file (%llu bytes)", address, size));
    }
    // The size is a maximum: the table ends with its last whole structure,
    // which may come before it (or before the end of the file).
    const size_t available = size - static_cast<size_t>(address);
    const size_t region = maxSize < available ? static_cast<size_t>(maxSize) : available;
    return Take(kind, data, static_cast<size_t>(address), region, false);
}

// `lenient`: a length past the end is cut to what is there (firmware answer)
// instead of being an error (file).
TableFileResult RawSmBiosData(const uint8_t* data, size_t size, bool lenient) {
    const TableFileKind kind = TableFileKind::RawSmBiosData;
    if (size < kRawSmBiosDataHeader) {
        return Fail(kind, Format("truncated RawSMBIOSData header: %llu bytes, %llu needed", size,
                                 kRawSmBiosDataHeader));
    }
    size_t length = U32At(data + 4);
    const size_t available = size - kRawSmBiosDataHeader;
    if (length > available) {
        if (!lenient) {
            return Fail(kind,
                        Format("RawSMBIOSData length %llu runs past the end of the data (%llu bytes after "
                               "the header)",
                               length, available));
        }
        length = available;
    }
    if (length == 0) return Fail(kind, "the RawSMBIOSData header gives a table length of 0");
    return Take(kind, data, kRawSmBiosDataHeader, length, true);
}

} // namespace

const char* TableFileKindName(TableFileKind kind) {
    switch (kind) {
    case TableFileKind::RawTable:
        return "raw table";
    case TableFileKind::RawSmBiosData:
        return "RawSMBIOSData";
    case TableFileKind::EntryPoint2:
        return "_SM_ dump";
    case TableFileKind::EntryPoint3:
        return "_SM3_ dump";
    }
    return "unknown";
}

size_t WholeStructuresEnd(const uint8_t* table, size_t size) {
    return WalkStructures(table, size).end;
}

std::string TableFileSizeLimitText() {
    constexpr size_t kMiB = 1024u * 1024u;
    return kMaxTableFileSize % kMiB == 0
               ? Format("%llu MiB (%llu bytes)", kMaxTableFileSize / kMiB, kMaxTableFileSize)
               : Format("%llu bytes", kMaxTableFileSize);
}

TableFileResult ParseTableFile(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return Fail(TableFileKind::RawTable, "the file is empty");
    if (size >= 4 && std::memcmp(data, "_SM_", 4) == 0) return EntryPoint2(data, size);
    if (size >= 5 && std::memcmp(data, "_SM3_", 5) == 0) return EntryPoint3(data, size);
    if (size >= 2 && data[1] < kStructureHeader) return RawSmBiosData(data, size, false);
    return Take(TableFileKind::RawTable, data, 0, size, true);
}

TableFileResult ParseFirmwareTable(const uint8_t* data, size_t size) {
    if (data == nullptr) size = 0;
    return RawSmBiosData(data, size, true);
}
