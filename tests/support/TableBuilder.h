// Builds raw SMBIOS tables and single structures for tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One structure: header, formatted area (`body` follows the 4 header bytes),
// then the string set. Length is 4 + body size unless given.
Bytes Structure(uint8_t type, uint16_t handle, const Bytes& body,
                std::initializer_list<std::string> strings = {}, int length = -1);

// Concatenation of structures into one table.
Bytes Table(std::initializer_list<Bytes> structures);

// Little-endian helpers for bodies.
Bytes U16(uint16_t v);
Bytes U32(uint32_t v);
Bytes Cat(std::initializer_list<Bytes> parts);

// Reads a whole file; empty when it cannot be read.
Bytes ReadFile(const std::string& path);
// Names of the real tables in the test data (without folder).
std::vector<std::string> RealTableNames();
std::string TestDataPath(const std::string& relative);
