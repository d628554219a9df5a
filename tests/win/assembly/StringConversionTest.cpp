// CCStringConversion and CCCriticalSection under Wine: the one-to-one "C"
// locale mapping of 0x80-0xFF, the code page fallback, pointer lifetimes,
// their trace records and the lock's blocking behaviour.
#include <atomic>
#include <cwchar>
#include <thread>

#include "AssemblyFixture.h"
#include "common/conversion/CCCriticalSection.h"
#include "common/conversion/CCStringConversion.h"

namespace {

TEST(StringConversion, EveryByteMapsToTheCodeUnitOfTheSameValueAndBack) {
    std::string bytes;
    std::wstring units;
    for (int c = 1; c <= 0xFF; ++c) {
        bytes += static_cast<char>(c);
        units += static_cast<wchar_t>(c);
    }
    CCStringConversion narrow(bytes.c_str());
    ASSERT_NE(narrow.Convert2W(), nullptr);
    EXPECT_EQ(std::wstring(narrow.Convert2W()), units);
    ASSERT_NE(narrow.Convert2A(), nullptr);
    EXPECT_EQ(std::string(narrow.Convert2A()), bytes);
    CCStringConversion wide(units.c_str());
    ASSERT_NE(wide.Convert2A(), nullptr);
    EXPECT_EQ(std::string(wide.Convert2A()), bytes);
}

// A form asked for twice comes back at the same address until the other
// form is asked for; null stays null and empty stays empty.
TEST(StringConversion, PointersStayUntilTheFormChangesNullAndEmptyStay) {
    CCStringConversion conv(L"Proc\u00e9ssor");
    const char* narrow = conv; // the operators hand out the converted forms
    EXPECT_STREQ(narrow, "Proc\xe9ssor");
    EXPECT_EQ(conv.Convert2A(), narrow);
    const wchar_t* wide = conv;
    EXPECT_STREQ(wide, L"Proc\u00e9ssor");
    EXPECT_EQ(conv.Convert2W(), wide);
    EXPECT_STREQ(conv.Convert2A(), "Proc\xe9ssor");
    CCStringConversion source("xyz"); // a narrow source is handed out as it is
    EXPECT_EQ(source.Convert2A(), source.Convert2A());
    CCStringConversion wideNull(static_cast<const wchar_t*>(nullptr)),
        narrowNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(!wideNull.Convert2A() && !wideNull.Convert2W() && !narrowNull.Convert2W() &&
                !narrowNull.Convert2A());
    CCStringConversion narrowEmpty(""), wideEmpty(L"");
    EXPECT_STREQ(narrowEmpty.Convert2W(), L"");
    EXPECT_STREQ(wideEmpty.Convert2A(), "");
}

// U+0100 has no "C" locale byte: the system code page maps it to its best-fit
// letter or its default character (a truncation to 0x00 would shorten the
// string), and the fallback is traced.
TEST_F(AssemblyTest, CharacterAboveLatin1TakesTheCodePagePathAndIsTraced) {
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1) GTEST_SKIP() << "system code page is multi-byte";
    {
        CCStringConversion conv(L"Caf\u00e9 \u0100 end");
        const char* narrow = conv.Convert2A();
        ASSERT_NE(narrow, nullptr);
        ASSERT_EQ(strlen(narrow), 10u);
        EXPECT_TRUE(narrow[5] == 'A' || narrow[5] == static_cast<char>(info.DefaultChar[0])) << +narrow[5];
        EXPECT_EQ(std::string(narrow), "Caf\xe9 " + std::string(1, narrow[5]) + " end");
        CCStringConversion viaOperator(L"abc");
        EXPECT_STREQ(static_cast<const char*>(viaOperator), "abc");
        CCStringConversion null(static_cast<const char*>(nullptr));
        null.Convert2W();
        null.Convert2A();
        CCCriticalSection lock;
        lock.Enter();
        lock.Leave();
    }
    const auto records = kit::Records(traceFile, true);
    for (const auto& record : records)
        EXPECT_NE(record.level, "Error") << record.text; // null sources are no failures
    const int fallback =
        kit::Find(records, "CCStringConversion", "Convert2A", "Internal",
                  "Could not convert unicode to ansi string because of unrecognized character, "
                  "using different api");
    ASSERT_GE(fallback, 0);
    EXPECT_EQ(records[fallback].level, "VerboseCC");
    // The operator writes both of its records before Convert2A begins.
    const int enter =
        kit::Find(records, "", "operator const char *", "", "Method operator LPCSTR has been entered.");
    ASSERT_GE(enter, 0);
    ASSERT_LT(enter + 2, static_cast<int>(records.size()));
    EXPECT_EQ(records[enter + 1].text, "Method operator LPCSTR has been left.");
    EXPECT_EQ(records[enter + 2].text, "Method Convert2A has been entered.");
    const int created = kit::Find(records, "", "CCStringConversion", "",
                                  "An instance of CCStringConversion has been created.");
    ASSERT_GE(created, 0);
    EXPECT_EQ(records[created].level, "InfoCC");
    EXPECT_EQ(records[created].details.substr(0, 10), "szwSrc: 0x");
    EXPECT_GE(kit::Find(records, "CCCriticalSection", "Enter", "", "Method TryEnter has been entered."), 0);
    EXPECT_GE(kit::Find(records, "", "~CCCriticalSection", "",
                        "An instance of CCCriticalSection has been destructed."),
              0);
}

TEST(CriticalSection, ReentrantForOwnerAndBlocksOthersUntilFullyLeft) {
    CCCriticalSection lock;
    lock.Enter();
    lock.Enter(); // reentrant: must not deadlock
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        lock.Enter();
        acquired = true;
        lock.Leave();
    });
    Sleep(100);
    EXPECT_FALSE(acquired.load());
    lock.Leave();
    Sleep(100);
    EXPECT_FALSE(acquired.load()) << "one Leave of two Enters must keep the section owned";
    lock.Leave();
    other.join();
    EXPECT_TRUE(acquired.load());
}

} // namespace
