// The built Korvix.dll and TorvelAccess.dll registered and "DependencyTables" pointing at a fresh
// folder with the feature's table, for the lifetime of a test (ctest resource locks
// "korvix_accessor_registration" and "QuarnexCommonRegistry"); and the one DLL loader.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/platform/ComWrappers.h"

// A DLL loaded for the life of the object, and its exports.
class Dll {
public:
    explicit Dll(const std::wstring& path) : library_(LoadLibraryW(path.c_str())) {}
    template <class F> F Export(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library_.Get(), name)));
    }
    // An export without arguments that returns an HRESULT; E_NOTIMPL when missing.
    HRESULT Call(const char* name) const {
        const auto entry = Export<HRESULT(STDAPICALLTYPE*)()>(name);
        return entry ? entry() : E_NOTIMPL;
    }

private:
    LibraryHandle library_;
};

class ComponentInstall {
public:
    // The feature context the shipped dependency table describes.
    static constexpr const char *kFeature = "Korvix", *kVersion = "1.05", *kContext = "Client";
    static constexpr const wchar_t *kFeatureW = L"Korvix", *kVersionW = L"1.05", *kContextW = L"Client";

    // `tableXml` replaces the shipped dependency table when not empty.
    explicit ComponentInstall(const std::string& tableXml = std::string());
    ~ComponentInstall();
    ComponentInstall(const ComponentInstall&) = delete;
    ComponentInstall& operator=(const ComponentInstall&) = delete;

    const std::string& Error() const { return error_; } // empty, or what failed
    std::wstring Folder() const;                        // of the dependency table
    static std::wstring BinaryFolder();                 // of the test executable, where the built DLLs are

private:
    struct State; // the table's folder and the "DependencyTables" value to put back
    std::unique_ptr<State> state_;
    std::string error_;
    bool registered_[2] = {};
};
