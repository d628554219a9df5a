// The processor (type 4), memory controller (type 5), memory module (type 6)
// and cache (type 7) decoders: record order and value types, Length
// boundaries, strings, the memory controller's handles and enabled-ECC rule,
// and structures cut short or with counts reaching past the copy.
#include <gtest/gtest.h>

#include "RecordingSink.h"
#include "TraceRecorder.h"
#include "items/Decoders.h"

namespace {

using Names = std::vector<std::string>;

const Names kHeader = {"Type", "Length", "Handle"};

Names Concat(std::initializer_list<Names> parts) {
    Names all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Cut(Bytes body, int length) {
    body.resize(length - 4);
    return body;
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

// The processor's formatted area from offset 4, up to 0x2A: strings 1 to 3
// for socket, manufacturer and version, 4 to 6 for serial number, asset tag
// and part number, and a tail of later fields (core counts and so on).
Bytes ProcessorBody() {
    return Cat({{1, 3, 0xB3, 2},
                {0xA9, 0x06, 0x03, 0x00, 0xFF, 0xFB, 0xEB, 0xBF},
                {3, 0x8B},
                U16(100),
                U16(4000),
                U16(3600),
                {0x41, 0x2C},
                U16(0x0700),
                U16(0x0701),
                U16(0x0702),
                {4, 5, 6},
                {8, 8, 16, 0xFC, 0, 0xB3, 0}});
}
const std::initializer_list<std::string> kProcessorStrings = {"CPU1", "Intel", "Xeon E5", "SN", "AT", "PN"};

Bytes Processor(int length) {
    return Structure(4, 0x0400, Cut(ProcessorBody(), length), kProcessorStrings);
}

const Names kProcessor20 = {
    "SocketDesignation", "ProcessorType",    "ProcessorFamily", "ProcessorManufacturer",
    "ProcessorID",       "ProcessorVersion", "Voltage",         "ExternalClock",
    "MaxSpeed",          "CurrentSpeed",     "Status",          "ProcessorUpgrade"};
const Names kProcessorCaches = {"L1CacheHandle", "L2CacheHandle", "L3CacheHandle"};
const Names kProcessorStrings23 = {"SerialNumber", "AssetTag", "PartNumber"};

// The memory controller: detection 3, correction 4, interleave 4 and 2,
// module size 0x0B, speeds 0x0006, types 0x0108, voltage 2, then `slots`, the
// handle words and the rest.
Bytes MemCtrl(uint8_t slots, const Bytes& rest, int length = -1,
              std::initializer_list<std::string> strings = {}) {
    return Structure(5, 0x0005, Cat({{3, 4, 4, 2, 0x0B}, U16(0x0006), U16(0x0108), {2, slots}, rest}),
                     strings, length);
}

const Names kMemCtrl = {"ErrorDetectingMethod",
                        "ErrorCorrectingCapability",
                        "SupportedInterleave",
                        "CurrentInterleave",
                        "MaxModuleSize",
                        "SupportedSpeeds",
                        "SupportedTypes",
                        "Voltage",
                        "NrSlots"};

Bytes CacheBody() {
    return Cat({{1},
                U16(0x0180),
                U16(0x0100),
                U16(0x8010),
                U16(0x0020),
                U16(0x0010),
                {0x0F, 5, 4, 7},
                U16(0x0100),
                U16(0x8010),
                U32(0x100)});
}
Bytes Cache(int length) {
    return Structure(7, 0x0700, Cut(CacheBody(), length), {"L1 Cache"});
}
const Names kCache15 = {"SocketDesignation", "Configuration", "MaxCacheSize",
                        "InstalledSize",     "SupportedType", "CurrentType"};
const Names kCache19 = {"Speed", "ECC", "Type", "Associativity"};

} // namespace

TEST(ProcessorItem, LengthBoundaries) {
    for (int length = 0x1A; length <= 0x2A; ++length) {
        Names expected = Concat({kHeader, kProcessor20});
        if (length > 0x1A) expected = Concat({expected, kProcessorCaches});
        if (length > 0x20) expected = Concat({expected, kProcessorStrings23});
        // Lengths 27 to 31 and 33, 34 read the rest of their group from the
        // string set, where the asset tag and part number bytes are 'C' and
        // 'P' of "CPU1", no string numbers that exist.
        if (length == 0x21) expected.resize(expected.size() - 2);
        if (length == 0x22) expected.resize(expected.size() - 1);
        RecordingSink sink;
        EXPECT_EQ(DecodeBytes<CProcessorItem>(Processor(length), sink), 0);
        EXPECT_EQ(sink.Names(), expected) << "Length " << length;
    }
}

TEST(ProcessorItem, ValuesAndTypes) {
    RecordingSink sink;
    DecodeBytes<CProcessorItem>(Processor(0x23), sink);
    ASSERT_EQ(sink.attributes.size(), 21u);
    const std::vector<ValueType> types = {
        ValueType::UI1,  ValueType::UI1,  ValueType::UI2,  ValueType::Text, ValueType::UI1, ValueType::UI1,
        ValueType::Text, ValueType::Text, ValueType::Text, ValueType::UI1,  ValueType::UI2, ValueType::UI2,
        ValueType::UI2,  ValueType::UI1,  ValueType::UI1,  ValueType::UI2,  ValueType::UI2, ValueType::UI2,
        ValueType::Text, ValueType::Text, ValueType::Text};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(sink.attributes[i].type, types[i]) << sink.attributes[i].name;
    EXPECT_EQ(sink.Get("SocketDesignation").text, "CPU1");
    EXPECT_EQ(sink.Get("ProcessorType").number, 3u);
    EXPECT_EQ(sink.Get("ProcessorFamily").number, 0xB3u);
    EXPECT_EQ(sink.Get("ProcessorManufacturer").text, "Intel");
    EXPECT_EQ(sink.Get("ProcessorID").text, "BFEBFBFF000306A9");
    EXPECT_EQ(sink.Get("ProcessorVersion").text, "Xeon E5");
    EXPECT_EQ(sink.Get("Voltage").number, 0x8Bu) << "the raw byte";
    EXPECT_EQ(sink.Get("ExternalClock").number, 100u);
    EXPECT_EQ(sink.Get("MaxSpeed").number, 4000u);
    EXPECT_EQ(sink.Get("CurrentSpeed").number, 3600u);
    EXPECT_EQ(sink.Get("Status").number, 0x41u);
    EXPECT_EQ(sink.Get("ProcessorUpgrade").number, 0x2Cu);
    EXPECT_EQ(sink.Get("L1CacheHandle").number, 0x0700u);
    EXPECT_EQ(sink.Get("L3CacheHandle").number, 0x0702u);
    EXPECT_EQ(sink.Get("SerialNumber").text, "SN");
    EXPECT_EQ(sink.Get("AssetTag").text, "AT");
    EXPECT_EQ(sink.Get("PartNumber").text, "PN");
}

TEST(ProcessorItem, ProcessorIdText) {
    const std::pair<Bytes, std::string> cases[] = {
        {{0x01, 0, 0, 0, 0, 0, 0, 0}, "1"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "0"},
        {{0, 0, 0, 0, 0x10, 0, 0, 0}, "1000000000"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FFFFFFFFFFFFFFFF"},
        {{0x12, 0x0F, 0x80, 0x00, 0xFF, 0xFB, 0x8B, 0x17}, "178BFBFF00800F12"},
    };
    for (const auto& c : cases) {
        Bytes s = Processor(0x1A);
        std::copy(c.first.begin(), c.first.end(), s.begin() + 0x08);
        RecordingSink sink;
        DecodeBytes<CProcessorItem>(s, sink);
        EXPECT_EQ(sink.Get("ProcessorID").text, c.second);
    }
}

TEST(ProcessorItem, ZeroAndMissingStrings) {
    // Serial number, asset tag and part number 0: none of them, no record.
    Bytes zero = Processor(0x23);
    zero[0x20] = zero[0x21] = zero[0x22] = 0;
    RecordingSink a;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CProcessorItem>(zero, a), 0);
    EXPECT_EQ(a.Names(), Concat({kHeader, kProcessor20, kProcessorCaches}));
    EXPECT_EQ(TraceRecorder::Records().size(), 2u) << "Enter and Leave only";

    const std::pair<size_t, const char*> strings[] = {
        {0x04, "pProcessor->bSocketDesignation references an nonexisting string in smbios data"},
        {0x07, "pProcessor->bProcessorManufacturer references an nonexisting string in smbios data"},
        {0x10, "pProcessor->bProcessorVersion references an nonexisting string in smbios data"},
        {0x20, "pProcessor->bSerialNumber references an nonexisting string in smbios data"},
        {0x21, "pProcessor->bAssetTag references an nonexisting string in smbios data"},
        {0x22, "pProcessor->bPartNumber references an nonexisting string in smbios data"},
    };
    Bytes missing = Processor(0x23);
    for (const auto& s : strings)
        missing[s.first] = 7; // six strings
    RecordingSink b;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CProcessorItem>(missing, b), 0);
    EXPECT_EQ(b.attributes.size(), 21u - 6u);
    EXPECT_EQ(CountLevel(1), 6u);
    for (const auto& s : strings)
        EXPECT_EQ(TraceRecorder::Count(s.second), 1u) << s.second;
    for (const auto& r : TraceRecorder::Records())
        if (r.level == 1) {
            EXPECT_EQ(r.scope, "CProcessorItem::GetTypeInstanceData");
            EXPECT_EQ(r.category, "Leave");
        }
}

// Length 28: the first cache handle inside the formatted area, the other two
// from the string set as it stands ("CPU1" from 0x1C).
TEST(ProcessorItem, CacheHandlesBehindLengthAreReadAsTheyStand) {
    RecordingSink sink;
    DecodeBytes<CProcessorItem>(Processor(0x1C), sink);
    EXPECT_EQ(sink.Get("L1CacheHandle").number, 0x0700u);
    EXPECT_EQ(sink.Get("L2CacheHandle").number, static_cast<uint32_t>('C' | 'P' << 8));
    EXPECT_EQ(sink.Get("L3CacheHandle").number, static_cast<uint32_t>('U' | '1' << 8));
}

TEST(ProcessorItem, TruncatedCopies) {
    DecodeEveryPrefix<CProcessorItem>(Processor(0x23), 21);
    DecodeEveryPrefix<CProcessorItem>(Processor(0x1A), 15);
}

TEST(MemCtrlOldItem, TwoSlotsWithAndWithoutEnabledEcc) {
    RecordingSink with;
    EXPECT_EQ(DecodeBytes<CMemCtrlOldItem>(MemCtrl(2, Cat({U16(0x0020), U16(0x0021), {0x04}})), with), 0);
    EXPECT_EQ(with.Get("Length").number, 0x14u);
    EXPECT_EQ(with.Names(),
              Concat({kHeader, kMemCtrl, {"MemModuleHandle0", "MemModuleHandle1", "EnabledECC"}}));
    EXPECT_EQ(with.Get("MemModuleHandle0").number, 32u);
    EXPECT_EQ(with.Get("MemModuleHandle0").type, ValueType::UI2);
    EXPECT_TRUE(with.Get("MemModuleHandle0").numbered);
    EXPECT_EQ(with.Get("MemModuleHandle1").number, 33u);
    EXPECT_EQ(with.Get("EnabledECC").number, 4u);
    EXPECT_EQ(with.Get("EnabledECC").type, ValueType::UI1);
    EXPECT_EQ(with.Get("ErrorDetectingMethod").number, 3u);
    EXPECT_EQ(with.Get("SupportedSpeeds").number, 0x0006u);
    EXPECT_EQ(with.Get("SupportedSpeeds").type, ValueType::UI2);
    EXPECT_EQ(with.Get("SupportedTypes").number, 0x0108u);
    EXPECT_EQ(with.Get("NrSlots").number, 2u);
    EXPECT_EQ(with.Get("Voltage").type, ValueType::UI1);

    // The SMBIOS 2.0 size 0x0F + 2x: no enabled-ECC byte.
    RecordingSink without;
    DecodeBytes<CMemCtrlOldItem>(MemCtrl(2, Cat({U16(0x0020), U16(0x0021)})), without);
    EXPECT_EQ(without.Get("Length").number, 0x13u);
    EXPECT_EQ(without.Names(), Concat({kHeader, kMemCtrl, {"MemModuleHandle0", "MemModuleHandle1"}}));
}

TEST(MemCtrlOldItem, NoSlots) {
    RecordingSink sink;
    DecodeBytes<CMemCtrlOldItem>(MemCtrl(0, {0x09}), sink);
    EXPECT_EQ(sink.Get("Length").number, 0x10u);
    EXPECT_EQ(sink.Names(), Concat({kHeader, kMemCtrl, {"EnabledECC"}}));
    EXPECT_EQ(sink.Get("EnabledECC").number, 9u);

    RecordingSink bare;
    DecodeBytes<CMemCtrlOldItem>(MemCtrl(0, {}), bare);
    EXPECT_EQ(bare.Names(), Concat({kHeader, kMemCtrl}));
}

// A structure shorter than 0x0F + 2x still has the enabled-ECC byte (the
// difference is negative, not zero); handles and the byte are read from the
// string set as they stand.
TEST(MemCtrlOldItem, ShorterThanItsSlotsStillHasEnabledEcc) {
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CMemCtrlOldItem>(MemCtrl(3, U16(0x0030), 0x11, {"ABCDEFGH"}), sink), 0);
    EXPECT_EQ(
        sink.Names(),
        Concat(
            {kHeader, kMemCtrl, {"MemModuleHandle0", "MemModuleHandle1", "MemModuleHandle2", "EnabledECC"}}));
    EXPECT_EQ(sink.Get("MemModuleHandle0").number, 0x0030u);
    EXPECT_EQ(sink.Get("MemModuleHandle1").number, static_cast<uint32_t>('A' | 'B' << 8));
    EXPECT_EQ(sink.Get("MemModuleHandle2").number, static_cast<uint32_t>('C' | 'D' << 8));
    EXPECT_EQ(sink.Get("EnabledECC").number, static_cast<uint32_t>('E'));
}

TEST(MemCtrlOldItem, SlotCountPastTheCopyStopsTheLoop) {
    // 255 slots announced, two handle words and a byte in the copy.
    const Bytes s = MemCtrl(255, Cat({U16(0x0020), U16(0x0021), {0x04}}));
    ASSERT_EQ(s.size(), 0x14u + 2u);
    RecordingSink sink;
    EXPECT_EQ(DecodeBytes<CMemCtrlOldItem>(s, sink), 0);
    // Words at 0x0F, 0x11, 0x13 (0x04 and the first NUL) lie inside the copy.
    EXPECT_EQ(sink.Names(),
              Concat({kHeader, kMemCtrl, {"MemModuleHandle0", "MemModuleHandle1", "MemModuleHandle2"}}));
    EXPECT_EQ(sink.Get("MemModuleHandle2").number, 0x04u);
}

TEST(MemCtrlOldItem, TruncatedCopies) {
    DecodeEveryPrefix<CMemCtrlOldItem>(MemCtrl(2, Cat({U16(0x0020), U16(0x0021), {0x04}})), 15);
    DecodeEveryPrefix<CMemCtrlOldItem>(MemCtrl(255, {1, 2, 3}), 14);
}

TEST(MemModOldItem, RecordValuesAndTypes) {
    const Bytes s = Structure(6, 0x0006, Cat({{1, 0x01, 0x2A}, U16(0x0012), {0x07, 0x87, 0x02}}), {"A0"});
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CMemModOldItem>(s, sink), 0);
    EXPECT_EQ(sink.Names(), Concat({kHeader,
                                    {"SocketDesignation", "BankConnections", "CurrentSpeed", "CurrentType",
                                     "InstalledSize", "EnabledSize", "ErrorStatus"}}));
    const std::vector<ValueType> types = {ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::Text,
                                          ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::UI1,
                                          ValueType::UI1, ValueType::UI1};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(sink.attributes[i].type, types[i]) << sink.attributes[i].name;
    EXPECT_EQ(sink.Get("SocketDesignation").text, "A0");
    EXPECT_EQ(sink.Get("CurrentSpeed").number, 0x2Au);
    EXPECT_EQ(sink.Get("CurrentType").number, 0x0012u);
    EXPECT_EQ(sink.Get("EnabledSize").number, 0x87u);
    EXPECT_EQ(sink.Get("ErrorStatus").number, 2u);
    EXPECT_EQ(TraceRecorder::Records().size(), 2u);

    // String number 0 and a missing string.
    Bytes zero = s;
    zero[4] = 0;
    RecordingSink a;
    TraceRecorder::Clear();
    DecodeBytes<CMemModOldItem>(zero, a);
    EXPECT_FALSE(a.Has("SocketDesignation"));
    EXPECT_EQ(CountLevel(1), 0u);

    Bytes missing = s;
    missing[4] = 2;
    RecordingSink b;
    TraceRecorder::Clear();
    DecodeBytes<CMemModOldItem>(missing, b);
    EXPECT_FALSE(b.Has("SocketDesignation"));
    EXPECT_EQ(b.attributes.size(), 9u);
    EXPECT_EQ(TraceRecorder::Count(
                  "pMemModOld->bSocketDesignation references an nonexisting string in smbios data"),
              1u);
    EXPECT_EQ(CountLevel(1), 1u);

    DecodeEveryPrefix<CMemModOldItem>(s, 10);
}

TEST(CacheItem, LengthBoundaries) {
    for (int length = 0x0F; length <= 0x1B; ++length) {
        RecordingSink sink;
        EXPECT_EQ(DecodeBytes<CCacheItem>(Cache(length), sink), 0);
        const Names expected =
            length > 0x0F ? Concat({kHeader, kCache15, kCache19}) : Concat({kHeader, kCache15});
        EXPECT_EQ(sink.Names(), expected) << "Length " << length;
    }
}

TEST(CacheItem, ValuesTypesAndTheTwoTypeAttributes) {
    RecordingSink sink;
    DecodeBytes<CCacheItem>(Cache(0x13), sink);
    ASSERT_EQ(sink.attributes.size(), 13u);
    const std::vector<ValueType> types = {ValueType::UI1, ValueType::UI1, ValueType::UI2, ValueType::Text,
                                          ValueType::UI2, ValueType::UI2, ValueType::UI2, ValueType::UI2,
                                          ValueType::UI2, ValueType::UI1, ValueType::UI1, ValueType::UI1,
                                          ValueType::UI1};
    for (size_t i = 0; i < types.size(); ++i)
        EXPECT_EQ(sink.attributes[i].type, types[i]) << sink.attributes[i].name;
    EXPECT_EQ(sink.attributes[0].name, "Type");
    EXPECT_EQ(sink.attributes[0].number, 7u) << "structure type";
    EXPECT_EQ(sink.attributes[11].name, "Type");
    EXPECT_EQ(sink.attributes[11].number, 4u) << "system cache type";
    EXPECT_EQ(sink.Get("SocketDesignation").text, "L1 Cache");
    EXPECT_EQ(sink.Get("Configuration").number, 0x0180u);
    EXPECT_EQ(sink.Get("MaxCacheSize").number, 0x0100u);
    EXPECT_EQ(sink.Get("InstalledSize").number, 0x8010u) << "the raw word, granularity bit included";
    EXPECT_EQ(sink.Get("CurrentType").number, 0x0010u);
    EXPECT_EQ(sink.Get("Speed").number, 0x0Fu);
    EXPECT_EQ(sink.Get("ECC").number, 5u);
    EXPECT_EQ(sink.Get("Associativity").number, 7u);

    // Length 16 to 18: the rest of the group from the string set ("L1 Cache").
    RecordingSink sixteen;
    DecodeBytes<CCacheItem>(Cache(0x10), sixteen);
    EXPECT_EQ(sixteen.Get("Speed").number, 0x0Fu);
    EXPECT_EQ(sixteen.Get("ECC").number, static_cast<uint32_t>('L'));
    EXPECT_EQ(sixteen.Get("Associativity").number, static_cast<uint32_t>(' '));
}

TEST(CacheItem, MissingStringAndTruncatedCopies) {
    Bytes s = Cache(0x13);
    s[4] = 3;
    RecordingSink sink;
    TraceRecorder::Clear();
    EXPECT_EQ(DecodeBytes<CCacheItem>(s, sink), 0);
    EXPECT_FALSE(sink.Has("SocketDesignation"));
    EXPECT_EQ(
        TraceRecorder::Count("pCache->bSocketDesignation references an nonexisting string in smbios data"),
        1u);

    DecodeEveryPrefix<CCacheItem>(Cache(0x1B), 13);
    DecodeEveryPrefix<CCacheItem>(Cache(0x0F), 9);
}
