#pragma once

#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeRegExport.h"
#include "support/Text.h"

#include <string>

namespace tidewell {

// A 64-bit machine with the folders, variables and tools the workflows reach, and no residue.
inline void PrepareWorkflowMachine(FakePlatform& machine) {
    machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
    machine.setEnvironment(u"ProgramW6432", u"C:\\Program Files");
    machine.setEnvironment(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
    machine.setEnvironment(u"ProgramData", u"C:\\ProgramData");
    machine.setEnvironment(u"TEMP", u"C:\\Users\\u\\AppData\\Local\\Temp");
    machine.addDirectory(u"C:\\Program Files");
    machine.addDirectory(u"C:\\Program Files (x86)");
    machine.addDirectory(u"C:\\ProgramData");
    machine.addDirectory(u"C:\\Users\\u\\AppData\\Local\\Temp");
    machine.addDirectory(u"C:\\Users\\u\\AppData\\Roaming");
    machine.addDirectory(u"C:\\Users\\u\\Documents");
    machine.addDirectory(u"C:\\Users\\u\\Desktop");
    machine.setShellFolderPath(ShellFolder::LocalAppData, u"C:\\Users\\u\\AppData\\Local");
    machine.setShellFolderPath(ShellFolder::RoamingAppData, u"C:\\Users\\u\\AppData\\Roaming");
    machine.setShellFolderPath(ShellFolder::Documents, u"C:\\Users\\u\\Documents");
    machine.setShellFolderPath(ShellFolder::Desktop, u"C:\\Users\\u\\Desktop");
    machine.setWindowsDirectory(u"C:\\Windows");
    machine.addFile(u"C:\\Windows\\System32\\reg.exe");
    machine.addFile(u"C:\\Windows\\System32\\msiexec.exe");
    machine.setLocalTime({2025, 3, 7, 9, 17, 33});
}

constexpr const char16_t* kBackupFolder =
    u"C:\\Users\\u\\Documents\\TidewellBackup\\20250307_091733";
constexpr const char16_t* kLogPath = u"C:\\Users\\u\\Desktop\\Tidewell日志_20250307_091733.txt";

// The run log's bytes on the machine, and those of a log with this title and body.
inline std::string LogFile(const FakePlatform& machine) {
    return machine.fileContents(kLogPath).value_or("<no log>");
}
inline std::string LogBytes(const std::u16string& title, const std::u16string& body) {
    return "\xEF\xBB\xBF" + ToUtf8(title + u"\r\n时间：2025-3-7 9:17:33\r\n\r\n" + body);
}

} // namespace tidewell
