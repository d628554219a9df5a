#include "TableBuilder.h"

#include <fstream>
#include <iterator>
#include <sstream>

Bytes Structure(uint8_t type, uint16_t handle, const Bytes& body, std::initializer_list<std::string> strings,
                int length) {
    Bytes s{type, static_cast<uint8_t>(length >= 0 ? length : 4 + static_cast<int>(body.size())),
            static_cast<uint8_t>(handle & 0xFF), static_cast<uint8_t>(handle >> 8)};
    s.insert(s.end(), body.begin(), body.end());
    for (const auto& str : strings) {
        s.insert(s.end(), str.begin(), str.end());
        s.push_back(0);
    }
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
    return Cat({U16(static_cast<uint16_t>(v)), U16(static_cast<uint16_t>(v >> 16))});
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string TestDataPath(const std::string& relative) {
    return std::string(KORVIX_TEST_DATA_DIR) + "/" + relative;
}

// The list comes from the checksum file, so no directory listing is needed;
// the malformed tables under broken/ are left out.
std::vector<std::string> RealTableNames() {
    std::ifstream in(TestDataPath("real/SHA256SUMS"));
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string sum, name;
        if (fields >> sum >> name) {
            if (!name.empty() && name[0] == '*') name.erase(0, 1);
            if (name.find('/') == std::string::npos) names.push_back(name); // broken/ is kept apart
        }
    }
    return names;
}
