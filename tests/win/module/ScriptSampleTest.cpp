// The VBScript sample samples/korvix-demo.vbs run by the system's cscript
// against the installed component, compared with what a C++ client reads
// from the same table.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "ComponentInstall.h"
#include "Korvix.h"
#include "ModuleTestSupport.h"
#include "TableBuilder.h"

using namespace moduletest;

namespace {

std::wstring SamplePath() {
    std::wstring path = Widen(KORVIX_SAMPLES_DIR "/korvix-demo.vbs");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

ProcessResult RunSample() {
    return RunProcess(L"\"" + SystemProgram(L"cscript.exe") + L"\" //nologo \"" + SamplePath() + L"\"");
}

std::vector<std::string> OutputLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Type and handle of every structure the component decodes, by table index.
std::map<unsigned, std::pair<unsigned, unsigned>> DecodedStructures() {
    std::map<unsigned, std::pair<unsigned, unsigned>> decoded;
    CLSID clsid{};
    ComPtr<ISmBiosImpl> object;
    if (FAILED(CLSIDFromProgID(L"Korvix.SmBiosImpl", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object.PutVoid())))
        return decoded;
    Bstr feature(ComponentInstall::kFeatureW), version(ComponentInstall::kVersionW),
        context(ComponentInstall::kContextW);
    VARIANT_BOOL ok = 0;
    object->ComponentInitialize(feature.Get(), version.Get(), context.Get(), &ok);
    if (object->Initialize() != S_OK) return decoded;
    for (unsigned index = 0; index < 0x10000; ++index) {
        Variant names, values;
        ULONG retVal = 0;
        object->EnumAllInstances(index, names.Get(), values.Get(), &retVal);
        if (retVal == 3) break;
        if (retVal != 0) continue;
        Variant type, handle;
        LONG at = 0;
        SafeArrayGetElement(values->parray, &at, type.Get());
        at = 2;
        SafeArrayGetElement(values->parray, &at, handle.Get());
        decoded[index] = {type->bVal, handle->uiVal};
    }
    return decoded;
}

class ScriptSample : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        ASSERT_EQ(install.Error(), "");
    }
    ComApartment apartment;
    ComponentInstall install;
};

} // namespace

TEST_F(ScriptSample, ListsEveryDecodedStructureOfARealTable) {
    // A board with a chassis that lists a contained element (a byte array).
    ScopedEnvironment table(L"KORVIX_SMBIOS_TABLE", Widen(TestDataPath("real/msi-ms7816-2.8.bin")).c_str());
    const ProcessResult run = RunSample();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const auto lines = OutputLines(run.output);

    EXPECT_TRUE(Contains(lines, "Structure 0: type 0, handle 0x0000")) << run.output;
    EXPECT_TRUE(Contains(lines, "    Vendor = American Megatrends Inc."));
    EXPECT_TRUE(Contains(lines, "    ReleaseDate = 07/13/2018"));
    EXPECT_TRUE(Contains(lines, "Structure 1: type 1, handle 0x0001"));
    EXPECT_TRUE(Contains(lines, "    Manufacturer = MSI"));
    EXPECT_TRUE(Contains(lines, "    ProductName = MS-7816"));
    EXPECT_TRUE(Contains(lines, "    Product = H87-G43 (MS-7816)"));
    EXPECT_TRUE(Contains(lines, "    NrContainedElements = 1"));
    EXPECT_TRUE(Contains(lines, "    ContainedElements0 = (byte array)"));

    // Every structure line agrees with a C++ client, and none is missing.
    const auto expected = DecodedStructures();
    ASSERT_FALSE(expected.empty());
    const std::regex header(R"(Structure (\d+): type (\d+), handle 0x([0-9A-F]{4}))");
    std::map<unsigned, std::pair<unsigned, unsigned>> listed;
    for (const std::string& line : lines) {
        std::smatch m;
        if (std::regex_match(line, m, header))
            listed[std::stoul(m[1])] = {static_cast<unsigned>(std::stoul(m[2])),
                                        static_cast<unsigned>(std::stoul(m[3], nullptr, 16))};
    }
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(Contains(lines, std::to_string(expected.size()) + " structure(s) decoded"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::to_string(expected.size()) + " structure(s) decoded");
}

TEST_F(ScriptSample, ReportsAFailedInitializeWithItsExitCode) {
    ScopedEnvironment table(L"KORVIX_SMBIOS_TABLE", L"Z:\\no\\such\\table.bin");
    const ProcessResult run = RunSample();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3u) << run.output;
    EXPECT_EQ(run.output.rfind("Initialize failed: error 0x", 0), 0u) << run.output;
}
