// The table-file reader: the error of each inconsistent header, the end of a
// 3.x table, the firmware's answer. The fuzz harness checks that every table
// found is the slice its header names, on seeds of every kind of file built
// around a real table.
#include <gtest/gtest.h>

#include <cstring>

#include "RecordChecks.h"
#include "TableFile.h"

namespace {

using record_checks::Cut;

void Put(Bytes& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// What GetSystemFirmwareTable('RSMB') hands out.
Bytes RawSmBiosData(const Bytes& table, uint32_t length) {
    Bytes b{0, 3, 1, 0, 0, 0, 0, 0};
    Put(b, 4, length, 4);
    return Cat({b, table});
}

// A dump with a 2.x entry point: "_SM_" ... "_DMI_", the table at `address`.
Bytes Dump2(const Bytes& table, uint32_t address = 0x20) {
    Bytes b(0x20, 0);
    std::memcpy(&b[0], "_SM_", 4);
    std::memcpy(&b[0x10], "_DMI_", 5);
    Put(b, 0x16, table.size(), 2);
    Put(b, 0x18, address, 4);
    return Cat({b, table});
}

// A dump with a 3.x entry point, the table at 0x20 followed by `padding` bytes.
Bytes Dump3(const Bytes& table, uint32_t maxSize, size_t padding = 0, uint64_t address = 0x20) {
    Bytes b(0x20, 0);
    std::memcpy(&b[0], "_SM3_", 5);
    Put(b, 0x0C, maxSize, 4);
    Put(b, 0x10, address, 8);
    return Cat({b, table, Bytes(padding, 0)});
}

TableFileResult Parse(const Bytes& b) {
    return ParseTableFile(b.data(), b.size());
}

const Bytes kFirst = Structure(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"});
const Bytes kSmall = Table({kFirst, Structure(1, 0x0001, {4, 5}), Structure(127, 0x7F00, {})});
const uint32_t kSmallSize = static_cast<uint32_t>(kSmall.size());

} // namespace

// The 3.x table ends after the end-of-table structure, or after the last whole
// structure within the maximum size. (Every other slice a header names is
// checked by the fuzz harness, on its seeds of every kind.)
TEST(TableFile, EntryPoint3TableEndsWithItsLastWholeStructure) {
    const Bytes after = Cat({kSmall, Structure(2, 0x0002, {9, 9})});
    const Bytes noEnd = Table({kFirst, Structure(1, 1, {3, 4}, {"B"})});
    EXPECT_TRUE(Parse(Dump3(after, static_cast<uint32_t>(after.size()))).table == kSmall);
    EXPECT_TRUE(Parse(Dump3(noEnd, static_cast<uint32_t>(noEnd.size() - 1))).table == kFirst);
    for (const Bytes& tail : {Bytes{1, 3, 0, 0, 0, 0}, Bytes{1, 40, 0, 0, 0, 0}, Bytes{1, 4}}) {
        const Bytes b = Cat({kFirst, tail}); // Length below 4, past the end, a header cut short
        EXPECT_EQ(WholeStructuresEnd(b.data(), b.size()), kFirst.size());
    }
}

TEST(TableFile, InconsistentHeadersGiveTheirError) {
    const std::string text = "this is not an SMBIOS table\n";
    Bytes longer2 = Dump2(kSmall), address2 = Dump2(kSmall), wrapping2 = Dump2(kSmall), zero2 = Dump2(kSmall),
          anchor2 = Dump2(kSmall);
    Put(longer2, 0x16, kSmallSize + 1, 2);
    Put(address2, 0x18, static_cast<uint32_t>(address2.size()), 4);
    Put(wrapping2, 0x18, 0xFFFFFFF0u, 4);
    Put(zero2, 0x16, 0, 2);
    std::memcpy(&anchor2[0x10], "_XMI_", 5);
    const std::pair<Bytes, const char*> cases[] = {
        {{}, "the file is empty"},
        {Cut(Dump2(kSmall), 0x1B), "truncated _SM_ entry point"},
        {Cut(Dump3(kSmall, 64), 0x17), "truncated _SM3_ entry point"},
        {{0, 3, 0, 0, 0x10}, "truncated RawSMBIOSData header"},
        {longer2, "runs past the end of the file"},
        {address2, "lies past the end of the file"},
        {wrapping2, "lies past the end of the file"},
        {Dump3(kSmall, kSmallSize, 0, 0x100000020ull), "lies past the end of the file"},
        {RawSmBiosData(kSmall, kSmallSize + 1), "runs past the end of the data"},
        {RawSmBiosData(kSmall, 0xFFFFFFFFu), "runs past the end of the data"},
        {zero2, "table length of 0"},
        {anchor2, "no _DMI_ anchor"},
        {Dump3(kSmall, 0), "maximum table size of 0"},
        {RawSmBiosData(kSmall, 0), "table length of 0"},
        {Bytes(text.begin(), text.end()), "no whole SMBIOS structure"},
        {Cut(kSmall, 12), "no whole SMBIOS structure"},
        {Dump3(Bytes(64, 0), 64), "no whole SMBIOS structure"},
        {RawSmBiosData(Bytes(16, 0xFF), 16), "no whole SMBIOS structure"}};
    for (const auto& [file, error] : cases) {
        const TableFileResult r = Parse(file);
        EXPECT_FALSE(r.ok) << error;
        EXPECT_TRUE(r.table.empty()) << error;
        EXPECT_NE(r.error.find(error), std::string::npos) << r.error;
    }
}

TEST(FirmwareTable, LengthIsBoundedByWhatWasReturned) {
    Bytes answer = RawSmBiosData(kSmall, kSmallSize + 100);
    TableFileResult r = ParseFirmwareTable(answer.data(), answer.size());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);

    answer = RawSmBiosData(kSmall, static_cast<uint32_t>(kFirst.size())); // a shorter length wins
    r = ParseFirmwareTable(answer.data(), answer.size());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kFirst);

    answer.resize(7);
    r = ParseFirmwareTable(answer.data(), answer.size());
    EXPECT_NE(r.error.find("truncated RawSMBIOSData header"), std::string::npos) << r.error;
    answer = RawSmBiosData({}, 0);
    EXPECT_FALSE(ParseFirmwareTable(answer.data(), answer.size()).ok);
}
