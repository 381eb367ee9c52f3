#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tidewell {

struct RegFileValue {
    std::u16string name; // empty: the default value ("@=")
    uint32_t type = 0;
    std::vector<uint8_t> data; // what importing the line stores
};

struct RegFileKey {
    std::u16string name; // as the section gives it: HKEY_LOCAL_MACHINE\...
    std::vector<RegFileValue> values;
};

struct RegFile {
    bool parsed = false;
    size_t errorLine = 0;         // when not parsed: the first line (from 1) that is not understood
    std::vector<RegFileKey> keys; // file order
};

// Reads a registry export as reg.exe writes it: UTF-16LE with a byte-order mark, the line
// "Windows Registry Editor Version 5.00", then [key] sections whose lines are "name"= or @=
// followed by "text", dword:xxxxxxxx, hex:... or hex(N):... (hex lists continued over lines
// that end in a backslash). A "text" value is stored as REG_SZ with its terminating zero.
// Anything else, deletions ([-key], =-) included, makes the file unparsed: it is not an export.
RegFile ParseRegFile(const std::string& bytes);

// A registry file, as ParseRegFile reads it and "reg import" restores it, that holds one value of
// one key: its type and bytes as stored (dword:xxxxxxxx for a REG_DWORD of four bytes, hex(N):
// otherwise, hex: for REG_BINARY), its name with \ and \" escaped. keyName as a section gives it:
// HKEY_CURRENT_USER\Environment.
std::string RegFileOfValue(const std::u16string& keyName, const std::u16string& valueName,
                           uint32_t type, const std::vector<uint8_t>& data);

} // namespace tidewell
