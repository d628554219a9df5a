// CCStringConversion and CCCriticalSection under Wine: the one-to-one "C"
// locale mapping of 0x80-0xFF, the code page fallback, pointer lifetimes and
// the lock's blocking behaviour.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "common/conversion/CCCriticalSection.h"
#include "common/conversion/CCStringConversion.h"

namespace {

std::wstring HighWide() {
    std::wstring s;
    for (wchar_t c = 0x80; c <= 0xFF; ++c)
        s += c;
    return s;
}

std::string HighNarrow() {
    std::string s;
    for (int c = 0x80; c <= 0xFF; ++c)
        s += static_cast<char>(c);
    return s;
}

TEST(StringConversion, WideHighLatinBecomesBytesOfSameValue) {
    const std::wstring src = L"Vendor " + HighWide();
    CCStringConversion conv(src.c_str());
    const char* narrow = conv.Convert2A();
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(std::string(narrow), "Vendor " + HighNarrow());
}

TEST(StringConversion, NarrowHighBytesBecomeCodeUnitsOfSameValue) {
    const std::string src = "Serial " + HighNarrow();
    CCStringConversion conv(src.c_str());
    const wchar_t* wide = conv.Convert2W();
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::wstring(wide), L"Serial " + HighWide());
}

TEST(StringConversion, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int c = 1; c <= 0xFF; ++c)
        all += static_cast<char>(c);
    CCStringConversion conv(all.c_str());
    const wchar_t* wide = conv.Convert2W();
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(std::wcslen(wide), all.size());
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(static_cast<unsigned>(wide[i]), i + 1) << i;
    const char* back = conv.Convert2A();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back), all);
}

TEST(StringConversion, SameFormTwiceReturnsTheSamePointer) {
    CCStringConversion conv(L"abc");
    const char* first = conv.Convert2A();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "abc");
    EXPECT_EQ(conv.Convert2A(), first);

    const wchar_t* wide = conv.Convert2W();
    ASSERT_NE(wide, nullptr);
    EXPECT_STREQ(wide, L"abc");
    EXPECT_EQ(conv.Convert2W(), wide);

    // The narrow source form is handed out as it is until the wide form is asked for.
    CCStringConversion narrowConv("xyz");
    const char* own = narrowConv.Convert2A();
    EXPECT_EQ(narrowConv.Convert2A(), own);
    EXPECT_STREQ(own, "xyz");
}

TEST(StringConversion, SwitchingFormsReplacesTheBuffer) {
    CCStringConversion conv(L"Board");
    const char* narrow = conv.Convert2A();
    ASSERT_NE(narrow, nullptr);
    const wchar_t* wide = conv.Convert2W();
    ASSERT_NE(wide, nullptr);
    EXPECT_NE(static_cast<const void*>(wide), static_cast<const void*>(narrow));
    EXPECT_STREQ(wide, L"Board");
    const char* again = conv.Convert2A();
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(again, "Board");
}

TEST(StringConversion, CharacterAboveLatin1TakesTheCodePagePath) {
    CPINFO info{};
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    if (info.MaxCharSize != 1) GTEST_SKIP() << "system code page is multi-byte";

    // U+0100 has no "C" locale byte; the system code page maps it to its
    // best-fit letter or its default character. A plain truncation to 0x00
    // would shorten the string.
    CCStringConversion conv(L"Caf\u00e9 \u0100 end");
    const char* narrow = conv.Convert2A();
    ASSERT_NE(narrow, nullptr);
    ASSERT_EQ(std::strlen(narrow), 10u);
    EXPECT_EQ(std::string(narrow, 5), "Caf\xe9 ");
    EXPECT_TRUE(narrow[5] == 'A' || narrow[5] == static_cast<char>(info.DefaultChar[0]))
        << static_cast<int>(static_cast<unsigned char>(narrow[5]));
    EXPECT_EQ(std::string(narrow + 6), " end");
    // The object now holds the narrow form.
    EXPECT_EQ(conv.Convert2A(), narrow);
}

TEST(StringConversion, NullSourcesGiveNullInBothForms) {
    CCStringConversion wideNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(wideNull.Convert2A(), nullptr);
    EXPECT_EQ(wideNull.Convert2W(), nullptr);
    EXPECT_EQ(static_cast<const char*>(wideNull), nullptr);

    CCStringConversion narrowNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(narrowNull.Convert2W(), nullptr);
    EXPECT_EQ(narrowNull.Convert2A(), nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(narrowNull), nullptr);
}

TEST(StringConversion, EmptyStringsStayEmptyNotNull) {
    CCStringConversion narrow("");
    const wchar_t* wide = narrow.Convert2W();
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], L'\0');

    CCStringConversion wideConv(L"");
    const char* n = wideConv.Convert2A();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n[0], '\0');
}

TEST(StringConversion, OperatorsHandOutTheConvertedForms) {
    CCStringConversion conv(L"Proc\u00e9ssor");
    const char* narrow = conv;
    ASSERT_NE(narrow, nullptr);
    EXPECT_STREQ(narrow, "Proc\xe9ssor");
    EXPECT_EQ(conv.Convert2A(), narrow);
    const wchar_t* wide = conv;
    ASSERT_NE(wide, nullptr);
    EXPECT_STREQ(wide, L"Proc\u00e9ssor");
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
