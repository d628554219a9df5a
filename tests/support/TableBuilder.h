// Builds raw SMBIOS tables and single structures for tests, and finds the real tables of the test data.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One structure: header, `body` (the rest of the formatted area), strings; Length 4 + body size by default.
Bytes Structure(uint8_t type, uint16_t handle, const Bytes& body,
                std::initializer_list<std::string> strings = {}, int length = -1);
Bytes Table(std::initializer_list<Bytes> structures); // their concatenation
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes U16(uint16_t v); // little-endian
Bytes U32(uint32_t v);
Bytes HexBytes(const char* bytes); // "0010 FEFF 48": the bytes as written, spaces ignored

Bytes ReadFile(const std::string& path); // empty when it cannot be read
std::string TestDataPath(const std::string& relative);
std::vector<std::string> RealTableNames(); // the tables of real/, without folder
