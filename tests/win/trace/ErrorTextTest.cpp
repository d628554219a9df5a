// Error texts: the system message table, the message libraries asked for
// message-queuing codes (stand-ins for MQUTIL.DLL, NETMSG.DLL and
// wmiutils.dll sit beside this executable), the WMI table, "unknown".
#include <gtest/gtest.h>

#include <string>

#include "TraceTestSupport.h"

using namespace tracetest;

namespace {

// What the system table says for `code`, without its trailing line break.
std::string SystemText(DWORD code) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result(text ? text : "", n);
    if (text) LocalFree(text);
    while (result.size() > 1 && (result.back() == '\r' || result.back() == '\n'))
        result.pop_back();
    return result;
}

} // namespace

TEST(TraceErrorText, SystemCodesWithoutLineBreak) {
    const std::string five = SystemText(5);
    ASSERT_FALSE(five.empty());
    // Facility 8 is looked up by its low 16 bits.
    EXPECT_EQ(CCVireoTrace::GetErrorText(0x80080005u), five);
    EXPECT_EQ(CCVireoTrace::GetErrorText(5), five);
    const std::string text = CCVireoTrace::GetErrorText(2);
    EXPECT_EQ(text, SystemText(2));
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(TraceErrorText, WmiTableRowsAndUnknown) {
    struct Row {
        DWORD code;
        const char* text;
    } rows[] = {
        {0x80041001u, "The call failed."},
        {0x80041002u, "The object could not be found."},
        {0x80041003u, "The current user does not have permission to perform the action."},
        {0x80041008u, "One of the parameters to the call is not correct"},
        {0x80041049u,
         "An attempt was made to change a key when instances or subclasses are already using the key."},
        {0x80041050u,
         "An attempt was made to change an index when instances or subclasses are already using the index."},
        {0x8004105Fu,
         "An event provider registration query (__EventProviderRegistration) did not specify the "
         "classes for which events were provided."},
        {0x80041069u, "Windows Server 2003 and Windows XP:  The operation timed out."},
        // Two rows carry this code; the first (the rejected delete) wins.
        {0x8004107Au, "Windows Server 2003 and Windows XP:  WMI cannot do the delete operation because the "
                      "provider does not allow it."},
        {0x8004108Au,
         "Windows Server 2003 and Windows XP:  User attempted to register a provider instance but the "
         "COM server for the provider instance was unloaded."},
        {0x80042001u,
         "Windows Server 2003 and Windows XP:  The provider registration overlaps with the system "
         "event domain."},
        {0x80043002u,
         "Windows Server 2003 and Windows XP:  The user deleted an override default value for the "
         "current class. The default value for this property in the parent class has been "
         "reactivated. An automation-specific error."},
        // Codes between the table's ranges, and codes no table knows.
        {0x8004104Au, "unknown"},
        {0x8004105Eu, "unknown"},
        {0x80041079u, "unknown"},
        {0x80041000u, "unknown"},
        {0x12345678u, "unknown"},
        {0x80043003u, "unknown"},
    };
    for (const Row& row : rows)
        EXPECT_STREQ(CCVireoTrace::GetErrorText(row.code), row.text) << std::hex << row.code;
}

// Message-queuing codes (facility 14) come from MQUTIL.DLL; when it has no text
// the system table is asked, then NETMSG.DLL, then wmiutils.dll.
TEST(TraceErrorText, MessageQueueCodesAskTheMessageLibrariesInOrder) {
    ASSERT_TRUE(fs::exists(BinFolder() / L"MQUTIL.DLL"));
    EXPECT_STREQ(CCVireoTrace::GetErrorText(0xC00E0001u), "Queue text from the first library.");
    EXPECT_STREQ(CCVireoTrace::GetErrorText(0xC00E0003u), "Queue text from the second library.");
    EXPECT_STREQ(CCVireoTrace::GetErrorText(0xC00E0004u), "Queue text from the third library.");
    // The first library wins where two have the code.
    EXPECT_STREQ(CCVireoTrace::GetErrorText(0xC00E0005u), "First of two.");
    EXPECT_STREQ(CCVireoTrace::GetErrorText(0xC00E0009u), "unknown");
}

TEST(TraceErrorText, LongMessagesAreCutTo4095Characters) {
    const std::string text = CCVireoTrace::GetErrorText(0xC00E0002u);
    ASSERT_EQ(text.size(), 4095u);
    EXPECT_EQ(text, std::string(4095, 'L'));
}
