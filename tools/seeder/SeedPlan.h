#pragma once

// What the residue seeder lays out for each product: the folders, files, registry branches,
// install records, services and running programs that an installation (or a failed removal)
// of the product leaves, plus a few look-alikes that belong to no product's catalogue. Paths
// are relative to a base folder that the seeder resolves on the machine it runs on.

#include <string>
#include <vector>

namespace tidewell::seeder {

enum class Base {
    ProgramFiles,    // ProgramW6432, else ProgramFiles: the 64-bit program folder
    ProgramFilesX86, // ProgramFiles(x86)
    ProgramData,
    LocalAppData,
    RoamingAppData,
    Temp,        // the TEMP variable
    SystemDrive, // "C:\"
    PackageCache // ProgramData\Package Cache, where bootstrappers keep their uninstallers
};

// Registry hives as the seeder names them on command lines and in the manifest.
enum class Hive { Machine64, Machine32, User };

struct PathSeed {
    Base base;
    const wchar_t* path;
};

struct FileSeed {
    Base base;
    const wchar_t* path;
    const char* contents;
    bool readOnly = false;
};

struct KeySeed {
    Hive hive;
    const wchar_t* path;
    const wchar_t* valueName;
    const wchar_t* value;
};

// How an install record stores its DisplayName: as installers should, or as careless ones do.
enum class NameStorage { Terminated, Unterminated, OddByteCount, MultiString };

// Which uninstall values a record has. Both: the quiet one does the work, the plain one (an
// interactive uninstall) exits with 1602, as if the user had cancelled it.
enum class Commands { None, QuietOnly, PlainOnly, Both };

struct RecordSeed {
    Hive hive;
    const wchar_t* subkey; // under Software\Microsoft\Windows\CurrentVersion\Uninstall
    const wchar_t* displayName;
    const wchar_t* displayVersion; // empty: no DisplayVersion value
    const wchar_t* publisher;
    NameStorage storage;
    Commands commands;
    PathSeed removes; // the folder its uninstaller removes besides the record; path may be empty
    // A suite's main uninstaller: it hands its work to a copy of itself that works on after it
    // exited, and removes the record of this sibling (same hive) too; empty: neither.
    const wchar_t* sibling = L"";
};

struct ServiceSeed {
    const wchar_t* keyName;
    const wchar_t* displayName;
    PathSeed binary; // where the copy of the service program goes
    bool running;
};

// A copy of the waiting program under a product's executable name, started `copies` times.
struct ProcessSeed {
    PathSeed program;
    int copies;
};

// A value of the machine's (Machine64) or the user's environment, naming a folder. For "Path"
// the folder is an entry added at the end of the value and taken out again by "clear"; any
// other name is set, and deleted by "clear".
struct EnvironmentSeed {
    Hive hive;
    const wchar_t* name;
    PathSeed folder;
};

struct ProductPlan {
    const wchar_t* name; // autocad, solidworks, oracle
    std::vector<PathSeed> folders;
    std::vector<FileSeed> files;
    std::vector<KeySeed> keys;
    std::vector<RecordSeed> records;
    std::vector<ServiceSeed> services;
    std::vector<ProcessSeed> processes;
    bool installsPackage;      // the AutoCAD language pack MSI
    const wchar_t* oracleHome; // relative to SystemDrive; set as the user's ORACLE_HOME
    std::vector<EnvironmentSeed> environment;
    bool inAll = true; // seeded by "all"; a plan for one test only is not
    // What clearing removes besides records, services, processes and the package: whole
    // folders and registry branches that the seed owns.
    std::vector<PathSeed> clearFolders;
    std::vector<KeySeed> clearKeys; // value fields unused
};

const std::vector<ProductPlan>& Plans();

constexpr const wchar_t* kUninstallList =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kPackageCode = L"{6C3E2F0A-5B1D-4E27-9A41-2024C0DE0804}";
constexpr const wchar_t* kPackageFile = L"autocad-langpack.msi";

} // namespace tidewell::seeder
