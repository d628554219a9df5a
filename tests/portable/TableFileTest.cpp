// The table-file reader: every kind of file built around the real tables,
// and truncated or inconsistent headers, which must give an error and never
// read outside the content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TableBuilder.h"
#include "TableFile.h"

namespace {

void PutU16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Checksum(Bytes& b, size_t from, size_t length, size_t at) {
    uint8_t sum = 0;
    for (size_t i = from; i < from + length; ++i)
        sum = static_cast<uint8_t>(sum + (i == at ? 0 : b[i]));
    b[at] = static_cast<uint8_t>(0x100 - sum);
}

// What GetSystemFirmwareTable('RSMB') hands out.
Bytes RawSmBiosData(const Bytes& table, uint32_t length) {
    Bytes b{0, 3, 1, 0, 0, 0, 0, 0};
    PutU32(b, 4, length);
    b.insert(b.end(), table.begin(), table.end());
    return b;
}

// A dump with a 2.x entry point: "_SM_" ... "_DMI_", table at 0x20.
Bytes Dump2(const Bytes& table, uint32_t address = 0x20) {
    Bytes b(0x20, 0);
    std::memcpy(&b[0], "_SM_", 4);
    b[0x05] = 0x1F;
    b[0x06] = 2;
    b[0x07] = 8;
    std::memcpy(&b[0x10], "_DMI_", 5);
    PutU16(b, 0x16, static_cast<uint16_t>(table.size()));
    PutU32(b, 0x18, address);
    b[0x1E] = 0x28;
    Checksum(b, 0x10, 0x0F, 0x15);
    Checksum(b, 0x00, 0x1F, 0x04);
    b.insert(b.end(), table.begin(), table.end());
    return b;
}

// A dump with a 3.x entry point; the table at 0x20 followed by `padding` zero
// bytes, with `maxSize` as the table's maximum size.
Bytes Dump3(const Bytes& table, uint32_t maxSize, size_t padding = 0, uint64_t address = 0x20) {
    Bytes b(0x20, 0);
    std::memcpy(&b[0], "_SM3_", 5);
    b[0x06] = 0x18;
    b[0x07] = 3;
    b[0x08] = 1;
    b[0x0A] = 1;
    PutU32(b, 0x0C, maxSize);
    PutU64(b, 0x10, address);
    Checksum(b, 0x00, 0x18, 0x05);
    b.insert(b.end(), table.begin(), table.end());
    b.insert(b.end(), padding, 0);
    return b;
}

TableFileResult Parse(const Bytes& b) {
    return ParseTableFile(b.data(), b.size());
}

Bytes Prefix(const Bytes& b, size_t n) {
    return Bytes(b.begin(), b.begin() + n);
}

// The error of a rejected file, or a note that it was accepted.
std::string ErrorOf(const Bytes& b) {
    const TableFileResult r = Parse(b);
    return r.ok ? "accepted" : r.error;
}

const Bytes kSmall = Table({Structure(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"}), Structure(1, 0x0001, {4, 5}),
                            Structure(127, 0x7F00, {})});

class TableFileOnRealTables : public ::testing::Test {
protected:
    void SetUp() override {
        names = RealTableNames();
        ASSERT_GT(names.size(), 20u);
    }
    Bytes Load(const std::string& name) {
        Bytes b = ReadFile(TestDataPath("real/" + name));
        EXPECT_FALSE(b.empty()) << name;
        return b;
    }
    std::vector<std::string> names;
};

} // namespace

TEST_F(TableFileOnRealTables, EveryKindOfFileYieldsTheTableUnchanged) {
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const Bytes table = Load(name);
        ASSERT_LT(table.size(), 0x10000u); // fits a 2.x entry point
        EXPECT_EQ(WholeStructuresEnd(table.data(), table.size()), table.size());

        const struct {
            Bytes file;
            TableFileKind kind;
        } files[] = {
            {table, TableFileKind::RawTable},
            {RawSmBiosData(table, static_cast<uint32_t>(table.size())), TableFileKind::RawSmBiosData},
            {Dump2(table), TableFileKind::EntryPoint2},
            // Maximum size exactly the table, and with slack in the file.
            {Dump3(table, static_cast<uint32_t>(table.size())), TableFileKind::EntryPoint3},
            {Dump3(table, static_cast<uint32_t>(table.size()) + 256, 256), TableFileKind::EntryPoint3},
        };
        for (const auto& f : files) {
            const TableFileResult r = Parse(f.file);
            ASSERT_TRUE(r.ok) << TableFileKindName(f.kind) << ": " << r.error;
            EXPECT_EQ(r.kind, f.kind);
            EXPECT_TRUE(r.table == table) << TableFileKindName(f.kind);
        }
    }
}

TEST(TableFile, RawSmBiosDataIgnoresBytesAfterTheStatedLength) {
    Bytes file = RawSmBiosData(kSmall, static_cast<uint32_t>(kSmall.size()));
    file.insert(file.end(), {0xAA, 0xBB, 0xCC});
    const TableFileResult r = Parse(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);
}

TEST(TableFile, EntryPoint3CutsAfterTheEndOfTableOrTheLastWholeStructure) {
    // Structures after type 127 within the maximum size are not part of it.
    const Bytes after = Cat({kSmall, Structure(2, 0x0002, {9, 9})});
    TableFileResult r = Parse(Dump3(after, static_cast<uint32_t>(after.size())));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);

    // A maximum size that ends inside a structure keeps the whole ones before it.
    const Bytes noEnd = Table({Structure(0, 0, {1, 2}, {"A"}), Structure(1, 1, {3, 4}, {"B"})});
    const size_t first = Structure(0, 0, {1, 2}, {"A"}).size();
    r = Parse(Dump3(noEnd, static_cast<uint32_t>(noEnd.size() - 1)));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.table.size(), first);

    // A maximum size beyond the file is bounded by the file.
    r = Parse(Dump3(kSmall, 0x100000));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);
}

TEST(TableFile, EntryPoint2HonoursTheTableAddress) {
    Bytes file = Dump2(kSmall, 0x40);
    file.insert(file.begin() + 0x20, 0x20, 0xEE); // the table moves to 0x40
    const TableFileResult r = Parse(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);
}

TEST(TableFile, TruncatedHeadersAreErrors) {
    EXPECT_EQ(ErrorOf({}), "the file is empty");
    EXPECT_NE(ErrorOf(Prefix(Dump2(kSmall), 0x1B)).find("truncated _SM_ entry point"), std::string::npos);
    EXPECT_NE(ErrorOf(Prefix(Dump3(kSmall, 64), 0x17)).find("truncated _SM3_ entry point"),
              std::string::npos);
    EXPECT_NE(ErrorOf({0, 3, 0, 0, 0x10}).find("truncated RawSMBIOSData header"), std::string::npos);
}

TEST(TableFile, LengthsAndAddressesPastTheEndAreErrors) {
    Bytes file = Dump2(kSmall);
    PutU16(file, 0x16, static_cast<uint16_t>(kSmall.size() + 1));
    EXPECT_NE(ErrorOf(file).find("runs past the end of the file"), std::string::npos) << ErrorOf(file);

    file = Dump2(kSmall);
    PutU32(file, 0x18, static_cast<uint32_t>(file.size()));
    EXPECT_NE(ErrorOf(file).find("lies past the end of the file"), std::string::npos) << ErrorOf(file);
    // An address and length whose sum wraps around 32 bits.
    PutU32(file, 0x18, 0xFFFFFFF0u);
    EXPECT_NE(ErrorOf(file).find("lies past the end of the file"), std::string::npos) << ErrorOf(file);

    // A 64-bit address whose low half would fit.
    file = Dump3(kSmall, static_cast<uint32_t>(kSmall.size()), 0, 0x100000020ull);
    EXPECT_NE(ErrorOf(file).find("lies past the end of the file"), std::string::npos) << ErrorOf(file);

    file = RawSmBiosData(kSmall, static_cast<uint32_t>(kSmall.size() + 1));
    EXPECT_NE(ErrorOf(file).find("runs past the end of the data"), std::string::npos) << ErrorOf(file);
    file = RawSmBiosData(kSmall, 0xFFFFFFFFu);
    EXPECT_NE(ErrorOf(file).find("runs past the end of the data"), std::string::npos) << ErrorOf(file);
}

TEST(TableFile, HeadersThatPromiseNothingAreErrors) {
    Bytes file = Dump2(kSmall);
    PutU16(file, 0x16, 0);
    EXPECT_NE(ErrorOf(file).find("table length of 0"), std::string::npos);

    file = Dump2(kSmall);
    std::memcpy(&file[0x10], "_XMI_", 5);
    EXPECT_NE(ErrorOf(file).find("no _DMI_ anchor"), std::string::npos);

    EXPECT_NE(ErrorOf(Dump3(kSmall, 0)).find("maximum table size of 0"), std::string::npos);
    EXPECT_NE(ErrorOf(RawSmBiosData(kSmall, 0)).find("table length of 0"), std::string::npos);
}

TEST(TableFile, ContentWithoutAWholeFirstStructureIsAnError) {
    const std::string text = "this is not an SMBIOS table\n";
    EXPECT_NE(ErrorOf(Bytes(text.begin(), text.end())).find("no whole SMBIOS structure"), std::string::npos);
    // A first structure whose string set is cut off.
    EXPECT_NE(ErrorOf(Prefix(kSmall, 12)).find("no whole SMBIOS structure"), std::string::npos);
    // Headers that point at zero bytes.
    EXPECT_NE(ErrorOf(Dump3(Bytes(64, 0), 64)).find("no whole SMBIOS structure"), std::string::npos);
    EXPECT_NE(ErrorOf(RawSmBiosData(Bytes(16, 0xFF), 16)).find("no whole SMBIOS structure"),
              std::string::npos);
}

TEST(TableFile, EveryTruncationOfEveryKindIsHandled) {
    // Run under the sanitizers, this shows that no prefix is read past its end.
    const Bytes files[] = {kSmall, RawSmBiosData(kSmall, static_cast<uint32_t>(kSmall.size())), Dump2(kSmall),
                           Dump3(kSmall, static_cast<uint32_t>(kSmall.size()))};
    for (const Bytes& file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            std::unique_ptr<uint8_t[]> exact(new uint8_t[n ? n : 1]);
            if (n) std::memcpy(exact.get(), file.data(), n);
            const TableFileResult r = ParseTableFile(exact.get(), n);
            EXPECT_EQ(r.ok, !r.table.empty()) << n;
            if (r.ok) {
                EXPECT_GT(WholeStructuresEnd(r.table.data(), r.table.size()), 0u) << n;
                EXPECT_LE(r.table.size(), n);
            } else {
                EXPECT_FALSE(r.error.empty()) << n;
            }
        }
    }
}

TEST(FirmwareTable, LengthIsBoundedByWhatWasReturned) {
    Bytes answer = RawSmBiosData(kSmall, static_cast<uint32_t>(kSmall.size() + 100));
    TableFileResult r = ParseFirmwareTable(answer.data(), answer.size());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.table == kSmall);

    // A shorter stated length wins over the bytes returned.
    const uint32_t first = static_cast<uint32_t>(Structure(0, 0x0000, {1, 2, 3}, {"Vendor", "1.0"}).size());
    answer = RawSmBiosData(kSmall, first);
    r = ParseFirmwareTable(answer.data(), answer.size());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.table.size(), first);

    answer.resize(7);
    r = ParseFirmwareTable(answer.data(), answer.size());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("truncated RawSMBIOSData header"), std::string::npos);

    answer = RawSmBiosData({}, 0);
    EXPECT_FALSE(ParseFirmwareTable(answer.data(), answer.size()).ok);
}

TEST(WholeStructures, WalkStopsAtTheFirstBrokenStructure) {
    const Bytes first = Structure(0, 0, {1, 2}, {"A"});
    // Length byte below 4.
    const Bytes badLength = Cat({first, {1, 3, 0, 0, 0, 0}});
    EXPECT_EQ(WholeStructuresEnd(badLength.data(), badLength.size()), first.size());
    // Formatted area longer than what is left.
    const Bytes tooLong = Cat({first, {1, 40, 0, 0, 0, 0}});
    EXPECT_EQ(WholeStructuresEnd(tooLong.data(), tooLong.size()), first.size());
    // Trailing bytes shorter than a header.
    const Bytes tail = Cat({first, {1, 4}});
    EXPECT_EQ(WholeStructuresEnd(tail.data(), tail.size()), first.size());
    EXPECT_EQ(WholeStructuresEnd(nullptr, 10), 0u);
}
