// Texts that explain a failure to the person at the console: system message
// texts for HRESULTs and where the component looks for its dependency table.
#pragma once

#include <windows.h>

#include <string>

// "0x80070002 (The system cannot find the file specified.)"; the text part
// is left out when the system has none.
std::string DescribeHResult(HRESULT hr);

// Where the dependency table of `feature` `version` is expected and what is
// wrong with it, as far as the registry and the file system tell.
std::string DescribeDependencyTable(const std::wstring& feature, const std::wstring& version);

// Printable ASCII rendering of a wide string for messages.
std::string Printable(const std::wstring& text);
