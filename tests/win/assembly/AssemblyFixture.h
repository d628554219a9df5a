// The fixture of the component model tests: a multithreaded apartment,
// "DependencyTables" of HKLM\SOFTWARE\Quarnex\Common pointing to a fresh
// folder (put back afterwards), no "ComponentRoot", and this executable's
// trace object writing every level with the module column into that folder.
// Modules loaded meanwhile (the test component DLL) join it.
#pragma once

#include "../trace/TraceFileReader.h"
#include "common/trace/ModuleTrace.h"

class AssemblyTest : public ::testing::Test {
protected:
    AssemblyTest() {
        registry.SetString("DependencyTables", tables.Narrow());
        registry.Remove("ComponentRoot");
        CCVireoTrace::Settings settings;
        settings.level = 6;
        settings.fileName = traceFile.c_str();
        settings.moduleColumn = true;
        ModuleTraceObject().Apply(settings);
    }
    ~AssemblyTest() override {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }

    // Records with this level, method and text.
    std::vector<kit::Record> Traced(const std::string& level, const std::string& method,
                                    const std::string& text) const {
        std::vector<kit::Record> found;
        for (const kit::Record& r : kit::Records(traceFile, true))
            if (r.level == level && r.method == method && r.text == text) found.push_back(r);
        return found;
    }

    ComApartment apartment{COINIT_MULTITHREADED};
    kit::HklmKey registry{"SOFTWARE\\Quarnex\\Common"};
    kit::TempFolder tables;
    const std::wstring traceFile = tables.File(L"assembly.trc");
};
