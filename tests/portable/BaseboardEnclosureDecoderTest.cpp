// The baseboard (type 2) and enclosure (type 3) decoders: record order and
// value types, Length boundaries, strings, the counted loops and their trace
// records, and structures cut short or with counts reaching past the copy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "RecordingSink.h"
#include "TraceRecorder.h"
#include "items/Decoders.h"

namespace {

using Names = std::vector<std::string>;

const char* const kBoardScope = "CBaseboardItem::GetTypeInstanceData";
const char* const kEnclosureScope = "CEnclosureItem::GetTypeInstanceData";

// The formatted area of a baseboard from offset 4: strings 1 to 6, feature
// flags 0x09, chassis handle 0x0003, board type 0x0A, handle count `n` and
// the handle words.
Bytes BoardBody(uint8_t n, std::initializer_list<uint16_t> handles) {
    Bytes body = Cat({{1, 2, 3, 4, 5, 0x09, 6}, U16(0x0003), {0x0A, n}});
    for (uint16_t h : handles)
        body = Cat({body, U16(h)});
    return body;
}

const std::initializer_list<std::string> kBoardStrings = {"Maker", "Board", "V2", "SN-1", "Tag", "Slot"};

// A baseboard whose formatted area is the first `length` bytes of the full
// one: nothing beyond Length is left of it.
Bytes Board(int length, uint8_t n = 2, std::initializer_list<uint16_t> handles = {0x0010, 0x0011}) {
    Bytes body = BoardBody(n, handles);
    body.resize(length - 4);
    return Structure(2, 0x0200, body, kBoardStrings);
}

// Level-4 records of `scope`, as "text|details".
std::vector<std::string> Internal(const char* scope) {
    std::vector<std::string> out;
    for (const auto& r : TraceRecorder::Records()) {
        if (r.scope != scope || r.level != 4) continue;
        EXPECT_EQ(r.category, "Internal");
        out.push_back(r.text + "|" + r.details);
    }
    return out;
}

size_t CountLevel(unsigned level) {
    size_t n = 0;
    for (const auto& r : TraceRecorder::Records())
        n += r.level == level ? 1 : 0;
    return n;
}

// Every prefix of `full` loaded as the structure copy decodes with result 0
// (the sanitizers catch any read past the copy); a longer prefix never yields
// fewer attributes, and the whole copy yields `complete` of them.
template <class D> void DecodeEveryPrefix(const Bytes& full, size_t complete) {
    size_t previous = 0;
    for (size_t n = 0; n <= full.size(); ++n) {
        const Bytes prefix(full.begin(), full.begin() + n); // exact-size heap block
        RecordingSink sink;
        D decoder;
        decoder.Load(prefix.data(), static_cast<uint32_t>(prefix.size()));
        EXPECT_EQ(decoder.Decode(sink), 0) << n;
        EXPECT_GE(sink.attributes.size(), previous) << n;
        previous = sink.attributes.size();
    }
    EXPECT_EQ(previous, complete);
}

// The formatted area of an enclosure from offset 4 up to the element count:
// strings 1 to 4, enclosure type 0x17 at 0x05, states 3 4 5 6, OEM dword,
// height 2, power cords 1.
Bytes EnclosureHead() {
    return Cat({{1, 0x17, 2, 3, 4}, {3, 4, 5, 6}, U32(0x12345678), {2, 1}});
}
const std::initializer_list<std::string> kEnclosureStrings = {"Case Co", "C1", "SN-9", "AT-7"};

Bytes Enclosure(int length) {
    Bytes body = Cat({EnclosureHead(), {2, 3, 0x03, 0x05, 0x07, 0x83, 0x01, 0x02}});
    body.resize(length - 4);
    return Structure(3, 0x1234, body, kEnclosureStrings);
}

} // namespace

TEST(BaseboardItem, FullRecordOrderValuesAndTypes) {
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CBaseboardItem>(Board(0x13), sink), 0);
    EXPECT_EQ(sink.Names(),
              (Names{"Type", "Length", "Handle", "Manufacturer", "Product", "Version", "SerialNumber",
                     "AssetTag", "FeatureFlags", "Location", "ChassisHandle", "BoardType",
                     "NrContainedObjHandles", "ContainedObjHandle0", "ContainedObjHandle1"}));
    const std::vector<ValueType> types = {ValueType::UI1,  ValueType::UI1,  ValueType::UI2,  ValueType::Text,
                                          ValueType::Text, ValueType::Text, ValueType::Text, ValueType::Text,
                                          ValueType::UI1,  ValueType::Text, ValueType::UI2,  ValueType::UI1,
                                          ValueType::UI1,  ValueType::UI2,  ValueType::UI2};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(sink.attributes[i].type, types[i]) << sink.attributes[i].name;
    EXPECT_EQ(sink.Get("Type").number, 2u);
    EXPECT_EQ(sink.Get("Length").number, 0x13u);
    EXPECT_EQ(sink.Get("Handle").number, 0x0200u);
    EXPECT_EQ(sink.Get("Manufacturer").text, "Maker");
    EXPECT_EQ(sink.Get("Product").text, "Board");
    EXPECT_EQ(sink.Get("Location").text, "Slot");
    EXPECT_EQ(sink.Get("FeatureFlags").number, 9u);
    EXPECT_EQ(sink.Get("ChassisHandle").number, 3u);
    EXPECT_EQ(sink.Get("BoardType").number, 0x0Au);
    EXPECT_EQ(sink.Get("NrContainedObjHandles").number, 2u);
    EXPECT_EQ(sink.Get("ContainedObjHandle0").number, 16u);
    EXPECT_EQ(sink.Get("ContainedObjHandle1").number, 17u);
    EXPECT_TRUE(sink.Get("ContainedObjHandle1").numbered);
    EXPECT_FALSE(sink.Get("ChassisHandle").numbered);
}

// Each field needs Length greater than the offset of its last byte; the
// handles need Length greater than 15.
TEST(BaseboardItem, LengthBoundaries) {
    const std::vector<std::pair<std::string, int>> fields = {
        {"Manufacturer", 5}, {"Product", 6},
        {"Version", 7},      {"SerialNumber", 8},
        {"AssetTag", 9},     {"FeatureFlags", 10},
        {"Location", 11},    {"ChassisHandle", 13},
        {"BoardType", 14},   {"NrContainedObjHandles", 15}};
    for (int length = 4; length <= 15; ++length) {
        Names expected = {"Type", "Length", "Handle"};
        for (const auto& f : fields)
            if (length >= f.second) expected.push_back(f.first);
        RecordingSink sink;
        TraceRecorder::Clear();
        EXPECT_EQ(DecodeBytes<CBaseboardItem>(Board(length, 3, {}), sink), 0);
        EXPECT_EQ(sink.Names(), expected) << "Length " << length;
        EXPECT_EQ(TraceRecorder::Count("ContainedObjHandle"), 0u) << "Length " << length;
    }
    // Length 8, the SMBIOS 2.0 size, ends after SerialNumber.
    RecordingSink eight;
    DecodeBytes<CBaseboardItem>(Board(8), eight);
    EXPECT_EQ(eight.Names().back(), "SerialNumber");

    // Length 15 with three handles announced: the count, but no handles.
    RecordingSink fifteen;
    DecodeBytes<CBaseboardItem>(Board(15, 3, {}), fifteen);
    EXPECT_EQ(fifteen.Get("NrContainedObjHandles").number, 3u);
    EXPECT_FALSE(fifteen.Has("ContainedObjHandle0"));
}

TEST(BaseboardItem, TraceRecordsOfEveryField) {
    TraceRecorder::Clear();
    RecordingSink sink;
    DecodeBytes<CBaseboardItem>(Board(0x13), sink);
    EXPECT_EQ(Internal(kBoardScope), (std::vector<std::string>{"Type|>2<",
                                                               "Length|>19<",
                                                               "Handle|>512<",
                                                               "Manufacturer|",
                                                               "Manufacturer|>Maker<",
                                                               "Product|",
                                                               "Product|>Board<",
                                                               "Version|",
                                                               "Version|>V2<",
                                                               "SerialNumber|",
                                                               "SerialNumber|>SN-1<",
                                                               "AssetTag|",
                                                               "AssetTag|>Tag<",
                                                               "FeatureFlags|",
                                                               "FeatureFlags|>9<",
                                                               "Location|",
                                                               "Loaction|>Slot<",
                                                               "ChassisHandle|",
                                                               "ChassisHanlde|>3<",
                                                               "BoardType|",
                                                               "BoardType|>10<",
                                                               "NrContainedObjHandles|",
                                                               "ContainedObjHandle|"}));
    const auto& records = TraceRecorder::Records();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records.front().category, "Enter");
    EXPECT_EQ(records.back().category, "Leave");
    EXPECT_EQ(CountLevel(1), 0u);
}

// String number 0: only the before-record. A number past the string set: the
// before-record and the level-1 record, no value record.
TEST(BaseboardItem, ZeroAndMissingStrings) {
    struct Case {
        size_t offset;
        const char* name;
        const char* trace;
        const char* missing;
    };
    const Case cases[] = {
        {0x04, "Manufacturer", "Manufacturer",
         "pBaseboard->bManufacturer references an nonexisting string in smbios data"},
        {0x05, "Product", "Product", "pBaseboard->bProduct references an nonexisting string in smbios data"},
        {0x06, "Version", "Version", "pBaseboard->bVersion references an nonexisting string in smbios data"},
        {0x07, "SerialNumber", "SerialNumber",
         "pBaseboard->bSerialNumber references an nonexisting string in smbios data"},
        {0x08, "AssetTag", "AssetTag",
         "pBaseboard->bAssetTag references an nonexisting string in smbios data"},
        {0x0A, "Location", "Loaction",
         "pBaseboard->bLocation references an nonexisting string in smbios data"},
    };
    for (const Case& c : cases) {
        Bytes zero = Board(0x13);
        zero[c.offset] = 0;
        RecordingSink a;
        TraceRecorder::Clear();
        EXPECT_EQ(DecodeBytes<CBaseboardItem>(zero, a), 0);
        EXPECT_FALSE(a.Has(c.name));
        EXPECT_EQ(a.attributes.size(), 14u) << c.name;
        EXPECT_EQ(TraceRecorder::Count(c.name), 1u) << "only the before-record for " << c.name;
        EXPECT_EQ(CountLevel(1), 0u);

        Bytes missing = Board(0x13);
        missing[c.offset] = 7; // six strings
        RecordingSink b;
        TraceRecorder::Clear();
        EXPECT_EQ(DecodeBytes<CBaseboardItem>(missing, b), 0);
        EXPECT_FALSE(b.Has(c.name));
        const auto internal = Internal(kBoardScope);
        EXPECT_EQ(std::count(internal.begin(), internal.end(), std::string(c.name) + "|"), 1);
        for (const auto& line : internal)
            EXPECT_NE(line.rfind(std::string(c.trace) + "|>", 0), 0u) << "value record for " << c.name;
        ASSERT_EQ(TraceRecorder::Count(c.missing), 1u);
        for (const auto& r : TraceRecorder::Records())
            if (r.details == c.missing) {
                EXPECT_EQ(r.level, 1u);
                EXPECT_EQ(r.category, "Leave");
                EXPECT_EQ(r.text, "");
                EXPECT_EQ(r.scope, kBoardScope);
            }
    }
}

TEST(BaseboardItem, ContainedHandles) {
    // No handles: the before-record is still written.
    RecordingSink none;
    TraceRecorder::Clear();
    DecodeBytes<CBaseboardItem>(Board(16, 0, {0xFFFF}), none);
    EXPECT_EQ(none.Get("NrContainedObjHandles").number, 0u);
    EXPECT_FALSE(none.Has("ContainedObjHandle0"));
    EXPECT_EQ(TraceRecorder::Count("ContainedObjHandle"), 1u);

    // Length 16 with two handles: the count is not compared with Length, so
    // the bytes behind the formatted area (the string set) are read as they
    // stand: 0x0F is the last formatted byte, then "Maker" from 0x10.
    RecordingSink past;
    DecodeBytes<CBaseboardItem>(Board(16, 2, {0x0010}), past);
    EXPECT_EQ(past.Get("ContainedObjHandle0").number, static_cast<uint32_t>(0x10 | 'M' << 8));
    EXPECT_EQ(past.Get("ContainedObjHandle1").number, static_cast<uint32_t>('a' | 'k' << 8));
}

TEST(BaseboardItem, HandleCountPastTheCopyStopsTheLoop) {
    // 200 handles announced; the copy is Length 0x11 plus "Maker", its NUL
    // and the closing NUL.
    const Bytes s = Structure(2, 0x0200, BoardBody(200, {0x0010}), {"Maker"});
    ASSERT_EQ(s.size(), 0x11u + 7u);
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CBaseboardItem>(s, sink), 0);
    EXPECT_EQ(sink.Get("NrContainedObjHandles").number, 200u);
    // Handles at 0x0F, 0x11, 0x13, 0x15 lie inside the 24-byte copy; 0x17 does not.
    EXPECT_TRUE(sink.Has("ContainedObjHandle3"));
    EXPECT_FALSE(sink.Has("ContainedObjHandle4"));
    EXPECT_EQ(sink.Get("ContainedObjHandle3").number, static_cast<uint32_t>('r' | 0 << 8));
}

TEST(BaseboardItem, ChassisHandleValueRecord) {
    TraceRecorder::Clear();
    RecordingSink sink;
    DecodeBytes<CBaseboardItem>(Board(14), sink);
    EXPECT_EQ(sink.Get("ChassisHandle").number, 3u);
    bool found = false;
    for (const auto& r : TraceRecorder::Records())
        if (r.text == "ChassisHanlde") {
            found = true;
            EXPECT_EQ(r.details, ">3<");
            EXPECT_EQ(r.level, 4u);
        }
    EXPECT_TRUE(found);
    EXPECT_EQ(TraceRecorder::Count("ChassisHandle"), 1u) << "the before-record is spelled right";
}

TEST(BaseboardItem, TruncatedCopies) {
    DecodeEveryPrefix<CBaseboardItem>(Board(0x13), 15);
    // No strings, 255 handles announced, one inside the copy.
    DecodeEveryPrefix<CBaseboardItem>(Structure(2, 1, Cat({BoardBody(255, {}), {0x44}}), {}), 8);
}

TEST(EnclosureItem, Length9EndsWithAssetTag) {
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(Enclosure(9), sink), 0);
    EXPECT_EQ(sink.Names(), (Names{"Type", "Length", "Handle", "Manufacturer", "Type", "Version",
                                   "SerialNumber", "AssetTag"}));
    EXPECT_EQ(sink.attributes[0].number, 3u) << "structure type";
    EXPECT_EQ(sink.attributes[4].number, 0x17u) << "enclosure type";
    EXPECT_EQ(sink.attributes[4].type, ValueType::UI1);
    EXPECT_EQ(sink.Get("Manufacturer").text, "Case Co");
    EXPECT_EQ(sink.Get("AssetTag").text, "AT-7");
}

TEST(EnclosureItem, FullRecordWithElements) {
    const Bytes s = Enclosure(0x1B);
    CEnclosureItem decoder;
    decoder.Load(s.data(), static_cast<uint32_t>(s.size()));
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(decoder.Decode(sink), 0);
    EXPECT_EQ(sink.Names(),
              (Names{"Type", "Length", "Handle", "Manufacturer", "Type", "Version", "SerialNumber",
                     "AssetTag", "BootupState", "PowerSupplyState", "ThermalState", "SecurityStatus",
                     "OEMDefined", "Height", "NrPowerCords", "NrContainedElements", "LenContainedElements",
                     "ContainedElements0", "ContainedElements1"}));
    EXPECT_EQ(sink.Get("OEMDefined").type, ValueType::UI4);
    EXPECT_EQ(sink.Get("OEMDefined").number, 0x12345678u);
    EXPECT_EQ(sink.Get("SecurityStatus").number, 6u);
    EXPECT_EQ(sink.Get("Height").number, 2u);
    EXPECT_EQ(sink.Get("NrContainedElements").number, 2u);
    EXPECT_EQ(sink.Get("LenContainedElements").number, 3u);
    EXPECT_EQ(sink.Get("ContainedElements0").type, ValueType::Bytes);
    EXPECT_EQ(sink.Get("ContainedElements0").bytes, (Bytes{0x03, 0x05, 0x07}));
    EXPECT_EQ(sink.Get("ContainedElements1").bytes, (Bytes{0x83, 0x01, 0x02}));
    EXPECT_TRUE(sink.Get("ContainedElements1").numbered);

    // Header records, then the loop: one record per byte with j and the
    // address of that byte in the structure copy.
    std::vector<std::string> expected = {"|Header of this SMBios Type Instance", "|Type: 3", "|Length: 27",
                                         "|Handle: 4660", "|Having 2 ContainedElements ..."};
    for (int k = 0; k < 6; ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "|Loop: %d; pByte: 0x%p", k % 3,
                      static_cast<const void*>(decoder.Data() + 0x15 + k));
        expected.push_back(line);
    }
    expected.push_back("|Done ContainedElements ...");
    EXPECT_EQ(Internal(kEnclosureScope), expected);
}

// Conditions on Length only. At Length 20 the record length is read from
// the string set ('C' of "Case Co", 67) and no element fits in the copy; from
// Length 21 on the elements are read from the string set as they stand.
TEST(EnclosureItem, LengthBoundaries) {
    const std::vector<std::pair<std::string, int>> fields = {
        {"BootupState", 10},        {"PowerSupplyState", 10},    {"ThermalState", 10},
        {"SecurityStatus", 10},     {"OEMDefined", 14},          {"Height", 18},
        {"NrPowerCords", 18},       {"NrContainedElements", 20}, {"LenContainedElements", 20},
        {"ContainedElements0", 21}, {"ContainedElements1", 21}};
    for (int length = 9; length <= 0x1B; ++length) {
        Names expected = {"Type", "Length",  "Handle",       "Manufacturer",
                          "Type", "Version", "SerialNumber", "AssetTag"};
        for (const auto& f : fields)
            if (length >= f.second) expected.push_back(f.first);
        RecordingSink sink;
        EXPECT_EQ(DecodeBytes<CEnclosureItem>(Enclosure(length), sink), 0);
        EXPECT_EQ(sink.Names(), expected) << "Length " << length;
    }
}

TEST(EnclosureItem, NoElements) {
    Bytes s = Structure(3, 1, Cat({EnclosureHead(), {0, 3}}), kEnclosureStrings);
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(s, sink), 0);
    EXPECT_EQ(sink.Get("NrContainedElements").number, 0u);
    EXPECT_TRUE(sink.Has("LenContainedElements"));
    EXPECT_FALSE(sink.Has("ContainedElements0"));
    EXPECT_EQ(Internal(kEnclosureScope).size(), 4u) << "only the header records";
}

TEST(EnclosureItem, RecordLengthZeroGivesEmptyArrays) {
    Bytes s = Structure(3, 1, Cat({EnclosureHead(), {3, 0}}), kEnclosureStrings);
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(s, sink), 0);
    for (const char* name : {"ContainedElements0", "ContainedElements1", "ContainedElements2"}) {
        EXPECT_EQ(sink.Get(name).type, ValueType::Bytes);
        EXPECT_TRUE(sink.Get(name).bytes.empty());
    }
    EXPECT_FALSE(sink.Has("ContainedElements3"));
    EXPECT_EQ(Internal(kEnclosureScope),
              (std::vector<std::string>{"|Header of this SMBios Type Instance", "|Type: 3", "|Length: 21",
                                        "|Handle: 1", "|Having 3 ContainedElements ...",
                                        "|Done ContainedElements ..."}));
}

// Five elements of four bytes announced in a structure whose copy holds the
// formatted area up to 0x1C, one string and the closing NULs: the elements
// that lie inside the copy are emitted (the third one from the string set,
// as it stands), the loop stops at the first one that does not.
TEST(EnclosureItem, ElementsPastTheCopyStopTheLoop) {
    Bytes body = Cat({EnclosureHead(), {5, 4}, {1, 2, 3, 4, 5, 6, 7, 8}});
    const Bytes s = Structure(3, 1, body, {"ABC"}); // 0x1D + "ABC\0" + "\0" = 34 bytes
    ASSERT_EQ(s.size(), 34u);
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(s, sink), 0);
    EXPECT_EQ(sink.Get("ContainedElements1").bytes, (Bytes{5, 6, 7, 8}));
    EXPECT_EQ(sink.Get("ContainedElements2").bytes, (Bytes{'A', 'B', 'C', 0}));
    EXPECT_FALSE(sink.Has("ContainedElements3")) << "0x21..0x24 is not inside the 34-byte copy";
    EXPECT_EQ(TraceRecorder::Count("Done ContainedElements ..."), 1u);

    // 255 elements of 255 bytes: nothing but the first (partial) one is tried.
    Bytes huge = Structure(3, 1, Cat({EnclosureHead(), {255, 255}}), {});
    RecordingSink hugeSink;
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(huge, hugeSink), 0);
    EXPECT_FALSE(hugeSink.Has("ContainedElements0"));
}

TEST(EnclosureItem, ZeroAndMissingStrings) {
    const std::pair<size_t, const char*> strings[] = {
        {0x04, "pEnclosure->bManufacturer references an nonexisting string in smbios data"},
        {0x06, "pEnclosure->bVersion references an nonexisting string in smbios data"},
        {0x07, "pEnclosure->bSerialNumber references an nonexisting string in smbios data"},
        {0x08, "pEnclosure->bAssetTag references an nonexisting string in smbios data"},
    };
    const Bytes base = Structure(3, 1, Cat({EnclosureHead(), {0, 3}}), kEnclosureStrings);
    Bytes zero = base;
    Bytes missing = base;
    for (const auto& s : strings) {
        zero[s.first] = 0;
        missing[s.first] = 5; // four strings
    }
    RecordingSink a;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(zero, a), 0);
    EXPECT_EQ(a.Names(), (Names{"Type", "Length", "Handle", "Type", "BootupState", "PowerSupplyState",
                                "ThermalState", "SecurityStatus", "OEMDefined", "Height", "NrPowerCords",
                                "NrContainedElements", "LenContainedElements"}));
    EXPECT_EQ(CountLevel(1), 0u);

    RecordingSink b;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CEnclosureItem>(missing, b), 0);
    EXPECT_EQ(b.Names(), a.Names());
    EXPECT_EQ(CountLevel(1), 4u);
    for (const auto& s : strings)
        EXPECT_EQ(TraceRecorder::Count(s.second), 1u) << s.second;
}

TEST(EnclosureItem, TruncatedCopies) {
    DecodeEveryPrefix<CEnclosureItem>(Enclosure(0x1B), 19);
    DecodeEveryPrefix<CEnclosureItem>(Structure(3, 1, Cat({EnclosureHead(), {200, 3}}), {"x"}), 15);
}
