// Installs the built component for the lifetime of a test: registers
// Korvix.dll and TorvelAccess.dll from the test executable's folder and points
// "DependencyTables" at a fresh folder holding the feature's dependency table;
// all of it is undone at the end. Tests that use it need the ctest resource
// locks "korvix_accessor_registration" and "QuarnexCommonRegistry".
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/platform/ComWrappers.h"

class HklmKey;
class TempFolder;

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

    // Empty when everything is in place; otherwise what failed.
    const std::string& Error() const { return error_; }
    std::wstring Folder() const; // of the dependency table
    // The folder of the test executable, where the built DLLs are.
    static std::wstring BinaryFolder();

private:
    std::string error_;
    std::unique_ptr<TempFolder> tables_;
    std::unique_ptr<HklmKey> common_;
    bool registered_[2] = {};
};
