#include "catalogue/ScanCollector.h"

#include "support/Environment.h"
#include "support/ProtectedFolders.h"
#include "support/Text.h"

#include <iterator>

namespace tidewell {

namespace {

enum class Base { ProgramFiles, ProgramFilesX86, ProgramData, LocalAppData, RoamingAppData };

enum class Rule {
    Fixed,       // one named folder
    Dynamic,     // the AutoCAD-like subfolders of a vendor folder
    Environment, // the folder an environment variable names
};

struct FolderRow {
    Rule rule;
    Base base;
    bool x86Only;
    const char16_t* subPath; // Environment rows: the variable's name
    const char16_t* category;
    RiskLevel risk;
    bool checked;
    const char16_t* note; // Dynamic rows build theirs per match
};

constexpr RiskLevel kSafe = RiskLevel::Safe;
constexpr RiskLevel kConfirm = RiskLevel::NeedsConfirm;
constexpr RiskLevel kHigh = RiskLevel::HighRisk;

// Version numbers are part of AutoCAD's folder names, so its vendor folders are searched by name.
const FolderRow kAutoCadRows[] = {
    {Rule::Dynamic, Base::ProgramFiles, false, u"Autodesk", u"程序文件", kConfirm, true, u""},
    {Rule::Dynamic, Base::ProgramFilesX86, true, u"Autodesk", u"程序文件（32位）", kConfirm, true,
     u""},
    {Rule::Dynamic, Base::ProgramData, false, u"Autodesk", u"公共数据", kSafe, true, u""},
    {Rule::Dynamic, Base::LocalAppData, false, u"Autodesk", u"当前用户数据", kSafe, true, u""},
    {Rule::Dynamic, Base::RoamingAppData, false, u"Autodesk", u"当前用户配置", kSafe, true, u""},
    {Rule::Fixed, Base::ProgramData, false, u"Autodesk\\ODIS", u"共享安装组件", kHigh, false,
     u"Autodesk 多产品共享安装服务，仅在所有 Autodesk 产品均卸载后考虑清理。"},
    {Rule::Fixed, Base::LocalAppData, false, u"Autodesk\\ODIS", u"共享安装组件", kHigh, false,
     u"Autodesk 安装服务缓存，其他 Autodesk 产品可能使用。"},
    {Rule::Fixed, Base::ProgramData, false, u"Autodesk\\AdskLicensingService", u"共享许可组件",
     kHigh, false, u"Autodesk 许可服务数据，删除可能影响其他 Autodesk 产品。"},
};

const FolderRow kSolidWorksRows[] = {
    {Rule::Fixed, Base::ProgramFiles, false, u"SOLIDWORKS Corp", u"程序文件", kConfirm, true,
     u"SolidWorks 主程序及组件目录。"},
    {Rule::Fixed, Base::ProgramFilesX86, true, u"SOLIDWORKS Corp", u"程序文件（32位）", kConfirm,
     true, u"SolidWorks 32 位组件目录。"},
    {Rule::Fixed, Base::ProgramData, false, u"SOLIDWORKS", u"公共数据", kSafe, true,
     u"SolidWorks 公共配置及缓存。"},
    {Rule::Fixed, Base::LocalAppData, false, u"SOLIDWORKS", u"当前用户数据", kSafe, true,
     u"当前用户 SolidWorks 缓存。"},
    {Rule::Fixed, Base::RoamingAppData, false, u"SOLIDWORKS", u"当前用户配置", kSafe, true,
     u"当前用户 SolidWorks 配置。"},
    {Rule::Fixed, Base::ProgramFiles, false, u"Common Files\\SOLIDWORKS Shared", u"共享组件", kHigh,
     false, u"不同 SolidWorks 产品可能共用此目录。"},
    {Rule::Fixed, Base::ProgramData, false, u"DassaultSystemes", u"共享许可组件", kHigh, false,
     u"Dassault Systèmes 共享许可及产品数据，可能被其他产品使用。"},
};

const FolderRow kOracleRows[] = {
    {Rule::Fixed, Base::ProgramFiles, false, u"Oracle", u"程序文件", kConfirm, true,
     u"Oracle 产品目录，可能包含数据库、客户端或开发工具。"},
    {Rule::Fixed, Base::ProgramFilesX86, true, u"Oracle", u"程序文件（32位）", kConfirm, true,
     u"Oracle 32 位客户端及组件目录。"},
    {Rule::Fixed, Base::ProgramData, false, u"Oracle", u"公共数据", kSafe, true,
     u"Oracle 公共配置和缓存。"},
    {Rule::Fixed, Base::LocalAppData, false, u"Oracle", u"当前用户数据", kSafe, true,
     u"当前用户 Oracle 缓存。"},
    {Rule::Fixed, Base::RoamingAppData, false, u"Oracle", u"当前用户配置", kSafe, true,
     u"当前用户 Oracle 配置。"},
    {Rule::Environment, Base::ProgramFiles, false, u"ORACLE_HOME", u"环境变量目录", kHigh, false,
     u"ORACLE_HOME 指向的目录；检测到有效环境变量，因此默认不选。"},
    {Rule::Fixed, Base::ProgramFiles, false, u"Oracle\\Inventory", u"共享安装组件", kHigh, false,
     u"Oracle Universal Installer 产品清单，多个 Oracle Home 可能共用。"},
    // Java's installer puts the java.exe of the system PATH here (javapath), inside the folder
    // the database's data row takes.
    {Rule::Fixed, Base::ProgramData, false, u"Oracle\\Java", u"共享组件", kHigh, false,
     u"Java 运行环境的目录，系统 PATH 中的 java.exe 位于其中（javapath），不属于 Oracle "
     u"数据库；删除后本机的 Java 程序将无法启动，因此默认不选。"},
};

// Temporary entries are taken when the name contains a product word or starts with a prefix.
struct TempNameTests {
    const char16_t* contains;
    const char16_t* prefixes[2];
    const char16_t* numbered; // a prefix followed by digits only, or nullptr
};

// SolidWorks names its temporary folders "swx" and a number (swx1234).
const TempNameTests kAutoCadTemp = {u"autocad", {u"autodesk", u"acad"}, nullptr};
const TempNameTests kSolidWorksTemp = {u"solidworks", {u"sld", nullptr}, u"swx"};
const TempNameTests kOracleTemp = {u"oracle", {u"ora", nullptr}, nullptr};

const TempNameTests& TempTestsFor(ProductKind product) {
    if (product == ProductKind::AutoCAD) {
        return kAutoCadTemp;
    }
    if (product == ProductKind::SolidWorks) {
        return kSolidWorksTemp;
    }
    return kOracleTemp;
}

bool TempNameMatches(const TempNameTests& tests, const std::u16string& name) {
    if (ContainsNoCase(name, tests.contains)) {
        return true;
    }
    for (const char16_t* prefix : tests.prefixes) {
        if (prefix != nullptr && StartsWithNoCase(name, prefix)) {
            return true;
        }
    }
    if (tests.numbered == nullptr || !StartsWithNoCase(name, tests.numbered)) {
        return false;
    }
    const std::u16string digits = name.substr(std::char_traits<char16_t>::length(tests.numbered));
    return !digits.empty() && digits.find_first_not_of(u"0123456789") == std::u16string::npos;
}

struct Bases {
    std::u16string programFiles;
    std::u16string programFilesX86;
    std::u16string programData;
    std::u16string localAppData;
    std::u16string roamingAppData;

    const std::u16string& of(Base base) const {
        switch (base) {
        case Base::ProgramFilesX86:
            return programFilesX86;
        case Base::ProgramData:
            return programData;
        case Base::LocalAppData:
            return localAppData;
        case Base::RoamingAppData:
            return roamingAppData;
        case Base::ProgramFiles:
        default:
            return programFiles;
        }
    }

    // The 32-bit folder is a folder of its own only on 64-bit Windows.
    bool hasSeparateX86Folder() const {
        return !programFilesX86.empty() && ToLower(programFiles) != ToLower(programFilesX86);
    }
};

Bases ReadBases(Platform& platform) {
    Bases bases;
    // A 32-bit process reads "ProgramFiles" as the 32-bit folder; "ProgramW6432" names the
    // 64-bit one, where current products install.
    bases.programFiles = ReadEnvironmentVariable(platform, u"ProgramW6432");
    if (bases.programFiles.empty()) {
        bases.programFiles = ReadEnvironmentVariable(platform, u"ProgramFiles");
    }
    bases.programFilesX86 = ReadEnvironmentVariable(platform, u"ProgramFiles(x86)");
    bases.programData = ReadEnvironmentVariable(platform, u"ProgramData");
    bases.localAppData = ShellFolderPath(platform, ShellFolder::LocalAppData);
    bases.roamingAppData = ShellFolderPath(platform, ShellFolder::RoamingAppData);
    return bases;
}

} // namespace

void ScanCollector::scanFolders() {
    const Bases bases = ReadBases(platform);

    const FolderRow* first = std::begin(kOracleRows);
    const FolderRow* last = std::end(kOracleRows);
    if (product == ProductKind::AutoCAD) {
        first = std::begin(kAutoCadRows);
        last = std::end(kAutoCadRows);
    } else if (product == ProductKind::SolidWorks) {
        first = std::begin(kSolidWorksRows);
        last = std::end(kSolidWorksRows);
    }

    for (const FolderRow* row = first; row != last; ++row) {
        if (row->rule == Rule::Environment) {
            // Installers and users often write "C:\app\oracle\product\19c\": without the
            // separator the folder has its title and meets its other sightings.
            const std::u16string value =
                DropTrailingSeparators(ReadEnvironmentVariable(platform, row->subPath));
            if (!value.empty()) {
                addFolderIfExists(value, row->category, row->risk, row->checked, row->note);
            }
            continue;
        }
        if (row->x86Only && !bases.hasSeparateX86Folder()) {
            continue;
        }
        // An empty base would leave a relative path, tested against the current folder.
        const std::u16string& base = bases.of(row->base);
        if (base.empty()) {
            continue;
        }
        const std::u16string path = JoinPath(base, row->subPath);
        if (row->rule == Rule::Dynamic) {
            scanDirectoryNames(path, u"AutoCAD", row->category, row->risk, row->checked);
        } else {
            addFolderIfExists(path, row->category, row->risk, row->checked, row->note);
        }
    }

    scanTempEntries(ReadEnvironmentVariable(platform, u"TEMP"));
}

void ScanCollector::scanDirectoryNames(const std::u16string& base, const std::u16string& keyword,
                                       const std::u16string& category, RiskLevel risk,
                                       bool checked) {
    if (base.empty() || !platform.fileAttributes(base).isDirectory()) {
        return;
    }
    const DirectoryListing listing = platform.listDirectory(base);
    if (listing.error != 0) {
        return;
    }
    // Product folders such as ACADE carry the short name instead of the word AutoCAD.
    const bool acadPrefixCounts = ToLower(keyword) == u"autocad";
    const std::u16string note = u"目录名动态匹配 " + productName(product) + u"，不依赖固定版本号。";
    for (const DirectoryEntry& entry : listing.entries) {
        platform.lookAtQueue();
        if (!FileAttributes{0, entry.attributes}.isDirectory() || entry.name == u"." ||
            entry.name == u"..") {
            continue;
        }
        if (ContainsNoCase(entry.name, keyword) ||
            (acadPrefixCounts && StartsWithNoCase(entry.name, u"acad"))) {
            addFolderIfExists(JoinPath(base, entry.name), category, risk, checked, note);
        }
    }
}

void ScanCollector::scanTempEntries(const std::u16string& folder) {
    if (folder.empty() || !platform.fileAttributes(folder).isDirectory()) {
        return;
    }
    const DirectoryListing listing = platform.listDirectory(folder);
    if (listing.error != 0) {
        return;
    }
    // A TEMP set to a drive root or a system folder ("D:\" offers "D:\oracle", a database
    // folder): what matches there is no temporary entry, and the user decides. So too where
    // the path cannot tell which folder it is.
    const FolderStanding standing = StandingOf(platform, folder);
    const bool temporary = standing != FolderStanding::RootOrShare &&
                           standing != FolderStanding::SystemFolder &&
                           standing != FolderStanding::Unresolved;
    const std::u16string note =
        temporary ? u"安装或运行产生的临时项。"
                  : u"TEMP 指向系统目录或根目录；此项未必是临时文件，因此默认不选。";
    const TempNameTests& tests = TempTestsFor(product);
    for (const DirectoryEntry& entry : listing.entries) {
        platform.lookAtQueue();
        if (entry.name == u"." || entry.name == u".." || !TempNameMatches(tests, entry.name)) {
            continue;
        }
        const bool directory = FileAttributes{0, entry.attributes}.isDirectory();
        addEntry(u"临时文件", entry.name, JoinPath(folder, entry.name), note,
                 directory ? ItemKind::Directory : ItemKind::File,
                 temporary ? RiskLevel::Safe : RiskLevel::NeedsConfirm, temporary);
    }
}

} // namespace tidewell
