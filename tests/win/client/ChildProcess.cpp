#include "ChildProcess.h"

#include <windows.h>

#include <thread>

#include "common/platform/ComWrappers.h"

namespace {

std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        if (c == L'"') slashes = slashes * 2 + 1;
        out.append(slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

void Drain(HANDLE pipe, std::string& into) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        into.append(buffer, n);
}

} // namespace

ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle outRead, outWrite, errRead, errWrite;
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, &inherit, 0)) {
        result.launchError = "CreatePipe failed";
        return result;
    }
    outRead.Reset(r);
    outWrite.Reset(w);
    if (!CreatePipe(&r, &w, &inherit, 0)) {
        result.launchError = "CreatePipe failed";
        return result;
    }
    errRead.Reset(r);
    errWrite.Reset(w);
    SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = Quote(exe);
    for (const std::wstring& a : args)
        commandLine += L" " + Quote(a);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite.Get();
    startup.hStdError = errWrite.Get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info)) {
        result.launchError = "CreateProcess failed with error " + std::to_string(GetLastError());
        return result;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    // Only the child may hold the write ends, or the reads never end.
    outWrite.Reset();
    errWrite.Reset();
    std::thread errors([&] { Drain(errRead.Get(), result.err); });
    Drain(outRead.Get(), result.out);
    errors.join();
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    result.exitCode = code;
    return result;
}
