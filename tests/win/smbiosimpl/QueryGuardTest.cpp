// The guard of every query (RetVal 1 before Initialize), RetVal 2 before any
// enumeration, and what each query leaves in its outputs when it does not
// succeed: untouched, or cleared to VT_EMPTY.
#include "QueryFixture.h"

namespace {

// BIOS, two processors, a baseboard, a structure without decoder (13), a
// refused alerting structure (129, version 2), a memory device and the
// end-of-table marker.
Bytes MixedTable() {
    return Table({Bios(0x0000, "Quarnex"), Processor(0x0400), Baseboard(0x0200),
                  Structure(13, 0x0D00, Bytes(0x12, 0)), Processor(0x0401), Alerting(0x8100, 2),
                  MemoryDevice(0x1100, 4096), EndOfTable(0x7F00)});
}

class QueryFailures : public ::testing::Test {
protected:
    ComApartment apartment;
    Outputs out;
    ULONG retVal = 99;
};

} // namespace

TEST_F(QueryFailures, EveryQueryBeforeInitializeAnswersRetVal1AndLeavesItsOutputs) {
    ComPtr<ISmBiosImpl> object = NewObject();
    ASSERT_TRUE(object);

    EXPECT_EQ(object->GetAllInstancesOfType(4, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
    EXPECT_TRUE(out.Untouched());

    retVal = 99;
    EXPECT_EQ(object->GetFirstInstanceOfType(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
    EXPECT_TRUE(out.Untouched());

    retVal = 99;
    EXPECT_EQ(object->StartTypeInstanceEnum(4, &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);

    retVal = 99;
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u) << "the guard comes before the enumeration check";
    EXPECT_TRUE(out.Untouched());

    retVal = 99;
    EXPECT_EQ(object->EnumAllInstances(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
    EXPECT_TRUE(out.Untouched());

    retVal = 99;
    EXPECT_EQ(object->FindInstanceByHandle(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 1u);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(QueryFailures, RetVal2OnlyBeforeTheFirstStartOfTheObject) {
    ComPtr<ISmBiosImpl> object = NewObject();
    // A start refused by the guard does not count as a start.
    EXPECT_EQ(object->StartTypeInstanceEnum(4, &retVal), E_FAIL);
    AttachTable(object.Get(), MixedTable());

    retVal = 99;
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 2u);
    EXPECT_TRUE(out.Untouched());
    // Other queries do not start an enumeration either.
    EXPECT_EQ(object->GetAllInstancesOfType(4, out.Names(), out.Values(), &retVal), S_OK);
    out.Refill();
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 2u);
    EXPECT_TRUE(out.Untouched());

    EXPECT_EQ(object->StartTypeInstanceEnum(0, &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    for (int call = 0; call < 3; ++call) {
        out.Refill();
        retVal = 99;
        EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK) << call;
        EXPECT_EQ(retVal, 3u) << "the end is reported again and again, never RetVal 2";
        EXPECT_TRUE(out.Empty());
    }
}

TEST_F(QueryFailures, GetAllInstancesOfTypeClearsItsOutputsForRetVal3And4) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MixedTable());
    EXPECT_EQ(object->GetAllInstancesOfType(13, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_TRUE(out.Empty());

    out.Refill();
    EXPECT_EQ(object->GetAllInstancesOfType(129, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u) << "the only alerting structure is refused by its decoder";
    EXPECT_TRUE(out.Empty());

    // A type with a decoder but without structures is no failure.
    out.Refill();
    EXPECT_EQ(object->GetAllInstancesOfType(9, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_TRUE(out.Empty());
}

TEST_F(QueryFailures, GetFirstInstanceOfTypeClearsForRetVal3ButNotFor4) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MixedTable());
    EXPECT_EQ(object->GetFirstInstanceOfType(1, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u) << "no type-1 structure";
    EXPECT_TRUE(out.Empty());

    out.Refill();
    EXPECT_EQ(object->GetFirstInstanceOfType(13, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_TRUE(out.Untouched());

    // A decoder that refuses its structure is not a failure of this method.
    out.Refill();
    EXPECT_EQ(object->GetFirstInstanceOfType(129, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_TRUE(out.Empty()) << "the refusing decoder leaves the cleared outputs empty";
}

TEST_F(QueryFailures, GetNextTypeInstanceClearsAtTheEndButNotForRetVal4) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MixedTable());
    EXPECT_EQ(object->StartTypeInstanceEnum(13, &retVal), S_OK);
    EXPECT_EQ(retVal, 0u) << "the type is not checked when the enumeration starts";
    retVal = 99;
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_TRUE(out.Untouched());

    EXPECT_EQ(object->StartTypeInstanceEnum(1, &retVal), S_OK);
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 3u) << "an enumeration of a type the table lacks ends at once";
    EXPECT_TRUE(out.Empty());
}

TEST_F(QueryFailures, EnumAllInstancesAndFindInstanceByHandleNeverTouchOutputsOnFailure) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MixedTable());
    // Index order: 0 (BIOS), 2, 4, 4, 13, 17, 129; the marker is not counted.
    EXPECT_EQ(object->EnumAllInstances(7, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(object->EnumAllInstances(4, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u) << "index 4 is the type-13 structure";
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(object->EnumAllInstances(0xFFFFFFFFu, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Untouched());

    EXPECT_EQ(object->FindInstanceByHandle(0x7F00, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u) << "only the end-of-table marker carries this handle";
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(object->FindInstanceByHandle(0x1234, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_TRUE(out.Untouched());
    EXPECT_EQ(object->FindInstanceByHandle(0x0D00, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_TRUE(out.Untouched());
}

TEST_F(QueryFailures, AnEmptyTableAnswersNotFoundEverywhere) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(Table({EndOfTable(0x0000)}));
    EXPECT_EQ(object->EnumAllInstances(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_EQ(object->FindInstanceByHandle(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_EQ(object->GetFirstInstanceOfType(0, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 3u);
    EXPECT_EQ(object->GetAllInstancesOfType(0, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
    EXPECT_TRUE(out.Empty());
}

TEST_F(QueryFailures, NullOutputPointersAreRefusedWithoutACrash) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(MixedTable());
    EXPECT_EQ(object->GetFirstInstanceOfType(0, nullptr, out.Values(), &retVal), E_POINTER);
    EXPECT_EQ(object->GetAllInstancesOfType(0, out.Names(), nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->GetNextTypeInstance(out.Names(), out.Values(), nullptr), E_POINTER);
    EXPECT_EQ(object->EnumAllInstances(0, nullptr, nullptr, &retVal), E_POINTER);
    EXPECT_EQ(object->FindInstanceByHandle(0, out.Names(), out.Values(), nullptr), E_POINTER);
    EXPECT_EQ(object->StartTypeInstanceEnum(0, nullptr), E_POINTER);
    EXPECT_TRUE(out.Untouched());
}
