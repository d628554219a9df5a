// Installs the built component for the lifetime of a test: registers
// Korvix.dll and TorvelAccess.dll from the test executable's folder, points
// "DependencyTables" at a fresh folder holding the feature's dependency
// table, and undoes all of it (restoring an earlier "DependencyTables").
//
// Tests that use it touch machine-wide state: give them the ctest resource
// locks "korvix_accessor_registration" and "QuarnexCommonRegistry".
#pragma once

#include <windows.h>

#include <string>

class ComponentInstall {
public:
    // The feature context the shipped dependency table describes.
    static constexpr const char* kFeature = "Korvix";
    static constexpr const char* kVersion = "1.05";
    static constexpr const char* kContext = "Client";
    static constexpr const wchar_t* kFeatureW = L"Korvix";
    static constexpr const wchar_t* kVersionW = L"1.05";
    static constexpr const wchar_t* kContextW = L"Client";

    // `tableXml` replaces the shipped dependency table when not empty.
    explicit ComponentInstall(const std::string& tableXml = std::string());
    ~ComponentInstall();
    ComponentInstall(const ComponentInstall&) = delete;
    ComponentInstall& operator=(const ComponentInstall&) = delete;

    // Empty when everything is in place; otherwise what failed.
    const std::string& Error() const { return error_; }
    const std::wstring& Folder() const { return folder_; }
    // The folder of the test executable (where the built DLLs are).
    static std::wstring BinaryFolder();

private:
    bool Register(const wchar_t* dll, bool on);

    std::string error_;
    std::wstring folder_;
    std::wstring savedTables_;
    bool hadTables_ = false;
    bool createdParent_ = false; // HKLM\SOFTWARE\Quarnex
    bool createdCommon_ = false; // HKLM\SOFTWARE\Quarnex\Common
    bool registeredKorvix_ = false;
    bool registeredAccessor_ = false;
};
