// Which structure types the object decodes, seen through its queries: types
// without decoder, the alerting and BIOS identification types, and the OEM
// types 176 and 186 that depend on the extension marker.
#include "QueryFixture.h"

namespace {

// An OMF board ID structure (Length 0x10) and a DDC structure (Length 0x0F),
// the layouts their decoders accept.
Bytes BoardId(uint16_t handle) {
    return Structure(176, handle, Bytes(0x0C, 0x11));
}
Bytes Ddc(uint16_t handle) {
    return Structure(186, handle, Bytes(0x0B, 0x22));
}

class TypeDispatch : public ::testing::Test {
protected:
    // RetVal of GetFirstInstanceOfType(type) and the record's names.
    ULONG First(ISmBiosImpl* object, uint8_t type, Record* record = nullptr) {
        Outputs out;
        ULONG retVal = 99;
        object->GetFirstInstanceOfType(type, out.Names(), out.Values(), &retVal);
        if (record != nullptr) *record = Record(out.NamesRef(), out.ValuesRef());
        return retVal;
    }
    // RetVal of GetAllInstancesOfType(type) and the number of records.
    ULONG All(ISmBiosImpl* object, uint8_t type, long* count = nullptr) {
        Outputs out;
        ULONG retVal = 99;
        object->GetAllInstancesOfType(type, out.Names(), out.Values(), &retVal);
        if (count != nullptr) *count = ElementCount(out.NamesRef());
        return retVal;
    }

    ComApartment apartment;
};

} // namespace

TEST_F(TypeDispatch, TypesWithoutDecoderAnswerRetVal4EvenWhenPresent) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(Table(
        {Structure(13, 0x0D00, Bytes(0x12, 0)), Structure(18, 0x1200, Bytes(0x13, 0)),
         Structure(131, 0x8300, Bytes(0x10, 0)), Structure(40, 0x2800, Bytes(4, 0)), EndOfTable(0x7F00)}));
    for (uint8_t type : {13, 18, 127, 131, 40, 14, 15, 38, 175, 187, 255}) {
        EXPECT_EQ(First(object.Get(), type), 4u) << int(type);
        EXPECT_EQ(All(object.Get(), type), 4u) << int(type);
    }
}

TEST_F(TypeDispatch, AlertingTypesDecodeWithTheAlertingDecoder) {
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(
        Table({Structure(128, 0x8000, {0, 1, 0, 0x33}), Alerting(0x8100, 1), EndOfTable(0x7F00)}));
    for (uint8_t type : {128, 129}) {
        Record r(VARIANT{}, VARIANT{});
        ASSERT_EQ(First(object.Get(), type, &r), 0u) << int(type);
        ASSERT_EQ(r.Error(), "");
        EXPECT_EQ(r.Number(L"Type"), type);
        EXPECT_EQ(r.Number(L"StructureVersion"), 1u) << "an alerting record";
        EXPECT_TRUE(r.Has(L"Attributes"));
    }
    EXPECT_EQ(First(object.Get(), 130), 3u) << "a decoder exists, the structure does not";
}

TEST_F(TypeDispatch, BiosIdentificationDecodesWithOrWithoutTheMarker) {
    for (const Bytes& signature : {kOemSignature, Bytes{'X', 'Y', 'Z', '!'}}) {
        ComPtr<ISmBiosImpl> object =
            NewObjectWithTable(Table({BiosIdentification(0xBC00, 8, signature), EndOfTable(0x7F00)}));
        Record r(VARIANT{}, VARIANT{});
        ASSERT_EQ(First(object.Get(), 188, &r), 0u);
        ASSERT_EQ(r.Error(), "");
        EXPECT_EQ(r.Number(L"MagicBiosIdentifier"), ULONG(signature[0]) | ULONG(signature[1]) << 8 |
                                                        ULONG(signature[2]) << 16 |
                                                        ULONG(signature[3]) << 24);
    }
}

TEST_F(TypeDispatch, OemTypesNeedTheMarkerInTheFirstBiosIdentification) {
    const Bytes others = Cat({BoardId(0xB000), BoardId(0xB001), Ddc(0xBA00), EndOfTable(0x7F00)});
    struct Case {
        const char* name;
        Bytes marker;
        bool decodes;
    } cases[] = {
        {"marker", BiosIdentification(0xBC00, 8, kOemSignature), true},
        {"Length 9", BiosIdentification(0xBC00, 9, kOemSignature), false},
        {"other bytes", BiosIdentification(0xBC00, 8, {'8', '8', '1', '#'}), false},
        {"marker only in the second",
         Cat({BiosIdentification(0xBC00, 8, {0, 0, 0, 0}), BiosIdentification(0xBC01, 8, kOemSignature)}),
         false},
        {"no type 188", {}, false},
    };
    for (const Case& c : cases) {
        ComPtr<ISmBiosImpl> object = NewObjectWithTable(Cat({c.marker, others}));
        long count = -2;
        if (c.decodes) {
            EXPECT_EQ(All(object.Get(), 176, &count), 0u) << c.name;
            EXPECT_EQ(count, 2) << c.name;
            EXPECT_EQ(All(object.Get(), 186, &count), 0u) << c.name;
            EXPECT_EQ(count, 1) << c.name;
            EXPECT_EQ(First(object.Get(), 176), 0u) << c.name;
        } else {
            EXPECT_EQ(All(object.Get(), 176), 4u) << c.name;
            EXPECT_EQ(All(object.Get(), 186), 4u) << c.name;
            EXPECT_EQ(First(object.Get(), 186), 4u) << c.name;
        }
    }
}

TEST_F(TypeDispatch, TheMarkerIsLookedForInTheTableOfTheObject) {
    // Two objects, one with the marker: each decides by its own table.
    const Bytes board = Cat({BoardId(0xB000), EndOfTable(0x7F00)});
    ComPtr<ISmBiosImpl> with = NewObjectWithTable(Cat({BiosIdentification(0xBC00, 8, kOemSignature), board}));
    ComPtr<ISmBiosImpl> without = NewObjectWithTable(board);
    EXPECT_EQ(First(with.Get(), 176), 0u);
    EXPECT_EQ(First(without.Get(), 176), 4u);
    EXPECT_EQ(First(with.Get(), 176), 0u);

    // EnumAllInstances and FindInstanceByHandle use the same factory.
    Outputs out;
    ULONG retVal = 99;
    EXPECT_EQ(without->FindInstanceByHandle(0xB000, out.Names(), out.Values(), &retVal), E_FAIL);
    EXPECT_EQ(retVal, 4u);
    EXPECT_EQ(with->FindInstanceByHandle(0xB000, out.Names(), out.Values(), &retVal), S_OK);
    EXPECT_EQ(retVal, 0u);
}
