#include "TableBuilder.h"

#include <cstdio>
#include <fstream>
#include <iterator>

Bytes Structure(uint8_t type, uint16_t handle, const Bytes& body, std::initializer_list<std::string> strings,
                int length) {
    Bytes s = Cat({{type, static_cast<uint8_t>(length >= 0 ? length : 4 + body.size())}, U16(handle), body});
    for (const auto& str : strings)
        s.insert(s.end(), str.c_str(), str.c_str() + str.size() + 1);
    if (strings.size() == 0) s.push_back(0);
    s.push_back(0);
    return s;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Table(std::initializer_list<Bytes> structures) {
    return Cat(structures);
}
Bytes U16(uint16_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}
Bytes U32(uint32_t v) {
    return Cat({U16(v & 0xFFFF), U16(v >> 16)});
}

Bytes HexBytes(const char* bytes) {
    Bytes out;
    for (unsigned v = 0; *bytes != 0; bytes += *bytes == ' ' ? 1 : 2)
        if (*bytes != ' ' && std::sscanf(bytes, "%2x", &v) == 1) out.push_back(static_cast<uint8_t>(v));
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TestDataPath(const std::string& relative) {
    return std::string(KORVIX_TEST_DATA_DIR) + "/" + relative;
}

// From the checksum file, without the malformed tables under broken/.
std::vector<std::string> RealTableNames() {
    std::ifstream in(TestDataPath("real/SHA256SUMS"));
    std::vector<std::string> names;
    for (std::string sum, name; in >> sum >> name;)
        if (name.find('/') == std::string::npos) names.push_back(name);
    return names;
}
