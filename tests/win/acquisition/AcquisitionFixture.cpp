#include "AcquisitionFixture.h"

#include <cstdio>

#include "core/com/CSmBiosImpl.h"

namespace {

LONG SetKeyValue(const std::string& path, const char* name, const std::string& value) {
    RegKey key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 key.Put(), nullptr);
    if (error != ERROR_SUCCESS) return error;
    return RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

Bstr Wide(const char* s) {
    std::wstring w;
    for (; *s != 0; ++s)
        w += static_cast<wchar_t>(*s);
    return Bstr(w.c_str());
}

} // namespace

FakeAccessorRegistration::FakeAccessorRegistration() {
    GUID clsid{};
    EXPECT_EQ(CoCreateGuid(&clsid), S_OK);
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(clsid.Data1), clsid.Data2, clsid.Data3, clsid.Data4[0],
                  clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5],
                  clsid.Data4[6], clsid.Data4[7]);
    clsidText_ = text;
    std::snprintf(text, sizeof text, "KorvixAcqTest.C%08lX.1", static_cast<unsigned long>(clsid.Data1));
    progId_ = text;
    const std::string server = "Software\\Classes\\CLSID\\" + clsidText_ + "\\InprocServer32";
    EXPECT_EQ(SetKeyValue(server, nullptr, ExecutableFolder() + "fake_torvel_access.dll"), ERROR_SUCCESS);
    EXPECT_EQ(SetKeyValue(server, "ThreadingModel", "Both"), ERROR_SUCCESS);
    EXPECT_EQ(SetKeyValue("Software\\Classes\\" + progId_ + "\\CLSID", nullptr, clsidText_), ERROR_SUCCESS);
}

FakeAccessorRegistration::~FakeAccessorRegistration() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\CLSID\\" + clsidText_).c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + progId_).c_str());
}

Bytes DefaultTable() {
    Bytes bios(0x14, 0);
    bios[0] = 1; // Vendor: string 1
    return Table({Structure(0, 0x0000, bios, {"Quarnex"}), Structure(4, 0x0400, Bytes(0x1E, 0)),
                  Structure(127, 0x7F00, {})});
}

AcquisitionTest::AcquisitionTest() {
    library_.Reset(LoadLibraryA((ExecutableFolder() + "fake_torvel_access.dll").c_str()));
    auto control = reinterpret_cast<FakeAccessorControlFn>(
        reinterpret_cast<void*>(GetProcAddress(library_.Get(), "FakeAccessorControl")));
    EXPECT_NE(control, nullptr) << "fake_torvel_access.dll beside the test executable";
    if (control == nullptr) return;
    fake_ = control();
    fake_->script = FakeAccessorScript{};
    fake_->log = FakeAccessorLog{};
    Deliver(DefaultTable());
    WriteDependencyTable(true);
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, object_.PutVoid()), S_OK);
}

void AcquisitionTest::WriteDependencyTable(bool mapAccessor) {
    const std::string dependency =
        mapAccessor ? ComDependencyXml("fake_torvel_access.dll", "1.0.0.0", registration_.ProgId(),
                                       "AcTorvel.TorvelAccess")
                    : ComDependencyXml("Unrelated.dll", "1.0.0.0", "Unrelated.Thing.1", "Unrelated.Thing");
    const std::string self = "<context name=\"" + std::string(kContext) +
                             "\">\r\n<assemblyIdentity name=\"test_acquisition.exe\" version=\"*\">\r\n"
                             "<dependencies>\r\n" +
                             dependency + "</dependencies>\r\n</assemblyIdentity>\r\n</context>\r\n";
    m_tables.Write(std::string(kFeature) + "_" + kVersion + ".xml", FeatureXml(kFeature, kVersion, self));
}

VARIANT_BOOL AcquisitionTest::ComponentInitialize(const char* feature) {
    Bstr f = Wide(feature), v = Wide(kVersion), c = Wide(kContext);
    VARIANT_BOOL result = 99;
    EXPECT_EQ(object_->ComponentInitialize(f.Get(), v.Get(), c.Get(), &result), S_OK);
    return result;
}

void AcquisitionTest::Deliver(const Bytes& table) {
    ASSERT_LE(table.size(), sizeof fake_->script.table);
    std::copy(table.begin(), table.end(), fake_->script.table);
    fake_->script.tableSize = static_cast<ULONG>(table.size());
}

bool AcquisitionTest::Uninitialised() {
    Variant names, values;
    ULONG retVal = 99;
    const HRESULT first = object_->GetFirstInstanceOfType(0, names.Get(), values.Get(), &retVal);
    const bool guarded = first == E_FAIL && retVal == 1;
    retVal = 99;
    const HRESULT index = object_->EnumAllInstances(0, names.Get(), values.Get(), &retVal);
    return guarded && index == E_FAIL && retVal == 1;
}

std::vector<std::string> AcquisitionTest::InitializeRecords() const {
    std::vector<std::string> lines;
    for (const auto& r : m_trace.Records())
        if (r.className == "CSmBiosImpl" && r.method == "Initialize")
            lines.push_back(r.level + "|" + r.category + "|" + r.text + "|" + r.details);
    return lines;
}
