// libFuzzer target: any content given to the table-file reader either yields
// a table that begins with a whole structure or an error text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "TableFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TableFileResult file = ParseTableFile(data, size);
    if (file.ok == file.table.empty()) std::abort();
    if (file.ok && WholeStructuresEnd(file.table.data(), file.table.size()) == 0) std::abort();
    if (!file.ok && file.error.empty()) std::abort();
    const TableFileResult firmware = ParseFirmwareTable(data, size);
    if (firmware.ok && firmware.table.size() + 8 > size) std::abort();
    return 0;
}
