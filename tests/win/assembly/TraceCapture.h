// Switches the test executable's trace object on for one test, writing every
// level with the module column into a file, and reads the records back.
// Modules loaded afterwards (the test component DLL) join it and write into
// the same file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/trace/ModuleTrace.h"

struct CapturedRecord {
    std::string level, module, className, method, category, text, details;
};

class TraceCapture {
public:
    // `file`: a full path in a folder the test removes afterwards.
    explicit TraceCapture(const std::string& file) : m_file(file) {
        DeleteFileA(file.c_str());
        const std::wstring wide(file.begin(), file.end());
        CCVireoTrace::Settings settings;
        settings.enabled = true;
        settings.level = 6;
        settings.fileName = wide.c_str();
        settings.moduleColumn = true;
        ModuleTraceObject().Apply(settings);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    ~TraceCapture() {
        CCVireoTrace::Settings off;
        off.enabled = false;
        ModuleTraceObject().Apply(off);
    }

    std::vector<CapturedRecord> Records() const {
        std::vector<CapturedRecord> records;
        HANDLE h =
            CreateFileA(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return records;
        std::string bytes;
        char chunk[65536];
        DWORD read = 0;
        while (ReadFile(h, chunk, sizeof chunk, &read, nullptr) && read > 0)
            bytes.append(chunk, read);
        CloseHandle(h);
        // UTF-16LE after the byte-order mark; every unit this system writes is <= 0xFF.
        std::string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += bytes[i + 1] == 0 ? bytes[i] : '?';
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::vector<std::string> fields;
            const std::string line = text.substr(start, end - start);
            size_t from = 0;
            for (size_t tab; fields.size() < 9 && (tab = line.find('\t', from)) != std::string::npos;
                 from = tab + 1)
                fields.push_back(line.substr(from, tab - from));
            fields.push_back(line.substr(from));
            if (fields.size() < 10) continue;
            records.push_back({fields[3], fields[4], fields[5], fields[6], fields[7], fields[8], fields[9]});
        }
        return records;
    }

    // Records whose text is `text`.
    std::vector<CapturedRecord> WithText(const std::string& text) const {
        std::vector<CapturedRecord> found;
        for (auto& record : Records())
            if (record.text == text) found.push_back(record);
        return found;
    }

private:
    std::string m_file;
};
