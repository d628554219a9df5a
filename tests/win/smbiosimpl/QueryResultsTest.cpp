// What the queries find: the enumeration and its shared cursor, the nested
// arrays of GetAllInstancesOfType, the order of EnumAllInstances and the
// handle lookup.
#include "QueryFixture.h"

namespace {

class QueryResults : public ::testing::Test {
protected:
    // The handle of the record in `out`, or -1 with the reason reported.
    long HandleIn(const Outputs& o) {
        Record r(o.NamesRef(), o.ValuesRef());
        EXPECT_EQ(r.Error(), "");
        return r.Has(L"Handle") ? static_cast<long>(r.Number(L"Handle")) : -1;
    }

    ComApartment apartment;
    Outputs out;
    ULONG retVal = 99;
};

// Four memory devices whose handles do not follow table order, mixed with
// other structures.
Bytes MemoryTable() {
    return Table({Bios(0x0000, "Quarnex"), MemoryDevice(0x1103, 1024), Processor(0x0400),
                  MemoryDevice(0x1101, 2048), MemoryDevice(0x1102, 4096), Baseboard(0x0200),
                  MemoryDevice(0x1100, 8192), EndOfTable(0xFFFE)});
}

} // namespace

TEST_F(QueryResults, RecordsBeginWithTheHeaderAttributes) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MemoryTable());
    ASSERT_EQ(object->GetFirstInstanceOfType(0, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    Record r(out.NamesRef(), out.ValuesRef());
    ASSERT_EQ(r.Error(), "");
    ASSERT_GE(r.Size(), 3u);
    EXPECT_EQ(r.Names()[0], L"Type");
    EXPECT_EQ(r.Names()[1], L"Length");
    EXPECT_EQ(r.Names()[2], L"Handle");
    EXPECT_EQ(r.Value(L"Type").vt, VT_UI1);
    EXPECT_EQ(r.Value(L"Handle").vt, VT_UI2);
    EXPECT_EQ(r.Number(L"Length"), 0x18u);
    EXPECT_EQ(r.Value(L"Vendor").text, L"Quarnex") << "the string set travels with the structure";
}

TEST_F(QueryResults, EnumerationOfTwoProcessorsEndsWithRetVal3AndSOk) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(
        Table({Processor(0x0401), Bios(0x0000, "Q"), Processor(0x0400), EndOfTable(0x7F00)}));
    ASSERT_EQ(object->StartTypeInstanceEnum(4, &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);

    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(HandleIn(out), 0x0401) << "table order, not handle order";
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(HandleIn(out), 0x0400);
    retVal = 99;
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Empty()) << "the previous record is cleared away";

    // Starting again restarts the enumeration.
    ASSERT_EQ(object->StartTypeInstanceEnum(4, &retVal), S_OK);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(HandleIn(out), 0x0401);
}

TEST_F(QueryResults, GetAllInstancesOfTypeMovesTheSharedCursor) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MemoryTable());
    ASSERT_EQ(object->StartTypeInstanceEnum(17, &retVal), S_OK);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(HandleIn(out), 0x1103);

    Outputs all;
    ASSERT_EQ(object->GetAllInstancesOfType(2, all.Names(), all.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    for (int call = 0; call < 2; ++call) {
        out.Refill();
        retVal = 99;
        EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
        EXPECT_EQ(retVal, 3u) << "the pending enumeration of type 17 lost its place";
        EXPECT_TRUE(out.Empty());
    }
}

TEST_F(QueryResults, ProcessorEnumerationAfterGetAllOfBaseboardsEnds) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(
        Table({Processor(0x0400), Baseboard(0x0200), Processor(0x0401), EndOfTable(0x7F00)}));
    ASSERT_EQ(object->StartTypeInstanceEnum(4, &retVal), S_OK);
    Outputs all;
    ASSERT_EQ(object->GetAllInstancesOfType(2, all.Names(), all.Values(), &retVal), S_OK);
    retVal = 99;
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Empty());
}

TEST_F(QueryResults, LookupsLeaveTheCursorWhereItIs) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MemoryTable());
    ASSERT_EQ(object->StartTypeInstanceEnum(17, &retVal), S_OK);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(HandleIn(out), 0x1103);

    Outputs other;
    EXPECT_EQ(object->GetFirstInstanceOfType(17, other.Names(), other.Values(), &retVal), S_OK);
    EXPECT_EQ(object->GetFirstInstanceOfType(4, other.Names(), other.Values(), &retVal), S_OK);
    EXPECT_EQ(object->EnumAllInstances(0, other.Names(), other.Values(), &retVal), S_OK);
    EXPECT_EQ(object->EnumAllInstances(5, other.Names(), other.Values(), &retVal), S_OK);
    EXPECT_EQ(object->FindInstanceByHandle(0x1100, other.Names(), other.Values(), &retVal), S_OK);
    EXPECT_EQ(object->FindInstanceByHandle(0x0400, other.Names(), other.Values(), &retVal), S_OK);

    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(HandleIn(out), 0x1101);
}

TEST_F(QueryResults, GetAllInstancesOfTypeNestsOneRecordPerStructureInTableOrder) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MemoryTable());
    ASSERT_EQ(object->GetAllInstancesOfType(17, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(ElementCount(out.NamesRef()), 4);
    EXPECT_EQ(ElementCount(out.ValuesRef()), 4);
    std::string error;
    const std::vector<Record> records = NestedRecords(out.NamesRef(), out.ValuesRef(), error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(records.size(), 4u);
    const ULONG handles[] = {0x1103, 0x1101, 0x1102, 0x1100};
    const ULONG sizes[] = {1024, 2048, 4096, 8192};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(records[k].Number(L"Type"), 17u) << k;
        EXPECT_EQ(records[k].Number(L"Handle"), handles[k]) << k;
        EXPECT_EQ(records[k].Number(L"Size"), sizes[k])
            << "values belong to the same structure as names " << k;
    }

    // A single structure still comes as an array of one array.
    Outputs one;
    ASSERT_EQ(object->GetAllInstancesOfType(0, one.Names(), one.Values(), &retVal), S_OK);
    const std::vector<Record> bios = NestedRecords(one.NamesRef(), one.ValuesRef(), error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(bios.size(), 1u);
    EXPECT_EQ(bios[0].Value(L"Vendor").text, L"Quarnex");
}

TEST_F(QueryResults, AFailingDecoderAbortsGetAllAndLeavesTheCursorBehindIt) {
    // The second of three alerting structures is refused by its decoder.
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(
        Table({Alerting(0x8100, 1), Alerting(0x8101, 7), Alerting(0x8102, 1), EndOfTable(0x7F00)}));
    ASSERT_EQ(object->StartTypeInstanceEnum(129, &retVal), S_OK);

    EXPECT_EQ(object->GetAllInstancesOfType(129, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Empty()) << "no partial output";

    // The pending enumeration of the same type goes on behind the refused one.
    out.Refill();
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(HandleIn(out), 0x8102);
    ASSERT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 3u);
}

TEST_F(QueryResults, EnumAllInstancesRunsByTypeThenTableOrder) {
    const Bytes table =
        Table({Processor(0x0401), MemoryDevice(0x1100, 1), Baseboard(0x0200), Bios(0x0000, "Q"),
               Processor(0x0400), EndOfTable(0x7F00), Structure(13, 0x0D00, Bytes(0x12, 0))});
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(table);
    // The structure behind the end-of-table marker is indexed too.
    const struct {
        ULONG type, handle;
    } expected[] = {{0, 0x0000}, {2, 0x0200}, {4, 0x0401}, {4, 0x0400}, {13, 0x0D00}, {17, 0x1100}};
    for (UINT i = 0; i < 6; ++i) {
        out.Refill();
        retVal = 99;
        const HRESULT hr = object->EnumAllInstances(i, out.Names(), out.Values(), &retVal);
        if (expected[i].type == 13) {
            EXPECT_EQ(hr, E_FAIL);
            EXPECT_EQ(retVal, 4u);
            continue;
        }
        ASSERT_EQ(hr, S_OK) << i;
        EXPECT_EQ(retVal, 0u);
        Record r(out.NamesRef(), out.ValuesRef());
        EXPECT_EQ(r.Number(L"Type"), expected[i].type) << i;
        EXPECT_EQ(r.Number(L"Handle"), expected[i].handle) << i;
    }
    out.Refill();
    EXPECT_EQ(object->EnumAllInstances(6, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u) << "index == number of indexed structures";
}

TEST_F(QueryResults, FindInstanceByHandleTakesTheFirstStructureOfAHandle) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(Table(
        {Baseboard(0x0002), Processor(0x0002), Bios(0x0001, "Q"), EndOfTable(0x0001), EndOfTable(0x0003)}));
    ASSERT_EQ(object->FindInstanceByHandle(0x0002, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(Record(out.NamesRef(), out.ValuesRef()).Number(L"Type"), 2u);

    ASSERT_EQ(object->FindInstanceByHandle(0x0001, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(Record(out.NamesRef(), out.ValuesRef()).Number(L"Type"), 0u)
        << "a marker sharing the handle does not hide the structure";

    out.Refill();
    EXPECT_EQ(object->FindInstanceByHandle(0x0003, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(QueryResults, ASuccessfulQueryReplacesWhatTheOutputsHeld) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MemoryTable());
    // Outputs that hold arrays from an earlier call are cleared, not leaked
    // or mixed in.
    ASSERT_EQ(object->GetAllInstancesOfType(17, out.Names(), out.Values(), &retVal), S_OK);
    ASSERT_EQ(object->GetFirstInstanceOfType(4, out.Names(), out.Values(), &retVal), S_OK);
    Record r(out.NamesRef(), out.ValuesRef());
    ASSERT_EQ(r.Error(), "");
    EXPECT_EQ(r.Number(L"Type"), 4u);
    ASSERT_EQ(object->EnumAllInstances(0, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(Record(out.NamesRef(), out.ValuesRef()).Number(L"Type"), 0u);
}
