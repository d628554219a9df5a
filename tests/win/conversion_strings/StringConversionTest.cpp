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

#include "../assembly/TraceCapture.h"
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

// Index of the first record at or after `from` with this method and text; npos when none.
size_t Find(const std::vector<CapturedRecord>& records, const std::string& method, const std::string& text,
            size_t from = 0) {
    for (size_t i = from; i < records.size(); ++i)
        if (records[i].method == method && records[i].text == text) return i;
    return std::string::npos;
}

TEST(StringConversionTrace, FallbackOperatorsAndNullSourcesAreRecorded) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string file =
        std::string(folder) + "korvix_strconv_" + std::to_string(GetCurrentProcessId()) + ".trc";
    std::vector<CapturedRecord> records;
    {
        TraceCapture capture(file);
        {
            CCStringConversion fallback(L"A\u0100");
            fallback.Convert2A();
        }
        {
            CCStringConversion viaOperator(L"abc");
            const char* narrow = viaOperator;
            EXPECT_STREQ(narrow, "abc");
        }
        {
            CCStringConversion empty(static_cast<const char*>(nullptr));
            empty.Convert2W();
            empty.Convert2A();
        }
        {
            CCCriticalSection lock;
            lock.Enter();
            lock.Leave();
        }
        records = capture.Records();
    }
    DeleteFileA(file.c_str());
    ASSERT_FALSE(records.empty());

    const size_t fallback =
        Find(records, "Convert2A",
             "Could not convert unicode to ansi string because of unrecognized character, "
             "using different api");
    ASSERT_NE(fallback, std::string::npos);
    EXPECT_EQ(records[fallback].level, "VerboseCC");
    EXPECT_EQ(records[fallback].className, "CCStringConversion");
    EXPECT_EQ(records[fallback].category, "Internal");

    // The operator writes both of its records before Convert2A begins.
    const size_t enter = Find(records, "operator const char *", "Method operator LPCSTR has been entered.");
    ASSERT_NE(enter, std::string::npos);
    ASSERT_LT(enter + 2, records.size());
    EXPECT_EQ(records[enter + 1].text, "Method operator LPCSTR has been left.");
    EXPECT_EQ(records[enter + 2].text, "Method Convert2A has been entered.");

    const size_t created =
        Find(records, "CCStringConversion", "An instance of CCStringConversion has been created.");
    ASSERT_NE(created, std::string::npos);
    EXPECT_EQ(records[created].level, "InfoCC");
    EXPECT_EQ(records[created].details.substr(0, 10), "szwSrc: 0x");

    // Null sources are not failures.
    for (const auto& record : records)
        EXPECT_NE(record.level, "Error") << record.text;

    const size_t tryEnter = Find(records, "Enter", "Method TryEnter has been entered.");
    ASSERT_NE(tryEnter, std::string::npos);
    EXPECT_EQ(records[tryEnter].className, "CCCriticalSection");
    EXPECT_NE(Find(records, "~CCCriticalSection", "An instance of CCCriticalSection has been destructed."),
              std::string::npos);
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
