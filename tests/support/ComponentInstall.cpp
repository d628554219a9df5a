#include "ComponentInstall.h"

#include <fstream>
#include <iterator>

#include "Registry.h"
#include "TraceFile.h"

static const wchar_t* const kDlls[] = {L"TorvelAccess.dll", L"Korvix.dll"};

struct ComponentInstall::State {
    TempFolder tables;
    HklmKey common{"SOFTWARE\\Quarnex\\Common"};
};

std::wstring ComponentInstall::Folder() const {
    return state_->tables.Path().wstring();
}

std::wstring ComponentInstall::BinaryFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring file(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return file.substr(0, file.find_last_of(L"\\/"));
}

ComponentInstall::ComponentInstall(const std::string& tableXml) : state_(std::make_unique<State>()) {
    std::ifstream shipped(KORVIX_SOURCE_DIR "/module/deptables/Korvix_1.05.xml", std::ios::binary);
    const std::string xml =
        tableXml.empty() ? std::string(std::istreambuf_iterator<char>(shipped), {}) : tableXml;
    state_->tables.Write("Korvix_1.05.xml", xml);
    if (xml.empty() || !state_->common.SetString("DependencyTables", state_->tables.Path().string())) {
        error_ = "cannot put the dependency table in place";
        return;
    }
    for (int i = 0; i < 2; ++i)
        registered_[i] = SUCCEEDED(Dll(BinaryFolder() + L"\\" + kDlls[i]).Call("DllRegisterServer"));
    if (!registered_[0] || !registered_[1]) error_ = "registration failed";
}

ComponentInstall::~ComponentInstall() {
    for (int i = 1; i >= 0; --i)
        if (registered_[i]) Dll(BinaryFolder() + L"\\" + kDlls[i]).Call("DllUnregisterServer");
}
