// The six queries over tables attached to an object directly: what they find,
// their RetVals, what they leave in the outputs, the shared enumeration
// cursor, which types are decoded, and real tables against dmidecode.
#include <algorithm>
#include <map>

#include "ComTestSupport.h"

namespace {

// Index order: 0, 2, 4, 4, 13, 17, 129; the marker is not indexed.
Bytes MixedTable() {
    return Table({Bios(0x0000, "Quarnex"), Processor(0x0400), Baseboard(0x0200), NoDecoder(0x0D00),
                  Processor(0x0401), Alerting(0x8100, 2), MemoryDevice(0x1100, 4096), EndOfTable(0x7F00)});
}
// Memory devices whose handles do not follow table order.
Bytes MemoryTable() {
    return Table({Bios(0x0000, "Quarnex"), MemoryDevice(0x1103, 1024), Processor(0x0400),
                  MemoryDevice(0x1101, 2048), MemoryDevice(0x1102, 4096), Baseboard(0x0200),
                  MemoryDevice(0x1100, 8192), EndOfTable(0xFFFE)});
}

ULONG HandleOf(const Ask& a) {
    return a.Rec().Error().empty() && a.Rec().Has(L"Handle") ? a.Rec().Number(L"Handle") : 0xDEAD;
}

class Query : public ::testing::Test {
protected:
    ComApartment apartment;
};

} // namespace

TEST_F(Query, GuardsComeFirstAndNullPointersAreRefused) {
    ComPtr<ISmBiosImpl> object = NewObject();
    for (Q q : {Q::All, Q::First, Q::Start, Q::Next, Q::Index, Q::Handle})
        EXPECT_EQ(Ask(object.Get(), q).Outcome(), "E_FAIL 1 untouched")
            << "before Initialize, query " << int(q);

    Attach(object.Get(), MixedTable());
    Variant names, values;
    ULONG retVal = 99;
    EXPECT_EQ(object->GetFirstInstanceOfType(0, nullptr, values.Get(), &retVal), E_POINTER);
    EXPECT_EQ(object->GetAllInstancesOfType(0, names.Get(), nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->GetNextTypeInstance(names.Get(), values.Get(), nullptr), E_POINTER);
    EXPECT_EQ(object->EnumAllInstances(0, nullptr, nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->FindInstanceByHandle(0, names.Get(), values.Get(), nullptr), E_POINTER);
    EXPECT_EQ(object->StartTypeInstanceEnum(0, nullptr), E_POINTER);
}

TEST_F(Query, RetValsAndOutputsOfUnsuccessfulQueries) {
    const struct {
        Q q;
        ULONG arg;
        const char* outcome;
    } rows[] = {
        {Q::All, 13, "E_FAIL 4 empty"},       // no decoder
        {Q::All, 255, "E_FAIL 4 empty"},      // no decoder, no structure
        {Q::All, 129, "E_FAIL 3 empty"},      // the only one is refused by its decoder
        {Q::All, 9, "S_OK 0 empty"},          // a decoder, no structures: no failure
        {Q::First, 1, "E_FAIL 3 empty"},      // no such structure
        {Q::First, 130, "E_FAIL 3 empty"},    // a decoder, no structure
        {Q::First, 13, "E_FAIL 4 untouched"}, // no decoder
        {Q::First, 127, "E_FAIL 4 untouched"},
        {Q::First, 129, "S_OK 0 empty"},     // a refusing decoder is no failure here
        {Q::Index, 7, "E_FAIL 3 untouched"}, // one past the end
        {Q::Index, 4, "E_FAIL 4 untouched"}, // the type-13 structure
        {Q::Index, 0xFFFFFFFF, "E_FAIL 3 untouched"},
        {Q::Handle, 0x7F00, "E_FAIL 3 untouched"}, // only the marker has it
        {Q::Handle, 0x1234, "E_FAIL 3 untouched"},
        {Q::Handle, 0x0D00, "E_FAIL 4 untouched"},
        {Q::Start, 13, "S_OK 0 untouched"}, // the type is not checked here ...
        {Q::Next, 0, "E_FAIL 4 untouched"}, // ... but by the first step
    };
    ComPtr<ISmBiosImpl> object = WithTable(MixedTable());
    for (const auto& row : rows)
        EXPECT_EQ(Ask(object.Get(), row.q, row.arg).Outcome(), row.outcome) << int(row.q) << " " << row.arg;

    ComPtr<ISmBiosImpl> empty = WithTable(Table({EndOfTable(0)}));
    EXPECT_EQ(Ask(empty.Get(), Q::Index, 0).Outcome(), "E_FAIL 3 untouched");
    EXPECT_EQ(Ask(empty.Get(), Q::Handle, 0).Outcome(), "E_FAIL 3 untouched");
    EXPECT_EQ(Ask(empty.Get(), Q::First, 0).Outcome(), "E_FAIL 3 empty");
    EXPECT_EQ(Ask(empty.Get(), Q::All, 0).Outcome(), "S_OK 0 empty");
}

TEST_F(Query, RetVal2OnlyBeforeTheFirstStartAndTheEndIsRetVal3ForEver) {
    ComPtr<ISmBiosImpl> object = NewObject();
    EXPECT_EQ(Ask(object.Get(), Q::Start, 4).retVal, 1u) << "a refused start does not count";
    Attach(object.Get(), MixedTable());
    EXPECT_EQ(Ask(object.Get(), Q::Next).Outcome(), "E_FAIL 2 untouched");
    EXPECT_EQ(Ask(object.Get(), Q::All, 4).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Next).retVal, 2u) << "other queries start no enumeration";
    EXPECT_EQ(Ask(object.Get(), Q::Start, 1).retVal, 0u);
    for (int call = 0; call < 3; ++call)
        EXPECT_EQ(Ask(object.Get(), Q::Next).Outcome(), "S_OK 3 empty")
            << "an absent type ends at once, again";
}

TEST_F(Query, RecordsBeginWithTypeLengthAndHandle) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    Ask a(object.Get(), Q::First, 0);
    EXPECT_EQ(a.Outcome(), "S_OK 0 record");
    const Record r = a.Rec();
    ASSERT_EQ(r.Error(), "");
    ASSERT_GE(r.Names().size(), 4u);
    EXPECT_EQ(r.Names()[0] + L"," + r.Names()[1] + L"," + r.Names()[2], L"Type,Length,Handle");
    EXPECT_EQ(r.Values()[0].vt, VT_UI1);
    EXPECT_EQ(r.Values()[1].vt, VT_UI1);
    EXPECT_EQ(r.Values()[2].vt, VT_UI2);
    EXPECT_EQ(r.Number(L"Length"), 0x18u);
    EXPECT_EQ(r.Text(L"Vendor"), L"Quarnex") << "the string set travels with the structure";

    // A successful query replaces what its outputs held.
    Variant names, values;
    ULONG retVal = 99;
    ASSERT_EQ(object->GetAllInstancesOfType(17, names.Get(), values.Get(), &retVal), S_OK);
    ASSERT_EQ(object->GetFirstInstanceOfType(4, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Number(L"Type"), 4u);
}

TEST_F(Query, EnumerationRunsInTableOrderAndStartsOver) {
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Processor(0x0401), Bios(0x0000, "Q"), Processor(0x0400), EndOfTable(0x7F00)}));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Ask(object.Get(), Q::Start, 4).Outcome(), "S_OK 0 untouched");
        EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x0401u) << "table order, not handle order";
        EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x0400u);
        EXPECT_EQ(Ask(object.Get(), Q::Next).Outcome(), "S_OK 3 empty");
    }
}

TEST_F(Query, GetAllMovesTheSharedCursorAndLookupsDoNot) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    Ask(object.Get(), Q::Start, 17);
    EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x1103u);
    for (auto [q, arg] : {std::pair{Q::First, 17u},
                          {Q::First, 4u},
                          {Q::Index, 0u},
                          {Q::Index, 5u},
                          {Q::Handle, 0x1100u},
                          {Q::Handle, 0x0400u}})
        EXPECT_EQ(Ask(object.Get(), q, arg).hr, S_OK);
    EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x1101u) << "lookups left the cursor alone";
    EXPECT_EQ(Ask(object.Get(), Q::All, 2).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Next).Outcome(), "S_OK 3 empty") << "GetAll ran the cursor to the end";

    // A refused structure stops GetAll: the cursor is right behind it.
    ComPtr<ISmBiosImpl> alerting =
        WithTable(Table({Alerting(0x8100, 1), Alerting(0x8101, 7), Alerting(0x8102, 1), EndOfTable(0x7F00)}));
    Ask(alerting.Get(), Q::Start, 129);
    EXPECT_EQ(Ask(alerting.Get(), Q::All, 129).Outcome(), "E_FAIL 3 empty") << "no partial output";
    EXPECT_EQ(HandleOf(Ask(alerting.Get(), Q::Next)), 0x8102u);
    EXPECT_EQ(Ask(alerting.Get(), Q::Next).retVal, 3u);
}

TEST_F(Query, GetAllNestsOneRecordPerStructureInTableOrder) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    std::string error;
    const std::vector<Record> records = Ask(object.Get(), Q::All, 17).Nested(error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(records.size(), 4u);
    const ULONG handles[] = {0x1103, 0x1101, 0x1102, 0x1100}, sizes[] = {1024, 2048, 4096, 8192};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(records[k].Number(L"Handle"), handles[k]) << k;
        EXPECT_EQ(records[k].Number(L"Size"), sizes[k]) << "names and values of one structure " << k;
    }
    const std::vector<Record> one = Ask(object.Get(), Q::All, 0).Nested(error);
    ASSERT_EQ(one.size(), 1u) << "one structure is still an array of one record";
    EXPECT_EQ(one[0].Text(L"Vendor"), L"Quarnex");
}

TEST_F(Query, IndexRunsByTypeThenTableOrderAndAHandleFindsItsFirstStructure) {
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Processor(0x0401), MemoryDevice(0x1100, 1), Baseboard(0x0200), Bios(0x0000, "Q"),
                         Processor(0x0400), EndOfTable(0x7F00), Structure(9, 0x0900, Bytes(0x0D, 0))}));
    // The structure behind the end-of-table marker is indexed too.
    const ULONG handles[] = {0x0000, 0x0200, 0x0401, 0x0400, 0x0900, 0x1100};
    for (UINT i = 0; i < 6; ++i)
        EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Index, i)), handles[i]) << i;
    EXPECT_EQ(Ask(object.Get(), Q::Index, 6).Outcome(), "E_FAIL 3 untouched");

    object = WithTable(Table({Baseboard(2), Processor(2), Bios(1, "Q"), EndOfTable(1), EndOfTable(3)}));
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 2).Rec().Number(L"Type"), 2u);
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 1).Rec().Number(L"Type"), 0u) << "the marker does not hide it";
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 3).retVal, 3u);
}

TEST_F(Query, AlertingAndBiosIdentificationTypesAreDecoded) {
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Alerting(0x8000, 1, 128), Alerting(0x8100, 1),
                         BiosIdentification(0xBC00, 8, {'X', 'Y', 'Z', '!'}), EndOfTable(0x7F00)}));
    for (BYTE type : {128, 129}) {
        const Record r = Ask(object.Get(), Q::First, type).Rec();
        EXPECT_EQ(r.Number(L"Type"), type);
        EXPECT_EQ(r.Number(L"StructureVersion"), 1u) << "an alerting record";
        EXPECT_TRUE(r.Has(L"Attributes"));
    }
    EXPECT_EQ(Ask(object.Get(), Q::First, 188).Rec().Number(L"MagicBiosIdentifier"), 0x215A5958u)
        << "decoded without the OEM marker too";
}

TEST_F(Query, OemTypesNeedTheMarkerInTheFirstBiosIdentificationOfTheObjectsTable) {
    const Bytes others =
        Cat({Structure(176, 0xB000, Bytes(0x0C, 0x11)), Structure(176, 0xB001, Bytes(0x0C, 0x11)),
             Structure(186, 0xBA00, Bytes(0x0B, 0x22)), EndOfTable(0x7F00)});
    const struct {
        const char* name;
        Bytes marker;
    } cases[] = {
        {"marker", BiosIdentification(0xBC00, 8, kOemSignature)},
        {"Length 9", BiosIdentification(0xBC00, 9, kOemSignature)},
        {"other bytes", BiosIdentification(0xBC00, 8, {'8', '8', '1', '#'})},
        {"only in the second",
         Cat({BiosIdentification(0xBC00, 8, {0}), BiosIdentification(0xBC01, 8, kOemSignature)})},
        {"no type 188", {}},
    };
    std::vector<ComPtr<ISmBiosImpl>> objects; // alive together: each decides by its own table
    for (const auto& c : cases)
        objects.push_back(WithTable(Cat({c.marker, others})));
    for (size_t k = 0; k < objects.size(); ++k) {
        const std::string expected = k == 0 ? "S_OK 0 record" : "E_FAIL 4 ";
        std::string error;
        EXPECT_EQ(Ask(objects[k].Get(), Q::All, 176).Nested(error).size(), k == 0 ? 2u : 0u) << cases[k].name;
        for (auto [q, arg] : {std::pair{Q::All, 186u}, {Q::First, 186u}, {Q::Handle, 0xB000u}})
            EXPECT_EQ(Ask(objects[k].Get(), q, arg).Outcome().substr(0, expected.size()), expected)
                << cases[k].name;
    }
}

// ---- real tables against dmidecode's listing of the same file ---------------

namespace {

struct Listed {
    unsigned handle, type, length;
};

bool HasDecoder(unsigned type) {
    return type <= 12 || type == 16 || type == 17 || type == 39 || (type >= 128 && type <= 130) ||
           type == 188;
}
// Vendors reuse these types: their decoders refuse layouts they do not know,
// and 176/186 are decoded only with the OEM marker.
bool MayRefuse(unsigned type) {
    return (type >= 128 && type <= 130) || type == 176 || type == 186;
}

class RealTables : public ::testing::TestWithParam<std::string> {
    ComApartment apartment;
};

} // namespace

TEST_P(RealTables, EveryListedStructureIsFoundByIndexHandleAndType) {
    std::vector<Listed> indexed; // dmidecode's listing without markers, by type
    std::ifstream in(
        TestDataPath("real/" + GetParam().substr(0, GetParam().find(".bin")) + ".dmidecode.txt"));
    for (std::string line; std::getline(in, line);) {
        Listed l{};
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &l.handle, &l.type, &l.length) ==
                3 &&
            l.type != 127)
            indexed.push_back(l);
    }
    ASSERT_FALSE(indexed.empty());
    std::stable_sort(indexed.begin(), indexed.end(), [](auto& a, auto& b) { return a.type < b.type; });
    std::map<unsigned, Listed> byHandle; // the first of each handle
    std::map<unsigned, size_t> counts;
    for (const Listed& l : indexed) {
        byHandle.emplace(l.handle, l);
        ++counts[l.type];
    }
    ComPtr<ISmBiosImpl> object = WithTable(ReadFile(TestDataPath("real/" + GetParam())));
    auto check = [](const Ask& a, const Listed& want, const std::string& where) {
        if (!HasDecoder(want.type) && !MayRefuse(want.type))
            EXPECT_EQ(a.Outcome(), "E_FAIL 4 untouched") << where;
        else if (MayRefuse(want.type) && a.Outcome() != "S_OK 0 record") // refused, or no OEM marker
            EXPECT_TRUE(a.Outcome() == "S_OK 0 empty" || a.Outcome() == "E_FAIL 4 untouched") << where;
        else {
            const Record r = a.Rec();
            EXPECT_EQ(r.Error(), "") << where;
            EXPECT_EQ(r.Number(L"Type"), want.type) << where;
            EXPECT_EQ(r.Number(L"Handle"), want.handle) << where;
            EXPECT_EQ(r.Number(L"Length"), want.length) << where;
        }
    };
    for (UINT i = 0; i < indexed.size(); ++i)
        check(Ask(object.Get(), Q::Index, i), indexed[i], "index " + std::to_string(i));
    EXPECT_EQ(Ask(object.Get(), Q::Index, static_cast<ULONG>(indexed.size())).retVal, 3u);
    for (const auto& [handle, want] : byHandle)
        check(Ask(object.Get(), Q::Handle, handle), want, "handle " + std::to_string(handle));

    for (unsigned type = 0; type < 256; ++type) {
        Ask a(object.Get(), Q::All, type);
        if (!HasDecoder(type) || (a.retVal == 3 && MayRefuse(type))) continue;
        std::string error;
        EXPECT_EQ(a.hr, S_OK) << "type " << type;
        EXPECT_EQ(a.Empty() ? 0 : a.Nested(error).size(), counts[type]) << "type " << type << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Listed, RealTables, ::testing::ValuesIn(RealTableNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find(".bin"));
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                             return name;
                         });
