// Real tables, checked against dmidecode's listing of the same table: every
// structure is reached by index in type order and by its handle, with the
// type, handle and length that dmidecode saw.
#include "QueryFixture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

namespace {

struct Listed {
    unsigned handle, type, length;
};

// "Handle 0x0000, DMI type 0, 26 bytes" lines of a dmidecode listing.
std::vector<Listed> ReadListing(const std::string& path) {
    std::vector<Listed> listed;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        Listed l{};
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &l.handle, &l.type, &l.length) ==
            3)
            listed.push_back(l);
    }
    return listed;
}

bool HasDecoder(unsigned type) {
    return type <= 12 || type == 16 || type == 17 || type == 39 || type == 128 || type == 129 ||
           type == 130 || type == 188;
}
// Types whose decoders refuse layouts they do not know (vendors reuse them).
bool MayRefuse(unsigned type) {
    return type == 128 || type == 129 || type == 130 || type == 176 || type == 186;
}
// Decoded only when the table carries the OEM extension marker.
bool NeedsMarker(unsigned type) {
    return type == 176 || type == 186;
}

class RealTables : public ::testing::TestWithParam<std::string> {
protected:
    ComApartment apartment;
};

std::string Readable(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(0, info.param.find(".bin"));
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

} // namespace

TEST_P(RealTables, EveryListedStructureIsFoundByIndexAndByHandle) {
    const std::string base = GetParam().substr(0, GetParam().find(".bin"));
    const Bytes table = ReadFile(TestDataPath("real/" + GetParam()));
    ASSERT_FALSE(table.empty());
    std::vector<Listed> listed = ReadListing(TestDataPath("real/" + base + ".dmidecode.txt"));
    ASSERT_FALSE(listed.empty());
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(table);

    std::vector<Listed> indexed;
    std::copy_if(listed.begin(), listed.end(), std::back_inserter(indexed),
                 [](const Listed& l) { return l.type != 127; });
    std::stable_sort(indexed.begin(), indexed.end(),
                     [](const Listed& a, const Listed& b) { return a.type < b.type; });

    for (UINT i = 0; i < indexed.size(); ++i) {
        const Listed& want = indexed[i];
        Outputs out;
        ULONG retVal = 99;
        const HRESULT hr = object->EnumAllInstances(i, out.Names(), out.Values(), &retVal);
        if (!HasDecoder(want.type) && !NeedsMarker(want.type)) {
            EXPECT_EQ(hr, E_FAIL) << i;
            EXPECT_EQ(retVal, 4u) << "type " << want.type;
            EXPECT_TRUE(out.Untouched());
            continue;
        }
        if (NeedsMarker(want.type) && retVal == 4) continue;
        ASSERT_EQ(hr, S_OK) << "index " << i << ", type " << want.type;
        EXPECT_EQ(retVal, 0u);
        if (out.Empty() && MayRefuse(want.type)) continue;
        Record r(out.NamesRef(), out.ValuesRef());
        ASSERT_EQ(r.Error(), "") << "index " << i;
        EXPECT_EQ(r.Number(L"Type"), want.type) << "index " << i;
        EXPECT_EQ(r.Number(L"Handle"), want.handle) << "index " << i;
        EXPECT_EQ(r.Number(L"Length"), want.length) << "index " << i;
    }
    Outputs out;
    ULONG retVal = 99;
    EXPECT_EQ(object->EnumAllInstances(static_cast<UINT>(indexed.size()), out.Names(), out.Values(), &retVal),
              E_FAIL);
    EXPECT_EQ(retVal, 3u);

    // The first listed structure of each handle, markers excluded.
    std::map<unsigned, Listed> byHandle;
    for (const Listed& l : listed)
        if (l.type != 127) byHandle.emplace(l.handle, l);
    for (const auto& [handle, want] : byHandle) {
        Outputs found;
        retVal = 99;
        const HRESULT hr =
            object->FindInstanceByHandle(static_cast<USHORT>(handle), found.Names(), found.Values(), &retVal);
        if (!HasDecoder(want.type) && !NeedsMarker(want.type)) {
            EXPECT_EQ(retVal, 4u) << "handle " << handle;
            continue;
        }
        if (retVal == 4 && NeedsMarker(want.type)) continue;
        ASSERT_EQ(hr, S_OK) << "handle " << handle;
        if (found.Empty() && MayRefuse(want.type)) continue;
        EXPECT_EQ(Record(found.NamesRef(), found.ValuesRef()).Number(L"Type"), want.type)
            << "handle " << handle;
    }
}

TEST_P(RealTables, GetAllInstancesOfTypeCountsWhatTheListingHolds) {
    const std::string base = GetParam().substr(0, GetParam().find(".bin"));
    ComPtr<ISmBiosImpl> object = NewObjectWithTable(ReadFile(TestDataPath("real/" + GetParam())));
    std::map<unsigned, long> counts;
    for (const Listed& l : ReadListing(TestDataPath("real/" + base + ".dmidecode.txt")))
        ++counts[l.type];
    for (unsigned type = 0; type < 256; ++type) {
        if (!HasDecoder(type)) continue;
        Outputs out;
        ULONG retVal = 99;
        const HRESULT hr = object->GetAllInstancesOfType(static_cast<unsigned char>(type), out.Names(),
                                                         out.Values(), &retVal);
        if (hr == E_FAIL && retVal == 3 && MayRefuse(type)) continue;
        ASSERT_EQ(hr, S_OK) << "type " << type;
        EXPECT_EQ(retVal, 0u);
        const long expected = counts.count(type) ? counts[type] : 0;
        if (expected == 0) {
            EXPECT_TRUE(out.Empty()) << "type " << type;
            continue;
        }
        std::string error;
        const std::vector<Record> records = NestedRecords(out.NamesRef(), out.ValuesRef(), error);
        ASSERT_EQ(error, "") << "type " << type;
        EXPECT_EQ(static_cast<long>(records.size()), expected) << "type " << type;
    }
}

INSTANTIATE_TEST_SUITE_P(Listed, RealTables, ::testing::ValuesIn(RealTableNames()), Readable);
