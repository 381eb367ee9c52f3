#pragma once

#include "platform/fake/FakePlatform.h"
#include "support/RegFile.h"

#include <functional>
#include <string>
#include <vector>

namespace tidewell {

using FakeChildHandler = std::function<FakeChildBehaviour(const std::u16string& commandLine)>;

// Splits a command line as a program's runtime does: the program name up to its closing quote,
// then arguments with the backslash and double-quote rules.
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);

// A child handler that acts as System32\reg.exe for "export <key> <file> [/y] [/reg:64|/reg:32]":
// when the key exists in the view and the file's folder exists, the child writes a .reg file
// (UTF-16LE with a byte-order mark, the editor header, the key and its subkeys as sections with
// their values, as FormatRegFile writes them) and exits 0; otherwise it exits 1 and writes nothing.
// Without /y and with the file present it waits at its prompt for ever, as the real tool does.
// Every other command line goes to `otherwise` (by default: a program that cannot be found, code
// 2). The tool itself must be a file of the machine (addFile(u"C:\\Windows\\System32\\reg.exe"));
// without it the start fails with 2, as a missing program does. Install it with
// machine.onChild(FakeRegExport(machine)).
FakeChildHandler FakeRegExport(FakePlatform& machine, FakeChildHandler otherwise = {});

// The bytes reg.exe writes for these sections: REG_SZ as "text" (up to its first zero, \ and "
// escaped), a four-byte REG_DWORD as dword:, everything else as hex: or hex(N): lists wrapped
// before 80 columns with a backslash, the next line indented by two blanks.
std::string FormatRegFile(const std::vector<RegFileKey>& keys);

} // namespace tidewell
