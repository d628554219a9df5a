// Finding the SMBIOS structure table in the contents of a table file, and in
// the answer of the firmware table interface. Free of platform types: the
// accessor uses it on Windows, the tests and the fuzzer build it natively.
//
// A table file is recognised from its content:
//  - "_SM_" at offset 0: a dump with a 2.x entry point; the "_DMI_" part at
//    0x10 gives the table length (u16 at 0x16) and its file offset (u32 at 0x18);
//  - "_SM3_" at offset 0: a dump with a 3.x entry point; the table's maximum
//    size (u32 at 0x0C) and offset (u64 at 0x10); the table is cut after the
//    last whole structure, or after the end-of-table structure (type 127);
//  - byte 1 below 4 (a structure length cannot be, a version major is): a
//    RawSMBIOSData block, an 8-byte header (u8 calling method, u8 major,
//    u8 minor, u8 DMI revision, u32 table length) and the table;
//  - anything else: the structure table itself.
// All integers are little endian. Every offset and length is checked against
// the size of the content; the table found has to begin with a whole
// structure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TableFileKind { RawTable, RawSmBiosData, EntryPoint2, EntryPoint3 };

// "raw table", "RawSMBIOSData", "_SM_ dump", "_SM3_ dump".
const char* TableFileKindName(TableFileKind kind);

struct TableFileResult {
    bool ok = false;
    TableFileKind kind = TableFileKind::RawTable;
    std::vector<uint8_t> table; // byte 0 is the Type byte of the first structure
    std::string error;          // why the content was rejected, when !ok
    // When ok: what is odd about a table that is used anyway (bytes that no
    // whole structure takes up, no end-of-table structure); empty otherwise.
    std::string warning;
};

// Files larger than this are refused before they are read; messages name it
// through TableFileSizeLimitText(). Handing a table to the component as a
// byte array costs about 50 bytes of memory per table byte at the peak, so
// 2 MiB (20 times the largest real tables) peaks near 130 MB, where 64 MiB
// took 3.2 GiB.
constexpr size_t kMaxTableFileSize = 2u * 1024u * 1024u;

// The limit for messages, e.g. "2 MiB (2097152 bytes)".
std::string TableFileSizeLimitText();

TableFileResult ParseTableFile(const uint8_t* data, size_t size);

// The answer of GetSystemFirmwareTable('RSMB'): a RawSMBIOSData header and the
// table. The header's length is trusted only as far as the answer reaches.
TableFileResult ParseFirmwareTable(const uint8_t* data, size_t size);

// Offset just past the last whole structure of a walk from offset 0 (each
// structure: a 4-byte header with a length of at least 4, the formatted area
// and a string set closed by two NUL bytes). The walk stops after an
// end-of-table structure (type 127). 0 when the first structure is not whole.
size_t WholeStructuresEnd(const uint8_t* table, size_t size);
