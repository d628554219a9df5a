// korvix_decode_dump FILE: decodes every structure of a table file (a raw
// table or a dump with an entry point, as the driver-access component reads
// them) with the native core and prints each record as text, one attribute a
// line. It exists to be timed against `dmidecode --from-dump FILE`: the same
// work from process start to the last line written (read the file, walk the
// table, decode, format, print).
#include <cstdio>
#include <cstring>
#include <memory>

#include "BenchTables.h"
#include "TableFile.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"
#include "items/AttributeSink.h"

namespace {

class PrintingSink : public IAttributeSink {
public:
    AppendResult Append(const char* name, bool, const AttributeValue& value) override {
        switch (value.type) {
        case ValueType::Text:
            std::printf("\t%s: %s\n", name, value.text != nullptr ? value.text : "");
            break;
        case ValueType::Bytes:
            std::printf("\t%s:", name);
            for (size_t i = 0; i < value.count; ++i)
                std::printf(" %02X", value.bytes[i]);
            std::printf("\n");
            break;
        case ValueType::Bool:
            std::printf("\t%s: %s\n", name, value.number != 0 ? "Yes" : "No");
            break;
        default:
            std::printf("\t%s: 0x%X\n", name, value.number);
            break;
        }
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TABLE-FILE\n", argv[0]);
        return 2;
    }
    const bench::Bytes content = bench::ReadBinary(argv[1]);
    TableFileResult parsed = ParseTableFile(content.data(), content.size());
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\n", argv[1], parsed.error.c_str());
        return 1;
    }
    const uint32_t size = static_cast<uint32_t>(parsed.table.size());
    uint8_t* buffer = new uint8_t[size + 1];
    std::memcpy(buffer, parsed.table.data(), size);
    CSmBiosTable table;
    table.Attach(buffer, size); // the table owns the buffer from here on
    CTypeDispatcher dispatcher(table);
    PrintingSink sink;
    std::printf("%u structures occupying %u bytes.\n\n", table.Count(), size);
    for (uint32_t i = 0;; ++i) {
        CCSmBiosItem item;
        if (!table.GetByIndex(i, item)) break;
        std::printf("Handle 0x%04X, DMI type %u, %u bytes\n", item.Handle(), item.Type(), item.Length());
        std::unique_ptr<CCVSmBiosItem> decoder = dispatcher.Dispatch(item.Type());
        if (decoder) {
            decoder->MoveFrom(item);
            decoder->Decode(sink);
        } else {
            std::printf("\tNo decoder for this type.\n");
        }
        std::printf("\n");
    }
    return 0;
}
