// Helpers of the component model tests: the HKLM values the assembly reads,
// a private temporary folder for dependency tables, and registration of the
// test component DLL under a fresh class id.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TraceCapture.h"
#include "common/platform/ComWrappers.h"

// Saves "DependencyTables" and "ComponentRoot" of HKLM\SOFTWARE\Quarnex\Common
// and puts them back (or removes them) on destruction; removes the key again
// when it did not exist.
class CommonRegistryValues {
public:
    CommonRegistryValues();
    CommonRegistryValues(const CommonRegistryValues&) = delete;
    CommonRegistryValues& operator=(const CommonRegistryValues&) = delete;
    ~CommonRegistryValues();

    void Set(const char* name, const std::string& value, DWORD type = REG_SZ);
    void Remove(const char* name);

private:
    struct Saved {
        bool present = false;
        DWORD type = 0;
        std::string data;
    };
    Saved Save(const char* name);
    void Restore(const char* name, const Saved& saved);

    bool m_keyExisted = false;
    Saved m_dependencyTables;
    Saved m_componentRoot;
};

// A fresh folder under the temporary folder, deleted with its files.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::string& Path() const { return m_path; }
    // Writes `content` to Path()\name; returns the full file name.
    std::string Write(const std::string& name, const std::string& content) const;
    void Delete(const std::string& name) const;

private:
    std::string m_path;
};

// Registers assembly_testcomp.dll (beside the test executable) as an
// in-process server with threading model "Both" under a fresh CLSID and the
// ProgID "KorvixAsmTest.C<hex>.1" in HKLM\Software\Classes (Wine does not look ProgIDs up in HKCU); removed
// again on destruction.
class TestComponentRegistration {
public:
    TestComponentRegistration();
    TestComponentRegistration(const TestComponentRegistration&) = delete;
    TestComponentRegistration& operator=(const TestComponentRegistration&) = delete;
    ~TestComponentRegistration();

    const CLSID& Clsid() const { return m_clsid; }
    const std::string& ProgId() const { return m_progId; }

private:
    CLSID m_clsid{};
    std::string m_clsidText;
    std::string m_progId;
};

// Folder of the running test executable, with a trailing backslash.
std::string ExecutableFolder();
// The file name and full path of the running test executable.
std::string ExecutablePath();

// The XML of a dependency table: one feature holding the given inner XML.
std::string FeatureXml(const std::string& name, const std::string& version, const std::string& inner,
                       const std::string& extraAttributes = "");
// An assemblyIdentity entry for the test executable in `context`, with the
// given version and dependency elements.
std::string SelfEntryXml(const std::string& context, const std::string& version,
                         const std::string& dependencies);
std::string ComDependencyXml(const std::string& name, const std::string& version, const std::string& progId,
                             const std::string& viProgId);

std::string Narrow(BSTR s);

// Each case: a multithreaded apartment, the HKLM values saved and restored,
// "DependencyTables" pointing to a fresh folder, no "ComponentRoot", and
// every trace record going into a file in that folder.
class AssemblyTestBase : public ::testing::Test {
protected:
    AssemblyTestBase() {
        m_registry.Set("DependencyTables", m_tables.Path());
        m_registry.Remove("ComponentRoot");
    }

    // Records with this text, written by method `method` at `level`.
    std::vector<CapturedRecord> Traced(const std::string& level, const std::string& method,
                                       const std::string& text) const {
        std::vector<CapturedRecord> found;
        for (auto& record : m_trace.WithText(text))
            if (record.level == level && record.method == method) found.push_back(record);
        return found;
    }

    ComApartment m_apartment{COINIT_MULTITHREADED};
    CommonRegistryValues m_registry;
    TempFolder m_tables;
    // Switched off again before the folder that holds the file goes.
    TraceCapture m_trace{m_tables.Path() + "\\assembly.trc"};
};
