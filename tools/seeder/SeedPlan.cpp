#include "SeedPlan.h"

namespace tidewell::seeder {

namespace {

constexpr Base PF = Base::ProgramFiles;
constexpr Base PF86 = Base::ProgramFilesX86;
constexpr Base PD = Base::ProgramData;
constexpr Base LAD = Base::LocalAppData;
constexpr Base RAD = Base::RoamingAppData;
constexpr Base TMP = Base::Temp;
constexpr Base SYS = Base::SystemDrive;

constexpr Hive M64 = Hive::Machine64;
constexpr Hive M32 = Hive::Machine32;
constexpr Hive USR = Hive::User;

constexpr PathSeed kNothing = {Base::ProgramData, L""};

#define ORACLE_HOME L"app\\oracle\\product\\19.0.0\\dbhome_1"
#define ORACLE_CLIENT_HOME L"app\\client\\product\\19c\\client_1"

ProductPlan AutoCadPlan() {
    ProductPlan plan;
    plan.name = L"autocad";
    plan.folders = {
        {TMP, L"Autodesk_ODIS_Cache"},
    };
    plan.files = {
        // Program folders under the vendor folder: two AutoCAD ones (one named by the ACAD
        // prefix only), two of other Autodesk software, and a stray file.
        {PF, L"Autodesk\\AutoCAD 2024\\Support\\acad.cuix", "cuix"},
        {PF, L"Autodesk\\AutoCAD 2024\\Setup\\setup.ini", "[Setup]\r\n", true},
        {PF, L"Autodesk\\ACADE\\Support\\wd.env", "WD_ENV=1\r\n"},
        {PF, L"Autodesk\\Autodesk Desktop App\\AdAppMgr.config", "<config/>\r\n"},
        {PF, L"Autodesk\\AdODIS\\V1\\manifest.xml", "<manifest/>\r\n"},
        {PF, L"Autodesk\\AutoCAD.log", "log\r\n"},
        {PF86, L"Autodesk\\AutoCAD Performance Feedback Tool\\1.3.10\\PFTool.dll", "dll"},
        {PD, L"Autodesk\\AutoCAD 2024\\R24.3\\chs\\Support\\acad.lsp", "(princ)\r\n"},
        {PD, L"Autodesk\\ODIS\\metadata\\{28B89EEF-7101-0804-2102-CF3F3A09B77D}\\bundle.xml",
         "<bundle/>\r\n"},
        {PD, L"Autodesk\\AdskLicensingService\\AdskLicensingService.data", "data"},
        {PD, L"Autodesk\\Adlm\\ProductInformation.pit", "pit"},
        {LAD, L"Autodesk\\AutoCAD 2024\\R24.3\\chs\\Support\\Profiles\\FixedProfile.aws", "aws"},
        {LAD, L"Autodesk\\ODIS\\Logs\\install.log", "log\r\n"},
        {LAD, L"Autodesk\\Web Services\\LoginState.xml", "<state/>\r\n"},
        {RAD, L"Autodesk\\AutoCAD 2024\\R24.3\\chs\\Support\\acad.pgp", "L, *LINE\r\n"},
        {RAD, L"Autodesk\\AutoCAD Electrical 2024\\R24.3\\chs\\Support\\wd.env", "WD_ENV=1\r\n"},
        {RAD, L"Autodesk\\ADPSDK\\JSON\\adp.json", "{}\r\n"},
        {TMP, L"AutoCAD 2024 Install.log", "install\r\n"},
        {TMP, L"acad_2024_crash.dmp", "dump"},
        {TMP, L"my_acad_notes.txt", "notes\r\n"},
    };
    plan.keys = {
        {USR, L"Software\\Autodesk\\AutoCAD", L"CurVer", L"R24.3"},
        {USR, L"Software\\Autodesk\\AutoCAD\\R24.3\\ACAD-7101:804", L"ProductName",
         L"AutoCAD 2024 - 简体中文 (Simplified Chinese)"},
        {M64, L"Software\\Autodesk\\AutoCAD", L"CurVer", L"R24.3"},
        {M64, L"Software\\Autodesk\\AutoCAD\\R24.3\\ACAD-7101:804", L"ProductName",
         L"AutoCAD 2024 - 简体中文 (Simplified Chinese)"},
        {M64, L"Software\\Autodesk\\Autodesk Desktop App", L"Version", L"7.0.16.29"},
    };
    plan.records = {
        {M64,
         L"{28B89EEF-7101-0804-2102-CF3F3A09B77D}",
         L"AutoCAD 2024 - 简体中文 (Simplified Chinese)",
         L"24.3.61.0",
         L"Autodesk",
         NameStorage::Terminated,
         Commands::Both,
         {PF, L"Autodesk\\AutoCAD 2024"},
         L"{28B89EEF-7101-0804-3102-CF3F3A09B77D}"},
        // An add-on of the suite: the suite's uninstaller takes its record along.
        {M64, L"{28B89EEF-7101-0804-3102-CF3F3A09B77D}", L"AutoCAD 2024 Express Tools", L"",
         L"Autodesk", NameStorage::Terminated, Commands::QuietOnly, kNothing},
        {M64, L"{5E8C4E1F-1B6A-4D8E-A0D1-7A1D3E5B9C20}", L"Autodesk Desktop App", L"7.0.16.29",
         L"Autodesk", NameStorage::Terminated, Commands::QuietOnly, kNothing},
        {M64, L"{28B89EEF-7105-0804-2102-CF3F3A09B77D}", L"AutoCAD Mechanical 2024", L"24.3.61.0",
         L"Autodesk", NameStorage::MultiString, Commands::PlainOnly, kNothing},
        {M32,
         L"{5783F2D7-D001-4E80-9C5A-1E5A7C2E3A10}",
         L"AutoCAD Performance Feedback Tool 1.3.10",
         L"",
         L"Autodesk",
         NameStorage::Terminated,
         Commands::PlainOnly,
         {PF86, L"Autodesk\\AutoCAD Performance Feedback Tool"}},
        {USR, L"AutoCADWebLauncher", L"AutoCAD Web Launcher", L"1.0.4", L"Autodesk",
         NameStorage::Unterminated, Commands::QuietOnly, kNothing},
    };
    plan.services = {
        {L"AdskLicensingService",
         L"Autodesk Desktop Licensing Service",
         {PF86, L"Common Files\\Autodesk Shared\\AdskLicensing\\Current\\AdskLicensingService\\"
                L"AdskLicensingService.exe"},
         true},
        {L"GenuineService",
         L"Autodesk Genuine Service",
         {PF86, L"Common Files\\Autodesk Shared\\Genuine Service\\GenuineService.exe"},
         false},
    };
    plan.processes = {
        {{PF, L"Autodesk\\AutoCAD 2024\\acad.exe"}, 1},
        {{PF86, L"Common Files\\Autodesk Shared\\AdskLicensing\\Current\\AdskLicensingAgent\\"
                L"AdskLicensingAgent.exe"},
         1},
        {{PF, L"Autodesk\\AutoCAD 2024\\AcEventSync.exe"}, 1},
    };
    plan.installsPackage = true;
    plan.oracleHome = nullptr;
    plan.clearFolders = {
        {PF, L"Autodesk"},
        {PF86, L"Autodesk"},
        {PF86, L"Common Files\\Autodesk Shared"},
        {PD, L"Autodesk"},
        {LAD, L"Autodesk"},
        {RAD, L"Autodesk"},
        {TMP, L"Autodesk_ODIS_Cache"},
        {TMP, L"AutoCAD 2024 Install.log"},
        {TMP, L"acad_2024_crash.dmp"},
        {TMP, L"my_acad_notes.txt"},
    };
    plan.clearKeys = {
        {USR, L"Software\\Autodesk", nullptr, nullptr},
        {M64, L"Software\\Autodesk", nullptr, nullptr},
        {M32, L"Software\\Autodesk", nullptr, nullptr},
    };
    return plan;
}

ProductPlan SolidWorksPlan() {
    ProductPlan plan;
    plan.name = L"solidworks";
    plan.folders = {
        {TMP, L"SOLIDWORKS Installation Manager"},
    };
    plan.files = {
        {PF, L"SOLIDWORKS Corp\\SOLIDWORKS\\sldappu.dll", "dll"},
        {PF, L"SOLIDWORKS Corp\\eDrawings\\eDrawings.exe.config", "<configuration/>\r\n"},
        {PF86, L"SOLIDWORKS Corp\\SOLIDWORKS Explorer\\Explorer.dll", "dll"},
        {PD, L"SOLIDWORKS\\SOLIDWORKS 2023\\templates\\Part.prtdot", "template"},
        {LAD, L"SOLIDWORKS\\SOLIDWORKS 2023\\Backup\\swbackup.ini", "[Backup]\r\n"},
        {RAD, L"SOLIDWORKS\\SOLIDWORKS 2023\\Custom\\sldreg.ini", "[Custom]\r\n"},
        {PF, L"Common Files\\SOLIDWORKS Shared\\Toolbox\\swbrowser.sldedb", "db"},
        {PD, L"DassaultSystemes\\Licensing\\license.dat", "license"},
        {TMP, L"sldworks_fs.log", "fs\r\n"},
        {TMP, L"my_sld.txt", "notes\r\n"},
    };
    plan.keys = {
        {USR, L"Software\\SolidWorks\\SOLIDWORKS 2023\\General", L"Language",
         L"chinese-simplified"},
        {M64, L"Software\\SolidWorks\\SOLIDWORKS 2023\\Setup", L"SolidWorks Folder",
         L"C:\\Program Files\\SOLIDWORKS Corp\\SOLIDWORKS\\"},
        {M32, L"Software\\SolidWorks Corporation\\eDrawings 2023", L"Version", L"31.5"},
    };
    plan.records = {
        {M64,
         L"{B3DA8D13-2023-0500-9A52-6E3A7C2E9F10}",
         L"SOLIDWORKS 2023 SP05",
         L"31.50.0047",
         L"Dassault Systemes SolidWorks Corp",
         NameStorage::Terminated,
         Commands::PlainOnly,
         {PF, L"SOLIDWORKS Corp\\SOLIDWORKS"}},
        {M32, L"{0F6C4E1A-2023-0000-8B7C-7D9A1B3C5E70}", L"eDrawings 2023 for SOLIDWORKS (32-bit)",
         L"", L"Dassault Systemes SolidWorks Corp", NameStorage::Terminated, Commands::QuietOnly,
         kNothing},
        {USR, L"SOLIDWORKSConnected", L"SOLIDWORKS Connected", L"2023.1",
         L"Dassault Systemes SolidWorks Corp", NameStorage::OddByteCount, Commands::QuietOnly,
         kNothing},
    };
    plan.services = {
        {L"SolidWorks Licensing Service",
         L"SOLIDWORKS Licensing Service",
         {PF, L"Common Files\\SOLIDWORKS Shared\\Service\\SolidWorksLicensing.exe"},
         true},
    };
    plan.processes = {
        {{PF, L"SOLIDWORKS Corp\\SOLIDWORKS\\SLDWORKS.exe"}, 2},
        {{PF, L"SOLIDWORKS Corp\\SOLIDWORKS\\sldProcMon.exe"}, 1},
    };
    plan.installsPackage = false;
    plan.oracleHome = nullptr;
    plan.clearFolders = {
        {PF, L"SOLIDWORKS Corp"},  {PF86, L"SOLIDWORKS Corp"},
        {PD, L"SOLIDWORKS"},       {LAD, L"SOLIDWORKS"},
        {RAD, L"SOLIDWORKS"},      {PF, L"Common Files\\SOLIDWORKS Shared"},
        {PD, L"DassaultSystemes"}, {TMP, L"SOLIDWORKS Installation Manager"},
        {TMP, L"sldworks_fs.log"}, {TMP, L"my_sld.txt"},
    };
    plan.clearKeys = {
        {USR, L"Software\\SolidWorks", nullptr, nullptr},
        {M64, L"Software\\SolidWorks", nullptr, nullptr},
        {M32, L"Software\\SolidWorks", nullptr, nullptr},
        {M64, L"Software\\SolidWorks Corporation", nullptr, nullptr},
        {M32, L"Software\\SolidWorks Corporation", nullptr, nullptr},
    };
    return plan;
}

ProductPlan OraclePlan() {
    ProductPlan plan;
    plan.name = L"oracle";
    plan.folders = {
        {TMP, L"OraInstall2024-05-06_10-11-12AM"},
    };
    plan.files = {
        {SYS, ORACLE_HOME L"\\network\\admin\\tnsnames.ora", "ORCL = (DESCRIPTION = )\r\n"},
        {PF, L"Oracle\\Inventory\\ContentsXML\\inventory.xml", "<INVENTORY/>\r\n"},
        {PF86, L"Oracle\\odac\\odp.net\\managed\\Oracle.ManagedDataAccess.dll", "dll"},
        // Java's command folder: ProgramData\Oracle is not only the database's.
        {PD, L"Oracle\\Java\\javapath\\java.exe.txt", "java"},
        {LAD, L"Oracle\\SQL Developer\\system23.1.1\\cache.dat", "cache"},
        {RAD, L"Oracle\\SQL Developer\\connections.json", "{}\r\n"},
        {PD, L"Aurora\\settings.ini", "[Aurora]\r\n"},
        {TMP, L"oracle_setup.log", "setup\r\n"},
        {TMP, L"orange.tmp", "not Oracle's, but named like it\r\n"},
        {TMP, L"Aurora.tmp", "tmp"},
    };
    plan.keys = {
        {USR, L"Software\\Oracle\\SQL Developer", L"Version", L"23.1.1"},
        {M64, L"Software\\Oracle\\KEY_OraDB19Home1", L"ORACLE_HOME", L"C:\\" ORACLE_HOME},
        {M32, L"Software\\Oracle\\KEY_OraClient19Home1_32bit", L"ORACLE_HOME",
         L"C:\\app\\oracle\\product\\19.0.0\\client_32"},
    };
    plan.records = {
        {M64,
         L"OraDB19Home1",
         L"Oracle Database 19c",
         L"19.3.0.0.0",
         L"Oracle Corporation",
         NameStorage::Terminated,
         Commands::PlainOnly,
         {SYS, ORACLE_HOME}},
        {M32, L"OraClient19Home1_32bit", L"Oracle Database 19c Client (32-bit)", L"",
         L"Oracle Corporation", NameStorage::Terminated, Commands::None, kNothing},
        {USR, L"SQL Developer 23.1", L"SQL Developer", L"23.1.1", L"Oracle Corporation",
         NameStorage::Terminated, Commands::QuietOnly, kNothing},
        {USR, L"Tools for Oracle", L"Tools for Oracle", L"2.0", L"Quest", NameStorage::Terminated,
         Commands::PlainOnly, kNothing},
    };
    plan.services = {
        {L"OracleVssWriterORCL",
         L"OracleVssWriterORCL",
         {SYS, ORACLE_HOME L"\\bin\\OraVSSW.exe"},
         true},
        {L"OraDB19Home1TNSListener",
         L"OraDB19Home1TNSListener",
         {SYS, ORACLE_HOME L"\\bin\\OraTnsSvc.exe"},
         false},
        // Named like Oracle only in its display name: not Oracle's.
        {L"AuroraSync", L"Ora Sync Helper", {PD, L"Aurora\\AuroraSync.exe"}, false},
    };
    plan.processes = {
        {{SYS, ORACLE_HOME L"\\bin\\oracle.exe"}, 1},
        {{SYS, ORACLE_HOME L"\\bin\\TNSLSNR.EXE"}, 1},
    };
    plan.installsPackage = false;
    plan.oracleHome = ORACLE_HOME;
    // What a removed 12.2 client left in the environment: its home as the machine's ORACLE_HOME
    // and its bin folder in the user's Path. Neither folder exists.
    plan.environment = {
        {Hive::Machine64, L"ORACLE_HOME", {SYS, L"app\\oracle\\product\\12.2.0\\client_1"}},
        {Hive::User, L"Path", {SYS, L"app\\oracle\\product\\12.2.0\\client_1\\bin"}},
    };
    plan.clearFolders = {
        {SYS, L"app"},
        {PF, L"Oracle"},
        {PF86, L"Oracle"},
        {PD, L"Oracle"},
        {LAD, L"Oracle"},
        {RAD, L"Oracle"},
        {PD, L"Aurora"},
        {TMP, L"OraInstall2024-05-06_10-11-12AM"},
        {TMP, L"oracle_setup.log"},
        {TMP, L"orange.tmp"},
        {TMP, L"Aurora.tmp"},
    };
    plan.clearKeys = {
        {USR, L"Software\\Oracle", nullptr, nullptr},
        {M64, L"Software\\Oracle", nullptr, nullptr},
        {M32, L"Software\\Oracle", nullptr, nullptr},
    };
    return plan;
}

// Oracle products that stay in use: a database home inside Program Files\Oracle whose service
// runs, a client home elsewhere that ORACLE_HOME names, Java's folder inside ProgramData\Oracle,
// and VirtualBox, whose title the Oracle record rule takes and whose uninstaller removes its
// record and folder.
ProductPlan OracleInUsePlan() {
    ProductPlan plan;
    plan.name = L"oracle-in-use";
    plan.inAll = false;
    plan.files = {
        {PF, L"Oracle\\dbhome_2\\database\\initXE.ora", "db_name=XE\r\n"},
        {PF, L"Oracle\\dbhome_2\\network\\admin\\listener.ora", "LISTENER = ()\r\n"},
        {PF, L"Oracle\\VirtualBox\\VBoxSVC.exe.txt", "vbox"},
        {SYS, ORACLE_CLIENT_HOME L"\\network\\admin\\tnsnames.ora", "XE = ()\r\n"},
        {SYS, ORACLE_CLIENT_HOME L"\\bin\\oci.dll", "oci"},
        {PD, L"Oracle\\Java\\javapath\\java.exe.txt", "java"},
        {PD, L"Oracle\\odp.net\\trace.log", "trace"},
    };
    plan.records = {
        {M64,
         L"Oracle VM VirtualBox",
         L"Oracle VM VirtualBox",
         L"7.0.14",
         L"Oracle Corporation",
         NameStorage::Terminated,
         Commands::QuietOnly,
         {PF, L"Oracle\\VirtualBox"}},
    };
    plan.services = {
        {L"OracleServiceXE", L"OracleServiceXE", {PF, L"Oracle\\dbhome_2\\bin\\ORACLE.EXE"}, true},
    };
    plan.installsPackage = false;
    plan.oracleHome = ORACLE_CLIENT_HOME;
    plan.clearFolders = {{SYS, L"app\\client"}, {PF, L"Oracle"}, {PD, L"Oracle"}};
    return plan;
}

} // namespace

const std::vector<ProductPlan>& Plans() {
    static const std::vector<ProductPlan> plans{AutoCadPlan(), SolidWorksPlan(), OraclePlan(),
                                                OracleInUsePlan()};
    return plans;
}

} // namespace tidewell::seeder
