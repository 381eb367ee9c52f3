#pragma once

// A machine with residues of all three products, as a 32-bit build on 64-bit Windows sees it,
// and helpers that spell out the items a scan of it is expected to give.

#include "CatalogueExpected.h"

#include "catalogue/ResidueItem.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <string>
#include <vector>

namespace tidewell::catalogue_test {

const std::u16string kProgramFiles = u"C:\\Program Files";
const std::u16string kProgramFilesX86 = u"C:\\Program Files (x86)";
const std::u16string kProgramData = u"C:\\ProgramData";
const std::u16string kLocal = u"C:\\Users\\lin\\AppData\\Local";
const std::u16string kRoaming = u"C:\\Users\\lin\\AppData\\Roaming";
const std::u16string kTemp = u"C:\\Users\\lin\\AppData\\Local\\Temp";
const std::u16string kOracleHome = u"C:\\app\\lin\\product\\19.0.0\\dbhome_1";

// The environment of a 32-bit process on 64-bit Windows: "ProgramFiles" names the 32-bit folder.
inline void SetWindowsFolders(FakePlatform& machine) {
    machine.setEnvironment(u"ProgramFiles", kProgramFilesX86);
    machine.setEnvironment(u"ProgramW6432", kProgramFiles);
    machine.setEnvironment(u"ProgramFiles(x86)", kProgramFilesX86);
    machine.setEnvironment(u"ProgramData", kProgramData);
    machine.setEnvironment(u"TEMP", kTemp);
    machine.setEnvironment(u"TMP", u"C:\\Windows\\Temp");
    machine.setShellFolderPath(ShellFolder::LocalAppData, kLocal);
    machine.setShellFolderPath(ShellFolder::RoamingAppData, kRoaming);
    machine.addDirectory(kProgramFiles);
    machine.addDirectory(kProgramFilesX86);
    machine.addDirectory(kProgramData);
    machine.addDirectory(kTemp);
    machine.addDirectory(kRoaming);
    machine.addDirectory(u"C:\\Windows\\Temp");
}

// UTF-16LE bytes of exactly these code units, as the registry stores text.
inline std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

inline std::vector<std::u16string> Locations(const ItemList& items) {
    std::vector<std::u16string> locations;
    for (const auto& item : items) {
        locations.push_back(item->location);
    }
    return locations;
}

inline void AddRecord(FakePlatform& machine, RegistryRoot root, RegistryView view,
                      const std::u16string& subkey, const std::u16string& displayName,
                      const std::u16string& version, const std::u16string& quiet,
                      const std::u16string& plain) {
    const std::u16string path = kUninstall + u"\\" + subkey;
    machine.addKey(root, view, path);
    if (!displayName.empty()) {
        machine.setStringValue(root, view, path, u"DisplayName", displayName);
    }
    if (!version.empty()) {
        machine.setStringValue(root, view, path, u"DisplayVersion", version);
    }
    if (!quiet.empty()) {
        machine.setStringValue(root, view, path, u"QuietUninstallString", quiet);
    }
    if (!plain.empty()) {
        machine.setStringValue(root, view, path, u"UninstallString", plain);
    }
}

inline void AddFile(FakePlatform& machine, const std::u16string& path) {
    machine.addFile(path, "seed");
}

// Residues of all three products and some that belong to none, so that every scan also shows
// that it leaves the others' alone.
inline void SeedAllProducts(FakePlatform& machine) {
    SetWindowsFolders(machine);
    machine.setEnvironment(u"ORACLE_HOME", kOracleHome);

    // --- AutoCAD folders. The dynamic rows see the vendor folders' subfolders by name.
    AddFile(machine, kProgramFiles + u"\\Autodesk\\AutoCAD 2024\\acad.exe");
    AddFile(machine, kProgramFiles + u"\\Autodesk\\ACADE\\acade.dll");
    machine.addDirectory(kProgramFiles + u"\\Autodesk\\ACA 2024");
    machine.addDirectory(kProgramFiles + u"\\Autodesk\\Autodesk Desktop App");
    machine.addDirectory(kProgramFiles + u"\\Autodesk\\AdODIS");
    AddFile(machine, kProgramFiles + u"\\Autodesk\\AutoCAD.log");
    AddFile(machine, kProgramFilesX86 + u"\\Autodesk\\AutoCAD Performance Feedback Tool\\a.dll");
    AddFile(machine, kProgramData + u"\\Autodesk\\AutoCAD 2024\\R24.3\\chs\\acad.cfg");
    machine.addDirectory(kProgramData + u"\\Autodesk\\ODIS");
    machine.addDirectory(kProgramData + u"\\Autodesk\\AdskLicensingService");
    machine.addDirectory(kProgramData + u"\\Autodesk\\Adlm");
    machine.addDirectory(kLocal + u"\\Autodesk\\AutoCAD 2024");
    machine.addDirectory(kLocal + u"\\Autodesk\\ODIS");
    machine.addDirectory(kLocal + u"\\Autodesk\\Web Services");
    machine.addDirectory(kRoaming + u"\\Autodesk\\AutoCAD 2024");
    machine.addDirectory(kRoaming + u"\\Autodesk\\AutoCAD Electrical 2024");

    // --- SolidWorks folders.
    AddFile(machine, kProgramFiles + u"\\SOLIDWORKS Corp\\SOLIDWORKS\\SLDWORKS.exe");
    machine.addDirectory(kProgramFilesX86 + u"\\SOLIDWORKS Corp\\SOLIDWORKS Explorer");
    machine.addDirectory(kProgramData + u"\\SOLIDWORKS\\SOLIDWORKS 2023");
    machine.addDirectory(kLocal + u"\\SOLIDWORKS");
    machine.addDirectory(kRoaming + u"\\SOLIDWORKS");
    machine.addDirectory(kProgramFiles + u"\\Common Files\\SOLIDWORKS Shared");
    machine.addDirectory(kProgramData + u"\\DassaultSystemes");

    // --- Oracle folders.
    machine.addDirectory(kProgramFiles + u"\\Oracle\\Inventory\\ContentsXML");
    machine.addDirectory(kProgramFilesX86 + u"\\Oracle\\odac");
    machine.addDirectory(kProgramData + u"\\Oracle");
    machine.addDirectory(kLocal + u"\\Oracle");
    machine.addDirectory(kRoaming + u"\\Oracle");
    AddFile(machine, kOracleHome + u"\\bin\\oracle.exe");

    // --- Temporary entries (the fake lists them in folded-name order).
    AddFile(machine, kTemp + u"\\AutoCAD.log");
    machine.addDirectory(kTemp + u"\\Autodesk_Install");
    AddFile(machine, kTemp + u"\\acad_crash.dmp");
    machine.addDirectory(kTemp + u"\\_AutoCAD_tmp\\acad_nested");
    AddFile(machine, kTemp + u"\\my_acad.txt");
    AddFile(machine, kTemp + u"\\sldworks_fs.log");
    AddFile(machine, kTemp + u"\\my_sld.txt");
    machine.addDirectory(kTemp + u"\\XSolidWorksTmp");
    machine.addDirectory(kTemp + u"\\OraInstall2024-05-06_10-11-12AM");
    AddFile(machine, kTemp + u"\\orange.tmp");
    AddFile(machine, kTemp + u"\\Tools_for_Oracle.txt");
    AddFile(machine, kTemp + u"\\Aurora.tmp");
    // TMP is not read.
    AddFile(machine, u"C:\\Windows\\Temp\\AutoCAD_setup.log");

    // --- Registry branches: 64-bit view only, 32-bit view only, and the shared per-user branch.
    machine.addKey(kHKCU, k64, u"Software\\Autodesk\\AutoCAD\\R24.3\\ACAD-7101:804");
    machine.addKey(kHKLM, k64, u"Software\\Autodesk\\AutoCAD\\R24.3\\ACAD-7101:804");
    machine.addKey(kHKLM, k64, u"Software\\Autodesk\\Autodesk Desktop App");
    machine.addKey(kHKCU, k64, u"Software\\SolidWorks\\SOLIDWORKS 2023");
    machine.addKey(kHKLM, k64, u"Software\\SolidWorks\\SOLIDWORKS 2023");
    machine.addKey(kHKLM, k32, u"Software\\SolidWorks Corporation\\eDrawings");
    machine.addKey(kHKLM, k64, u"Software\\SolidWorks Corporation\\SOLIDWORKS 2023");
    machine.addKey(kHKCU, k32, u"Software\\Oracle\\SQL Developer");
    machine.addKey(kHKLM, k64, u"Software\\Oracle\\KEY_OraDB19Home1");
    machine.addKey(kHKLM, k32, u"Software\\Oracle\\KEY_OraClient19Home1_32bit");

    // --- Install records (the fake enumerates subkeys in folded-name order).
    AddRecord(machine, kHKLM, k64, u"{28B89EEF-6101-0409-2102-CF3F3A09B77D}",
              u"AutoCAD 2024 - English", u"24.3.61.0",
              u"\"C:\\ProgramData\\Package Cache\\acad\\test-uninstaller.exe\" --exit-code 0",
              u"\"C:\\ProgramData\\Package Cache\\acad\\test-uninstaller.exe\" --ui");
    AddRecord(machine, kHKLM, k64, u"{7E8C5E84-0000-0000-0000-000000000001}",
              u"Autodesk Desktop App", u"7.0.16", {}, u"C:\\adsk\\uninstall.exe");
    AddRecord(machine, kHKLM, k32, u"AutoCAD Performance Feedback Tool",
              u"AutoCAD Performance Feedback Tool", {}, {},
              u"MsiExec.exe /X{0D5A8F2B-2F2A-4E4A-9D2C-0A4B8C5E6F70}");
    // Written without its terminator by a careless installer: still read whole.
    {
        const std::u16string path = kUninstall + u"\\AutoCAD 2024 Language Pack";
        machine.setValue(kHKCU, k64, path, u"DisplayName", codes::kRegSz,
                         Utf16Bytes(u"AutoCAD 2024 Language Pack - 简体中文"));
        machine.setStringValue(kHKCU, k64, path, u"UninstallString",
                               u"%ProgramData%\\Package Cache\\langpack\\test-uninstaller.exe",
                               codes::kRegExpandSz);
    }
    // A multi-string display name is not a display name.
    machine.setStringValue(kHKLM, k32, kUninstall + u"\\AutoCAD Mechanical 2024", u"DisplayName",
                           u"AutoCAD Mechanical 2024", codes::kRegMultiSz);

    AddRecord(machine, kHKLM, k64, u"{B3DA8D13-2023-0500-0000-6E3A7C2E9F10}",
              u"SOLIDWORKS 2023 SP05", u"31.50.0047", {},
              u"\"C:\\Program Files\\Common Files\\SOLIDWORKS Installation Manager\\sldIM.exe\" "
              u"/uninstall");
    AddRecord(machine, kHKLM, k32, u"{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70}",
              u"eDrawings for SolidWorks 2023", {},
              u"MsiExec.exe /X{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70} /qn", {});

    AddRecord(machine, kHKLM, k64, u"Oracle_OraDB19Home1", u"Oracle Database 19c", u"19.3.0.0.0",
              {}, u"C:\\app\\lin\\product\\19.0.0\\dbhome_1\\deinstall\\deinstall.bat");
    AddRecord(machine, kHKLM, k32, u"OraClient19Home1_32bit", u"Oracle Database 19c Client", {}, {},
              {});
    AddRecord(machine, kHKCU, k64, u"SQL Developer 23.1", u"SQL Developer", u"23.1.1", {},
              u"C:\\sqldeveloper\\remove.exe");
    AddRecord(machine, kHKCU, k64, u"Tools for Oracle", u"Tools for Oracle", u"2.0", {},
              u"C:\\tfo\\uninst.exe");

    // --- Processes, in snapshot order.
    machine.addProcess(4, u"System");
    machine.addProcess(4312, u"acad.exe");
    machine.addProcess(5120, u"AdskLicensingAgent.exe");
    machine.addProcess(5200, u"acad2.exe");
    machine.addProcess(6001, u"SLDWORKS.exe");
    machine.addProcess(6002, u"SLDWORKS.exe");
    machine.addProcess(6100, u"sldProcMon.exe");
    machine.addProcess(7001, u"ORACLE.EXE");
    machine.addProcess(7002, u"TNSLSNR.EXE");
    machine.addProcess(7100, u"explorer.exe");

    // --- Services, in the manager's order.
    machine.addService(u"Spooler", u"Print Spooler", codes::kServiceRunning);
    machine.addService(u"AdskLicensingService", u"Autodesk Desktop Licensing Service",
                       codes::kServiceRunning);
    machine.addService(u"GenuineService", u"Autodesk Genuine Service", codes::kServiceStopped);
    machine.addService(u"SolidWorks Licensing Service", u"SOLIDWORKS Licensing Service",
                       codes::kServiceRunning);
    machine.addService(u"OracleServiceORCL", u"OracleServiceORCL", codes::kServiceRunning);
    machine.addService(u"OraDB19Home1TNSListener", u"OraDB19Home1TNSListener",
                       codes::kServiceStopped);
    machine.addService(u"AuroraSync", u"Ora Sync Helper", codes::kServiceRunning);
}

} // namespace tidewell::catalogue_test
