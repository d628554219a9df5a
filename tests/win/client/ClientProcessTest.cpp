// korvix.exe as a user runs it: a child process against the registered
// component, decoding the real tables of tests/data/real with --file, checked
// against Debian's dmidecode output for the same bytes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ChildProcess.h"
#include "ComponentInstall.h"
#include "Json.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"

namespace {

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

std::wstring KorvixExe() {
    return ComponentInstall::BinaryFolder() + L"\\korvix.exe";
}

std::wstring TablePath(const std::string& name) {
    return Widen(TestDataPath("real/" + name + ".bin"));
}

// What dmidecode reports for one table.
struct Oracle {
    struct Structure {
        unsigned handle = 0;
        unsigned type = 0;
        std::map<std::string, std::string> fields; // "Vendor" -> "Dell Inc." (first level only)
    };
    std::vector<Structure> structures;

    size_t Count(unsigned type) const {
        return std::count_if(structures.begin(), structures.end(),
                             [&](const Structure& s) { return s.type == type; });
    }
};

Oracle ReadOracle(const std::string& name) {
    Oracle oracle;
    std::ifstream in(TestDataPath("real/" + name + ".dmidecode.txt"));
    std::string line;
    while (std::getline(in, line)) {
        unsigned handle = 0, type = 0;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u,", &handle, &type) == 2) {
            oracle.structures.push_back({handle, type, {}});
        } else if (!oracle.structures.empty() && line.size() > 1 && line[0] == '\t' && line[1] != '\t') {
            const size_t colon = line.find(": ");
            if (colon != std::string::npos)
                oracle.structures.back().fields.emplace(line.substr(1, colon - 1), line.substr(colon + 2));
        }
    }
    return oracle;
}

std::vector<std::string> HeaderLines(const std::string& text) {
    std::vector<std::string> headers;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != ' ') headers.push_back(line);
    return headers;
}

std::vector<std::string> RealTables() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("real"))) {
        if (entry.path().extension() == ".bin") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

class Client : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(install.Error(), ""); }

    ProcessResult Run(std::vector<std::wstring> args) {
        ProcessResult r = RunProcess(KorvixExe(), args);
        EXPECT_EQ(r.launchError, "");
        return r;
    }

    ComponentInstall install;
};

// The decoder types of the component; the OEM types are left out because a
// signature test may refuse a structure of theirs.
bool HasDecoder(unsigned type) {
    return type <= 12 || type == 16 || type == 17 || type == 39;
}

class ClientOnRealTable : public Client, public ::testing::WithParamInterface<std::string> {};

} // namespace

TEST_P(ClientOnRealTable, TextAndJsonDumpsMatchDmidecode) {
    const std::string name = GetParam();
    const Oracle oracle = ReadOracle(name);
    ASSERT_FALSE(oracle.structures.empty());
    const size_t expected = oracle.structures.size() - oracle.Count(127);

    const ProcessResult text = Run({L"dump", L"--file", TablePath(name)});
    ASSERT_EQ(text.exitCode, 0u) << text.err;
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(HeaderLines(text.out).size(), expected) << "one header per structure, end-of-table excluded";

    const ProcessResult json = Run({L"--json", L"--file", TablePath(name)});
    ASSERT_EQ(json.exitCode, 0u) << json.err;
    JsonValue root;
    std::string error;
    ASSERT_TRUE(ParseJson(json.out, root, error)) << error;
    ASSERT_EQ(root.kind, JsonValue::Array);
    ASSERT_EQ(root.items.size(), expected);

    // Enumeration order: ascending type, table order within a type.
    std::map<unsigned, std::vector<unsigned>> decodedHandles;
    double lastType = -1;
    for (size_t i = 0; i < root.items.size(); ++i) {
        const JsonValue& r = root.items[i];
        ASSERT_EQ(r.Find("index")->number, static_cast<double>(i));
        if (!r.Find("decoded")->boolean) continue;
        const double type = r.Find("type")->number;
        EXPECT_GE(type, lastType) << "record " << i;
        lastType = type;
        const JsonValue& attributes = *r.Find("attributes");
        ASSERT_GE(attributes.items.size(), 3u);
        EXPECT_EQ(attributes.items[0].Find("name")->text, L"Type");
        EXPECT_EQ(attributes.items[0].Find("value")->number, type);
        EXPECT_EQ(attributes.items[1].Find("name")->text, L"Length");
        EXPECT_EQ(attributes.items[2].Find("name")->text, L"Handle");
        EXPECT_EQ(attributes.items[2].Find("value")->number, r.Find("handle")->number);
        decodedHandles[static_cast<unsigned>(type)].push_back(
            static_cast<unsigned>(r.Find("handle")->number));
    }
    std::map<unsigned, std::vector<unsigned>> oracleHandles;
    for (const auto& s : oracle.structures)
        if (HasDecoder(s.type)) oracleHandles[s.type].push_back(s.handle);
    for (const auto& [type, handles] : oracleHandles)
        EXPECT_EQ(decodedHandles[type], handles) << "type " << type;

    // Identity strings as dmidecode prints them.
    auto textOf = [&](unsigned type, const wchar_t* attribute) -> std::string {
        for (const JsonValue& r : root.items)
            if (r.Find("decoded")->boolean && r.Find("type")->number == type)
                for (const JsonValue& a : r.Find("attributes")->items)
                    if (a.Find("name")->text == attribute) return Narrow(a.Find("value")->text);
        return "<none>";
    };
    const struct {
        unsigned type;
        const char* dmidecodeField;
        const wchar_t* attribute;
    } identities[] = {{0, "Vendor", L"Vendor"},
                      {0, "Version", L"Version"},
                      {1, "Manufacturer", L"Manufacturer"},
                      {1, "Product Name", L"ProductName"}};
    size_t compared = 0;
    for (const auto& id : identities) {
        const auto s = std::find_if(oracle.structures.begin(), oracle.structures.end(),
                                    [&](const Oracle::Structure& x) { return x.type == id.type; });
        if (s == oracle.structures.end()) continue;
        const auto field = s->fields.find(id.dmidecodeField);
        if (field == s->fields.end() || field->second == "Not Specified") continue;
        EXPECT_EQ(textOf(id.type, id.attribute), field->second) << id.dmidecodeField;
        ++compared;
    }
    EXPECT_GT(compared, 0u) << "every table names at least its BIOS vendor";
}

INSTANTIATE_TEST_SUITE_P(Corpus, ClientOnRealTable, ::testing::ValuesIn(RealTables()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param;
                             std::replace_if(
                                 n.begin(), n.end(), [](char c) { return !isalnum(c); }, '_');
                             return n;
                         });

TEST_F(Client, TypeAndHandleSelectStructures) {
    const std::wstring table = TablePath("dell-poweredge-r640-3.0");
    const Oracle oracle = ReadOracle("dell-poweredge-r640-3.0");

    ProcessResult r = Run({L"--type", L"17", L"--file", table});
    ASSERT_EQ(r.exitCode, 0u) << r.err;
    std::vector<std::string> headers = HeaderLines(r.out);
    EXPECT_EQ(headers.size(), oracle.Count(17));
    EXPECT_EQ(headers.size(), 24u);
    for (const std::string& h : headers)
        EXPECT_EQ(h.rfind("Type 17, handle 0x", 0), 0u) << h;

    r = Run({L"--type", L"0x11", L"--json", L"--file", table});
    JsonValue root;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, root, error)) << error;
    ASSERT_EQ(root.items.size(), 24u);
    EXPECT_EQ(root.items[0].Find("index"), nullptr) << "GetAllInstancesOfType gives no positions";
    EXPECT_EQ(root.items[23].Find("type")->number, 17);

    // A processor by its handle, in decimal and in hex.
    const auto cpu = std::find_if(oracle.structures.begin(), oracle.structures.end(),
                                  [](const Oracle::Structure& s) { return s.type == 4; });
    ASSERT_NE(cpu, oracle.structures.end());
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", cpu->handle);
    for (const std::wstring& handle : {std::to_wstring(cpu->handle), Widen(hex)}) {
        r = Run({L"--handle", handle, L"--file", table});
        ASSERT_EQ(r.exitCode, 0u) << r.err;
        headers = HeaderLines(r.out);
        ASSERT_EQ(headers.size(), 1u);
        EXPECT_EQ(headers[0], std::string("Type 4, handle ") + hex);
    }

    // A structure of a type without decoder is found and said to be so.
    const auto ipmi = std::find_if(oracle.structures.begin(), oracle.structures.end(),
                                   [](const Oracle::Structure& s) { return s.type == 38; });
    ASSERT_NE(ipmi, oracle.structures.end());
    r = Run({L"--handle", std::to_wstring(ipmi->handle), L"--file", table});
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.out.find("type without decoder (RetVal 4)"), std::string::npos) << r.out;

    // Misses.
    ASSERT_EQ(std::count_if(oracle.structures.begin(), oracle.structures.end(),
                            [](const Oracle::Structure& s) { return s.handle == 0xBEEF; }),
              0);
    r = Run({L"--handle", L"0xBEEF", L"--json", L"--file", table});
    EXPECT_EQ(r.exitCode, 5u);
    EXPECT_EQ(r.err, "korvix: no structure with handle 0xBEEF\n");
    ASSERT_TRUE(ParseJson(r.out, root, error)) << error;
    EXPECT_TRUE(root.items.empty()) << "still one valid JSON document";

    ASSERT_EQ(oracle.Count(5), 0u);
    r = Run({L"--type", L"5", L"--file", table});
    EXPECT_EQ(r.exitCode, 5u);
    EXPECT_EQ(r.err, "korvix: no structure of type 5\n");
    EXPECT_EQ(r.out, "");
    r = Run({L"--type", L"5", L"--json", L"--file", table});
    EXPECT_EQ(r.exitCode, 5u);
    ASSERT_TRUE(ParseJson(r.out, root, error)) << error;
    EXPECT_TRUE(root.items.empty());

    r = Run({L"--type", L"13", L"--file", table});
    EXPECT_EQ(r.exitCode, 6u);
    EXPECT_EQ(r.err, "korvix: structures of type 13 have no decoder\n");
}

// Toshiba's type-128 structure fails the signature test of its decoder: the
// handle is found, the record is empty, and the type query reports it.
TEST_F(Client, StructureRefusedByItsDecoder) {
    const std::wstring table = TablePath("toshiba-satellite-pro-l70-2.7");
    const Oracle oracle = ReadOracle("toshiba-satellite-pro-l70-2.7");
    ASSERT_EQ(oracle.Count(128), 1u);

    ProcessResult r = Run({L"--handle", L"0x003E", L"--file", table});
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(
        r.out,
        "Structure with handle 0x003E: the decoder refused the structure (RetVal 0, no attributes)\n\n");

    r = Run({L"--type", L"128", L"--file", table});
    EXPECT_EQ(r.exitCode, 5u);
    EXPECT_NE(r.err.find("could not be decoded (GetAllInstancesOfType: RetVal 3"), std::string::npos)
        << r.err;
}

TEST_F(Client, CommandLineErrorsAndHelp) {
    ProcessResult r = Run({L"--bogus"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "korvix: unknown option '--bogus' (korvix --help lists the options)\n");
    EXPECT_EQ(r.out, "");

    r = Run({L"--help"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_NE(r.out.find("--file PATH"), std::string::npos);
    EXPECT_NE(r.out.find("Exit codes:"), std::string::npos);
}

TEST_F(Client, ComponentThatIsNotRegisteredIsNamed) {
    // A ProgID that nothing registered.
    const std::wstring unknown = L"Korvix.NotRegistered" + std::to_wstring(GetCurrentProcessId());
    ProcessResult r = Run({L"--progid", unknown});
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_NE(r.err.find("\"" + Narrow(unknown) + "\" is not registered (0x800401F3"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("regsvr32"), std::string::npos);

    // A ProgID whose class has no server: registered by name only.
    GUID guid;
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    wchar_t clsid[64];
    StringFromGUID2(guid, clsid, 64);
    const std::wstring dangling = L"Korvix.Dangling" + std::to_wstring(GetCurrentProcessId());
    {
        RegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (dangling + L"\\CLSID").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.Put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid),
                       static_cast<DWORD>((wcslen(clsid) + 1) * sizeof(wchar_t)));
    }
    r = Run({L"--progid", dangling});
    RegDeleteKeyW(HKEY_CLASSES_ROOT, (dangling + L"\\CLSID").c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, dangling.c_str());
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_NE(r.err.find("is not registered (0x80040154"), std::string::npos) << r.err;
}

TEST_F(Client, MissingDependencyTableNamesTheRegistryValueAndFile) {
    const ProcessResult r = Run({L"--feature", L"KorvixMissing", L"--file", TablePath("vmware-vm-2.7")});
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ComponentInitialize failed for feature \"KorvixMissing\" version \"1.05\" context "
                         "\"Client\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("value \"DependencyTables\" = \"" + Narrow(install.Folder()) + "\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("KorvixMissing_1.05.xml does not exist"), std::string::npos) << r.err;

    // The shipped table exists but has no such context: the component model
    // accepts the context, and creating the driver-access component fails.
    const ProcessResult other = Run({L"--context", L"Server", L"--file", TablePath("vmware-vm-2.7")});
    EXPECT_EQ(other.exitCode, 4u);
    EXPECT_NE(other.err.find("Initialize failed: 0x80004005"), std::string::npos) << other.err;
    EXPECT_NE(other.err.find("\"AcTorvel.TorvelAccess\" could not be created"), std::string::npos)
        << other.err;
    EXPECT_NE(other.err.find("context \"Server\""), std::string::npos) << other.err;
}

TEST(ClientDependencyTable, BrokenTableIsNamed) {
    ComponentInstall install("<feature name=\"Korvix\" version=\"1.05\"><context");
    ASSERT_EQ(install.Error(), "");
    const ProcessResult r = RunProcess(KorvixExe(), {L"--file", TablePath("vmware-vm-2.7")});
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_NE(r.err.find("\\Korvix_1.05.xml exists but could not be used"), std::string::npos) << r.err;
}

// Korvix.dll registered alone: Initialize cannot create the driver-access
// component. (The installation's destructor unregisters it once more,
// which does no harm.)
TEST_F(Client, DriverAccessComponentNotRegistered) {
    {
        LibraryHandle accessor(
            LoadLibraryW((ComponentInstall::BinaryFolder() + L"\\TorvelAccess.dll").c_str()));
        ASSERT_NE(accessor.Get(), nullptr);
        using Entry = HRESULT(STDAPICALLTYPE*)();
        auto unregister = reinterpret_cast<Entry>(
            reinterpret_cast<void*>(GetProcAddress(accessor.Get(), "DllUnregisterServer")));
        ASSERT_NE(unregister, nullptr);
        ASSERT_EQ(unregister(), S_OK);
    }
    const ProcessResult r = Run({L"--file", TablePath("vmware-vm-2.7")});
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_NE(r.err.find("Initialize failed: 0x80004005"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("is TorvelAccess.dll registered"), std::string::npos) << r.err;
}

TEST_F(Client, UnreadableTableFilesFailInitializeWithTheirError) {
    ProcessResult r = Run({L"--file", L"Z:\\no\\such\\table.bin"});
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Initialize failed: 0x80070003"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the table file \"Z:\\no\\such\\table.bin\""), std::string::npos) << r.err;

    // An empty file holds no table.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring empty =
        std::wstring(temp) + L"korvix-empty-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
    UniqueHandle(CreateFileW(empty.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    r = Run({L"--json", L"--file", empty});
    DeleteFileW(empty.c_str());
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_NE(r.err.find("Initialize failed: 0x8007000D"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "no partial document";
}
