// Runs korvix.exe as a child process and captures what it writes.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    unsigned long exitCode = 0xFFFFFFFFu;
    std::string out;
    std::string err;
    std::string launchError; // empty when the process ran
};

// `exe` is a full path; `args` are quoted as needed.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args);
