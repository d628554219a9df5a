// The six queries over tables attached to an object directly: what they find,
// their RetVals, what they leave in the outputs, the shared enumeration
// cursor, which types are decoded, and real tables against dmidecode.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "InProcessObject.h"

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

enum Outputs { kUntouched, kEmpty };

class Query : public ::testing::Test {
protected:
    ComApartment apartment;
};

} // namespace

TEST_F(Query, EveryQueryBeforeInitializeAnswersRetVal1AndLeavesItsOutputs) {
    ComPtr<ISmBiosImpl> object = NewObject();
    for (Q q : {Q::All, Q::First, Q::Start, Q::Next, Q::Index, Q::Handle}) {
        Ask a(object.Get(), q, 0);
        EXPECT_EQ(a.hr, E_FAIL) << int(q);
        EXPECT_EQ(a.retVal, 1u) << int(q) << ": the guard comes first";
        EXPECT_TRUE(a.Untouched()) << int(q);
    }
}

TEST_F(Query, NullPointersAreRefusedWithEPointer) {
    ComPtr<ISmBiosImpl> object = WithTable(MixedTable());
    Variant names, values;
    ULONG retVal = 99;
    EXPECT_EQ(object->GetFirstInstanceOfType(0, nullptr, values.Get(), &retVal), E_POINTER);
    EXPECT_EQ(object->GetAllInstancesOfType(0, names.Get(), nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->GetNextTypeInstance(names.Get(), values.Get(), nullptr), E_POINTER);
    EXPECT_EQ(object->EnumAllInstances(0, nullptr, nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->FindInstanceByHandle(0, names.Get(), values.Get(), nullptr), E_POINTER);
    EXPECT_EQ(object->StartTypeInstanceEnum(0, nullptr), E_POINTER);
    EXPECT_EQ(names->vt, VT_EMPTY);
}

TEST_F(Query, RetValsAndOutputsOfUnsuccessfulQueries) {
    const struct {
        Q q;
        ULONG arg;
        HRESULT hr;
        ULONG retVal;
        Outputs outputs;
    } rows[] = {
        {Q::All, 13, E_FAIL, 4, kEmpty},       // no decoder
        {Q::All, 255, E_FAIL, 4, kEmpty},      // no decoder, no structure
        {Q::All, 129, E_FAIL, 3, kEmpty},      // the only one is refused by its decoder
        {Q::All, 9, S_OK, 0, kEmpty},          // a decoder, no structures: no failure
        {Q::First, 1, E_FAIL, 3, kEmpty},      // no such structure
        {Q::First, 130, E_FAIL, 3, kEmpty},    // alerting decoder, no structure
        {Q::First, 13, E_FAIL, 4, kUntouched}, // no decoder
        {Q::First, 127, E_FAIL, 4, kUntouched},
        {Q::First, 129, S_OK, 0, kEmpty},     // a refusing decoder is no failure here
        {Q::Index, 7, E_FAIL, 3, kUntouched}, // one past the end
        {Q::Index, 4, E_FAIL, 4, kUntouched}, // the type-13 structure
        {Q::Index, 0xFFFFFFFF, E_FAIL, 3, kUntouched},
        {Q::Handle, 0x7F00, E_FAIL, 3, kUntouched}, // only the marker has it
        {Q::Handle, 0x1234, E_FAIL, 3, kUntouched},
        {Q::Handle, 0x0D00, E_FAIL, 4, kUntouched},
    };
    ComPtr<ISmBiosImpl> object = WithTable(MixedTable());
    for (const auto& row : rows) {
        SCOPED_TRACE("query " + std::to_string(int(row.q)) + " " + std::to_string(row.arg));
        Ask a(object.Get(), row.q, row.arg);
        EXPECT_EQ(a.hr, row.hr);
        EXPECT_EQ(a.retVal, row.retVal);
        EXPECT_TRUE(row.outputs == kEmpty ? a.Empty() : a.Untouched());
    }
    // An enumeration of a type without decoder starts, its first step fails.
    EXPECT_EQ(Ask(object.Get(), Q::Start, 13).retVal, 0u);
    Ask next(object.Get(), Q::Next);
    EXPECT_EQ(next.hr, E_FAIL);
    EXPECT_EQ(next.retVal, 4u);
    EXPECT_TRUE(next.Untouched());

    ComPtr<ISmBiosImpl> empty = WithTable(Table({EndOfTable(0)}));
    EXPECT_EQ(Ask(empty.Get(), Q::Index, 0).retVal, 3u);
    EXPECT_EQ(Ask(empty.Get(), Q::Handle, 0).retVal, 3u);
    EXPECT_EQ(Ask(empty.Get(), Q::First, 0).retVal, 3u);
    EXPECT_EQ(Ask(empty.Get(), Q::All, 0).hr, S_OK);
}

TEST_F(Query, RetVal2OnlyBeforeTheFirstStartAndTheEndIsRetVal3ForEver) {
    ComPtr<ISmBiosImpl> object = NewObject();
    EXPECT_EQ(Ask(object.Get(), Q::Start, 4).retVal, 1u) << "a refused start does not count";
    Attach(object.Get(), MixedTable());
    Ask before(object.Get(), Q::Next);
    EXPECT_EQ(before.hr, E_FAIL);
    EXPECT_EQ(before.retVal, 2u);
    EXPECT_TRUE(before.Untouched());
    EXPECT_EQ(Ask(object.Get(), Q::All, 4).hr, S_OK);
    EXPECT_EQ(Ask(object.Get(), Q::Next).retVal, 2u) << "other queries start no enumeration";

    EXPECT_EQ(Ask(object.Get(), Q::Start, 1).retVal, 0u);
    for (int call = 0; call < 3; ++call) {
        Ask end(object.Get(), Q::Next);
        EXPECT_EQ(end.hr, S_OK);
        EXPECT_EQ(end.retVal, 3u) << "an absent type ends at once, again and again";
        EXPECT_TRUE(end.Empty());
    }
}

TEST_F(Query, RecordsBeginWithTypeLengthAndHandle) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    Ask a(object.Get(), Q::First, 0);
    ASSERT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.retVal, 0u);
    const Record r = a.Rec();
    ASSERT_EQ(r.Error(), "");
    ASSERT_GE(r.Names().size(), 4u);
    EXPECT_EQ(r.Names()[0] + L"," + r.Names()[1] + L"," + r.Names()[2], L"Type,Length,Handle");
    EXPECT_EQ(r.Value(L"Type").vt, VT_UI1);
    EXPECT_EQ(r.Value(L"Length").vt, VT_UI1);
    EXPECT_EQ(r.Value(L"Handle").vt, VT_UI2);
    EXPECT_EQ(r.Number(L"Length"), 0x18u);
    EXPECT_EQ(r.Text(L"Vendor"), L"Quarnex") << "the string set travels with the structure";
}

TEST_F(Query, EnumerationRunsInTableOrderAndStartsOver) {
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Processor(0x0401), Bios(0x0000, "Q"), Processor(0x0400), EndOfTable(0x7F00)}));
    for (int round = 0; round < 2; ++round) {
        Ask start(object.Get(), Q::Start, 4);
        EXPECT_EQ(start.hr, S_OK);
        EXPECT_EQ(start.retVal, 0u);
        EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x0401u) << "table order, not handle order";
        EXPECT_EQ(HandleOf(Ask(object.Get(), Q::Next)), 0x0400u);
        Ask end(object.Get(), Q::Next);
        EXPECT_EQ(end.hr, S_OK);
        EXPECT_EQ(end.retVal, 3u);
        EXPECT_TRUE(end.Empty());
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
    Ask next(object.Get(), Q::Next);
    EXPECT_EQ(next.retVal, 3u) << "GetAllInstancesOfType ran the cursor to the end";
    EXPECT_TRUE(next.Empty());

    // A refused structure stops GetAll there: the cursor is right behind it.
    ComPtr<ISmBiosImpl> alerting =
        WithTable(Table({Alerting(0x8100, 1), Alerting(0x8101, 7), Alerting(0x8102, 1), EndOfTable(0x7F00)}));
    Ask(alerting.Get(), Q::Start, 129);
    Ask all(alerting.Get(), Q::All, 129);
    EXPECT_EQ(all.hr, E_FAIL);
    EXPECT_EQ(all.retVal, 3u);
    EXPECT_TRUE(all.Empty()) << "no partial output";
    EXPECT_EQ(HandleOf(Ask(alerting.Get(), Q::Next)), 0x8102u);
    EXPECT_EQ(Ask(alerting.Get(), Q::Next).retVal, 3u);
}

TEST_F(Query, GetAllNestsOneRecordPerStructureInTableOrder) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    Ask a(object.Get(), Q::All, 17);
    ASSERT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.retVal, 0u);
    std::string error;
    const std::vector<Record> records = a.Nested(error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(records.size(), 4u);
    const ULONG handles[] = {0x1103, 0x1101, 0x1102, 0x1100}, sizes[] = {1024, 2048, 4096, 8192};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(records[k].Number(L"Handle"), handles[k]) << k;
        EXPECT_EQ(records[k].Number(L"Size"), sizes[k]) << "names and values of one structure " << k;
    }
    const std::vector<Record> one = Ask(object.Get(), Q::All, 0).Nested(error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(one.size(), 1u) << "one structure is still an array of one record";
    EXPECT_EQ(one[0].Text(L"Vendor"), L"Quarnex");
}

TEST_F(Query, EnumAllInstancesIndexesByTypeThenTableOrder) {
    ComPtr<ISmBiosImpl> object =
        WithTable(Table({Processor(0x0401), MemoryDevice(0x1100, 1), Baseboard(0x0200), Bios(0x0000, "Q"),
                         Processor(0x0400), EndOfTable(0x7F00), Structure(9, 0x0900, Bytes(0x0D, 0))}));
    // The structure behind the end-of-table marker is indexed too.
    const ULONG handles[] = {0x0000, 0x0200, 0x0401, 0x0400, 0x0900, 0x1100};
    for (UINT i = 0; i < 6; ++i) {
        Ask a(object.Get(), Q::Index, i);
        EXPECT_EQ(a.hr, S_OK) << i;
        EXPECT_EQ(HandleOf(a), handles[i]) << i;
    }
    Ask past(object.Get(), Q::Index, 6);
    EXPECT_EQ(past.hr, E_FAIL);
    EXPECT_EQ(past.retVal, 3u);
}

TEST_F(Query, FindInstanceByHandleTakesTheFirstStructureOfAHandle) {
    ComPtr<ISmBiosImpl> object = WithTable(
        Table({Baseboard(0x0002), Processor(0x0002), Bios(0x0001, "Q"), EndOfTable(0x0001), EndOfTable(3)}));
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 2).Rec().Number(L"Type"), 2u);
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 1).Rec().Number(L"Type"), 0u) << "the marker does not hide it";
    EXPECT_EQ(Ask(object.Get(), Q::Handle, 3).retVal, 3u);
}

TEST_F(Query, ASuccessfulQueryReplacesWhatTheOutputsHeld) {
    ComPtr<ISmBiosImpl> object = WithTable(MemoryTable());
    Variant names, values;
    ULONG retVal = 99;
    ASSERT_EQ(object->GetAllInstancesOfType(17, names.Get(), values.Get(), &retVal), S_OK);
    ASSERT_EQ(object->GetFirstInstanceOfType(4, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Number(L"Type"), 4u);
    ASSERT_EQ(object->EnumAllInstances(0, names.Get(), values.Get(), &retVal), S_OK);
    EXPECT_EQ(Record(*names.Get(), *values.Get()).Number(L"Type"), 0u);
}

TEST_F(Query, AlertingAndBiosIdentificationTypesAreDecoded) {
    const Bytes xyz = {'X', 'Y', 'Z', '!'};
    ComPtr<ISmBiosImpl> object = WithTable(Table({Alerting(0x8000, 1, 128), Alerting(0x8100, 1),
                                                  BiosIdentification(0xBC00, 8, xyz), EndOfTable(0x7F00)}));
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
        bool decodes;
    } cases[] = {
        {"marker", BiosIdentification(0xBC00, 8, kOemSignature), true},
        {"Length 9", BiosIdentification(0xBC00, 9, kOemSignature), false},
        {"other bytes", BiosIdentification(0xBC00, 8, {'8', '8', '1', '#'}), false},
        {"only in the second",
         Cat({BiosIdentification(0xBC00, 8, {0, 0, 0, 0}), BiosIdentification(0xBC01, 8, kOemSignature)}),
         false},
        {"no type 188", {}, false},
    };
    std::vector<ComPtr<ISmBiosImpl>> objects; // alive together: each decides by its own table
    for (const auto& c : cases)
        objects.push_back(WithTable(Cat({c.marker, others})));
    for (size_t k = 0; k < objects.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        ISmBiosImpl* o = objects[k].Get();
        const ULONG expected = cases[k].decodes ? 0 : 4;
        std::string error;
        Ask all(o, Q::All, 176);
        EXPECT_EQ(all.retVal, expected);
        if (cases[k].decodes) EXPECT_EQ(all.Nested(error).size(), 2u);
        EXPECT_EQ(Ask(o, Q::All, 186).retVal, expected);
        EXPECT_EQ(Ask(o, Q::First, 186).retVal, expected);
        EXPECT_EQ(Ask(o, Q::Handle, 0xB000).retVal, expected);
    }
}

// ---- real tables against dmidecode's listing of the same file ---------------

namespace {

struct Listed {
    unsigned handle, type, length;
};

std::vector<Listed> Listing(const std::string& table) {
    std::vector<Listed> listed;
    std::ifstream in(TestDataPath("real/" + table.substr(0, table.find(".bin")) + ".dmidecode.txt"));
    for (std::string line; std::getline(in, line);) {
        Listed l{};
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &l.handle, &l.type, &l.length) ==
            3)
            listed.push_back(l);
    }
    return listed;
}

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
protected:
    ComApartment apartment;
};

} // namespace

TEST_P(RealTables, EveryListedStructureIsFoundByIndexHandleAndType) {
    const std::vector<Listed> listed = Listing(GetParam());
    ASSERT_FALSE(listed.empty());
    ComPtr<ISmBiosImpl> object = WithTable(ReadFile(TestDataPath("real/" + GetParam())));

    std::vector<Listed> indexed;
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(indexed),
                 [](auto& l) { return l.type != 127; });
    std::stable_sort(indexed.begin(), indexed.end(), [](auto& a, auto& b) { return a.type < b.type; });
    std::map<unsigned, Listed> byHandle; // the first of each handle
    std::map<unsigned, size_t> counts;
    for (const Listed& l : indexed) {
        byHandle.emplace(l.handle, l);
        ++counts[l.type];
    }
    // Index and handle lookups find the structure dmidecode listed.
    auto check = [](const Ask& a, const Listed& want, const std::string& where) {
        if (!HasDecoder(want.type) && !MayRefuse(want.type)) {
            EXPECT_EQ(a.retVal, 4u) << where;
            EXPECT_TRUE(a.Untouched()) << where;
        } else if (!(MayRefuse(want.type) && (a.retVal == 4 || a.Empty()))) {
            ASSERT_EQ(a.hr, S_OK) << where;
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
        if (!HasDecoder(type)) continue;
        Ask a(object.Get(), Q::All, type);
        if (a.retVal == 3 && MayRefuse(type)) continue;
        ASSERT_EQ(a.hr, S_OK) << "type " << type;
        std::string error;
        const size_t found = counts[type] == 0 && a.Empty() ? 0 : a.Nested(error).size();
        EXPECT_EQ(error, "") << "type " << type;
        EXPECT_EQ(found, counts[type]) << "type " << type;
    }
}

INSTANTIATE_TEST_SUITE_P(Listed, RealTables, ::testing::ValuesIn(RealTableNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find(".bin"));
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
