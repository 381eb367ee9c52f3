// Hostile machines on the real system: install records with values of the wrong type or without
// terminators, key and file names with quotes, " [", trailing dots and blanks, names at the
// registry's length limit, paths past 260 units, a directory link loop inside a residue folder,
// a vendor folder turned into a link to another user's documents,
// and environment values that are empty, relative or name a root or the Windows folder. For
// each product the scan, the clean (every item checked, Yes) and the one-click run (Yes, with
// uninstallers that end at once) must complete, log every item they process, delete no registry
// key without a backup that holds it, and lose nothing outside the items.
#include "HostileWineSupport.h"

#include "catalogue/ResidueItem.h"
#include "clean/CleanItem.h"
#include "clean/CleanSelected.h"
#include "clean/ProtectedLocations.h"
#include "uninstall/OneClickUninstall.h"
#include "uninstall/SilentUninstall.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <functional>

namespace tidewell {
namespace {

using namespace hostile;
using prefix::Env;
using prefix::ShellFolder;

const std::u16string kUninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kBackedUp = u"注册表已备份并删除";
const std::u16string kBackupRefused = u"注册表备份失败，已取消删除";
// An uninstaller that finds its product already gone (1605) and ends at once: the record it
// leaves is stale, and the run goes on to remove it with its backup. One that said 0 and left
// its record would count as failed.
const std::u16string kExitsAtOnce = u"cmd /c exit 1605";

// The folders a run starts from, as this process sees them before any variable is changed.
struct Places {
    std::u16string pf = Env(u"ProgramW6432");
    std::u16string pf86 = Env(u"ProgramFiles(x86)");
    std::u16string pd = Env(u"ProgramData");
    std::u16string local = ShellFolder(CSIDL_LOCAL_APPDATA);
    std::u16string temp = Env(u"TEMP");
    std::u16string profile = Env(u"USERPROFILE");
    std::u16string windows = [] {
        wchar_t path[MAX_PATH] = {};
        return FromWide(path, GetWindowsDirectoryW(path, MAX_PATH));
    }();
};

// A folder of the test's own on drive C.
std::u16string ScratchPath(const char16_t* purpose) {
    return u"C:\\tidewell-hostile-" + std::u16string(purpose) + u"-" +
           removaltest::Decimal(GetCurrentProcessId());
}

// Everything a test creates, removed again at its end even when it stops half-way: the highest
// folder and key each seed had to create.
class Seeded {
public:
    Seeded() = default;
    Seeded(const Seeded&) = delete;
    Seeded& operator=(const Seeded&) = delete;
    ~Seeded() {
        for (auto path = paths_.rbegin(); path != paths_.rend(); ++path) {
            // A console host of a child started from inside a scratch folder may hold it as
            // its current folder for a moment after the child ended.
            EXPECT_TRUE(WaitFor([&] {
                Erase(*path);
                return !ExistsVerbatim(*path);
            })) << "left behind: "
                << Narrow(*path);
        }
        for (auto key = keys_.rbegin(); key != keys_.rend(); ++key) {
            DeleteKey(*key);
        }
    }

    void folder(const std::u16string& path) {
        for (size_t at = path.find(u'\\', 3);; at = path.find(u'\\', at + 1)) {
            const std::u16string level = path.substr(0, at);
            if (!ExistsVerbatim(level)) {
                MakeFolders(path);
                remember(paths_, level);
                return;
            }
            if (at == std::u16string::npos) {
                return;
            }
        }
    }

    void file(const std::u16string& path, const std::string& contents = "hostile") {
        const size_t separator = path.rfind(u'\\');
        folder(path.substr(0, separator));
        if (!ExistsVerbatim(path)) {
            remember(paths_, path);
        }
        PutFile(path, contents);
    }

    void link(const std::u16string& path, const std::u16string& target) {
        if (!IsLink(VerbatimAttributes(path))) {
            ASSERT_TRUE(MakeDirectoryLink(path, target)) << Narrow(path);
        }
        remember(paths_, path);
    }

    // Creates the key; the highest key it had to create is deleted at the end.
    void key(const Key& key) {
        for (size_t at = key.path.find(u'\\');; at = key.path.find(u'\\', at + 1)) {
            const Key level{key.root, key.view, key.path.substr(0, at)};
            if (!KeyExists(level)) {
                ASSERT_EQ(CreateKey(key), ERROR_SUCCESS) << Narrow(key.path);
                keys_.push_back(level);
                return;
            }
            if (at == std::u16string::npos) {
                return;
            }
        }
    }

private:
    static void remember(std::vector<std::u16string>& list, const std::u16string& path) {
        for (const auto& known : list) {
            if (Within(ToLower(path), ToLower(known))) {
                return;
            }
        }
        list.push_back(path);
    }

    std::vector<std::u16string> paths_;
    std::vector<Key> keys_;
};

// --- What a run must keep --------------------------------------------------------------------

struct Surroundings {
    std::vector<std::u16string> trees;   // walked whole
    std::vector<std::u16string> folders; // their entries only
};

Snapshot FilesNow(const Surroundings& around) {
    Snapshot snapshot;
    for (const auto& tree : around.trees) {
        AddFiles(snapshot, tree);
    }
    for (const auto& folder : around.folders) {
        AddFiles(snapshot, folder, false);
    }
    return snapshot;
}

struct RunRecord {
    std::vector<ResidueItem> expected; // the items the run should process, in order
    RunLogText log;
    std::set<std::u16string> backupHeaders;
    Snapshot filesBefore, filesAfter, keysBefore, keysAfter;
};

// Reads the run's log and backups, then removes them: later runs and other tests sharing the
// prefix should not find them.
void TakeRunOutput(RunRecord& run, const std::u16string& logPath, const std::u16string& success,
                   const std::u16string& failure) {
    run.log = ReadRunLog(logPath, success, failure);
    run.backupHeaders = BackupHeaders(run.log.backupFolder);
    const std::u16string backups = ToLower(ShellFolder(CSIDL_PERSONAL) + u"\\TidewellBackup");
    if (Within(ToLower(run.log.backupFolder), backups) &&
        ToLower(run.log.backupFolder) != backups) {
        Erase(run.log.backupFolder);
    }
    if (Within(ToLower(logPath), ToLower(ShellFolder(CSIDL_DESKTOPDIRECTORY)))) {
        DeleteFileW(AsWide(logPath));
    }
}

bool IsRegistryItem(const ResidueItem& item) {
    return item.kind == ItemKind::RegistryKey || item.kind == ItemKind::InstallRecord;
}

std::u16string KeyOf(const ResidueItem& item) {
    return ToLower(KeyLabel(item.registryRoot, item.registryView) + u"\\" + item.registryPath);
}

Key RawKeyOf(const ResidueItem& item) {
    return {item.registryRoot == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
            static_cast<REGSAM>(item.registryView), item.registryPath};
}

// The rules every run keeps, whatever the machine held.
void CheckRun(const RunRecord& run) {
    const RunLogText& log = run.log;
    ASSERT_TRUE(log.found) << "no readable run log";
    EXPECT_TRUE(log.stray.empty()) << "unexpected log line: " << ToUtf8(log.stray.front());

    // Every processed item has its entry, in processing order.
    ASSERT_EQ(log.entries.size(), run.expected.size());
    for (const LogEntry& left : log.left) {
        EXPECT_FALSE(left.message.empty()) << "no reason for " << ToUtf8(left.location);
    }
    for (size_t i = 0; i < run.expected.size(); ++i) {
        EXPECT_EQ(log.entries[i].title, run.expected[i].title) << "entry " << i;
        EXPECT_EQ(log.entries[i].location, run.expected[i].location) << "entry " << i;
        EXPECT_FALSE(log.entries[i].message.empty()) << "entry " << i;
    }

    // No key is gone that is not below a registry item of the run and held by its backups.
    const std::set<std::u16string>& headers = run.backupHeaders;
    for (const auto& key : Vanished(run.keysBefore, run.keysAfter)) {
        bool inItem = false;
        for (const ResidueItem& item : run.expected) {
            inItem = inItem || (IsRegistryItem(item) && Within(key, KeyOf(item)));
        }
        EXPECT_TRUE(inItem) << "key lost outside the items: " << ToUtf8(key);
        EXPECT_EQ(headers.count(HeaderOf(key)), 1u) << "deleted without a backup: " << ToUtf8(key);
    }
    for (size_t i = 0; i < run.expected.size() && i < log.entries.size(); ++i) {
        const ResidueItem& item = run.expected[i];
        if (!IsRegistryItem(item)) {
            continue;
        }
        const bool existedBefore = run.keysBefore.count(KeyOf(item)) != 0;
        if (log.entries[i].message == kBackedUp) {
            EXPECT_FALSE(KeyExists(RawKeyOf(item))) << ToUtf8(item.location);
            EXPECT_EQ(headers.count(HeaderOf(KeyOf(item))), 1u) << ToUtf8(item.location);
        } else if (existedBefore && !log.entries[i].success) {
            EXPECT_TRUE(KeyExists(RawKeyOf(item))) << ToUtf8(item.location);
        }
    }

    // No file or folder is gone that is not an item or inside one.
    for (const auto& path : Vanished(run.filesBefore, run.filesAfter)) {
        bool inItem = false;
        for (const ResidueItem& item : run.expected) {
            const bool onDisk = item.kind == ItemKind::Directory || item.kind == ItemKind::File;
            inItem = inItem || (onDisk && Within(path, ToLower(item.location)));
        }
        EXPECT_TRUE(inItem) << "lost outside the items: " << ToUtf8(path);
    }
}

const LogEntry* EntryFor(const RunRecord& run, const std::u16string& location) {
    for (size_t i = 0; i < run.expected.size() && i < run.log.entries.size(); ++i) {
        if (ToLower(run.expected[i].location) == ToLower(location)) {
            return &run.log.entries[i];
        }
    }
    return nullptr;
}

// Runs the workflow between snapshots of the files and keys around it; it asks one question
// and ends with one message.
void Snapshotted(RunRecord& run, AnsweringPlatform& platform, const Surroundings& around,
                 const std::function<void()>& workflow) {
    run.filesBefore = FilesNow(around);
    run.keysBefore = RegistrySnapshot();
    platform.questions.clear();
    platform.notices.clear();
    workflow();
    run.filesAfter = FilesNow(around);
    run.keysAfter = RegistrySnapshot();
    EXPECT_EQ(platform.questions.size(), 1u);
    EXPECT_EQ(platform.notices.size(), 1u);
}

// The clean button with every leaf checked and the confirmation answered Yes.
RunRecord RunClean(AnsweringPlatform& platform, ProductKind product, const Surroundings& around) {
    RunRecord run;
    FakeWorkflowWindow window(platform);
    window.scan.product = product;
    window.scan.runScan();
    window.isChecked = [](const ResidueItem&) { return true; };
    for (const ResidueItem* item : window.checkedItems()) {
        run.expected.push_back(*item);
    }
    Snapshotted(run, platform, around, [&] { CleanSelected(platform, window); });
    TakeRunOutput(run, platform.lastNoticePath(), u"[成功] ", u"[失败] ");
    EXPECT_EQ(run.log.title, productName(product) + u" 残留清理日志");
    return run;
}

// The one-click button after a scan, answered Yes. The uninstallers change nothing, so the
// scan it runs after them finds what this scan found, and the items it removes are those the
// one-click rules keep from it.
RunRecord RunOneClick(AnsweringPlatform& platform, ProductKind product, const Surroundings& around,
                      std::vector<std::u16string>& recordTitles) {
    RunRecord run;
    FakeWorkflowWindow window(platform);
    window.scan.product = product;
    window.scan.runScan();
    for (const auto& item : window.scan.items) {
        if (item->kind == ItemKind::InstallRecord && isProductInstallRecord(*item, product)) {
            recordTitles.push_back(item->title);
        }
        if (!LeftByOneClick(*item)) {
            run.expected.push_back(*item);
        }
    }
    Snapshotted(run, platform, around, [&] { OneClickUninstall(platform, window); });
    if (!platform.notices.empty()) {
        EXPECT_EQ(platform.notices.back().title, u"操作完成")
            << ToUtf8(platform.notices.back().text);
    }
    TakeRunOutput(run, platform.lastNoticePath(), u"[清理成功] ", u"[清理失败] ");
    EXPECT_EQ(run.log.title, productName(product) + u" 一键卸载并清理日志");
    return run;
}

const ResidueItem* FindItem(const ItemList& items, ItemKind kind, const std::u16string& location) {
    for (const auto& item : items) {
        if (item->kind == kind && ToLower(item->location) == ToLower(location)) {
            return item.get();
        }
    }
    return nullptr;
}

// --- Each product on a hostile machine -------------------------------------------------------

struct ProductPlan {
    ProductKind product;
    std::u16string residue;               // below Program Files: the program folder the scan takes
    std::vector<std::u16string> beside;   // below Program Files: look-alikes that must stay
    std::u16string localData;             // below the local application data: a data folder
    std::u16string branch;                // the product's registry branch
    std::vector<std::u16string> siblings; // keys beside it that must stay
    std::u16string displayName;
    std::u16string recordStem; // the start of the records' key names
    std::u16string tempName;   // what the temporary-file rule takes
    std::u16string tempOther;  // what it does not take
};

std::vector<ProductPlan> Plans() {
    return {
        {ProductKind::AutoCAD,
         u"Autodesk\\AutoCAD 2024 [x]",
         // A name with "AutoCAD" in it is the product's, trailing dot or not.
         {u"Autodesk\\Desktop App", u"Autodesk\\AutoCA 2025.", u"Autodesk\\Auto-CAD 2026 "},
         u"Autodesk\\AutoCAD [local] 2024",
         u"Software\\Autodesk\\AutoCAD",
         {u"Software\\Autodesk\\AutoCAD Keep", u"Software\\Autodesk\\AutoCA"},
         u"AutoCAD 2024",
         u"AutoCAD",
         u"acad",
         u"my_acad.txt"},
        {ProductKind::SolidWorks,
         u"SOLIDWORKS Corp",
         {u"SOLIDWORKS Corporation", u"SOLIDWORKS Corp.", u"SOLIDWORKS Cor"},
         u"SOLIDWORKS",
         u"Software\\SolidWorks",
         {u"Software\\SolidWorks Keep", u"Software\\SolidWork"},
         u"SOLIDWORKS 2023",
         u"SOLIDWORKS",
         u"sld",
         u"my_sld.txt"},
        {ProductKind::Oracle,
         u"Oracle",
         {u"Oracle Keep", u"Oracle.", u"Oracl"},
         u"Oracle",
         u"Software\\Oracle",
         {u"Software\\Oracle Keep", u"Software\\Oracl"},
         u"Oracle Database 19c",
         u"Oracle",
         u"ora",
         u"my_ora.txt"},
    };
}

// One install record and what the scan must make of it.
struct Record {
    Key key;
    std::u16string title; // empty: never taken
    std::u16string command;
};

class HostileMachine {
public:
    HostileMachine(const ProductPlan& plan, const Places& places, const std::u16string& scratch)
        : plan(plan), places(places), scratch(scratch) {}

    std::u16string residue() const { return places.pf + u"\\" + plan.residue; }
    std::u16string oracleHome() const { return scratch + u"\\app [x]\\dbhome_1"; }
    // AutoCAD: ProgramData's vendor folder is a link to another user's Documents.
    std::u16string linkTarget() const { return scratch + u"\\other\\Documents"; }
    std::u16string linkedItem() const { return places.pd + u"\\Autodesk\\AutoCAD 2024"; }

    void seed(Seeded& seeded) {
        seedFolders(seeded);
        seedTemp(seeded);
        for (const Key& branch : branches()) {
            seedBranch(seeded, branch);
        }
        records.clear();
        seedRecords(seeded);
    }

    std::vector<Key> branches() const {
        return {{HKEY_CURRENT_USER, KEY_WOW64_64KEY, plan.branch},
                {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, plan.branch}};
    }

    // Entries inside the residue folder that a plain path reaches, and the sentinels a run
    // must leave.
    std::vector<std::u16string> plainInside() const {
        return {residue() + u"\\Data [x]\\a [b].txt", residue() + u"\\own.txt",
                residue() + u"\\deep"};
    }

    std::vector<std::u16string> sentinels() const {
        std::vector<std::u16string> paths = {places.pf + u"\\tidewell-hostile-sentinel.txt",
                                             places.temp + u"\\" + plan.tempOther,
                                             places.temp + u"\\notes [x].txt"};
        for (const auto& beside : plan.beside) {
            paths.push_back(places.pf + u"\\" + beside + u"\\keep.txt");
        }
        if (plan.product == ProductKind::Oracle) {
            paths.push_back(scratch + u"\\app [x]\\keep.txt");
        }
        if (plan.product == ProductKind::AutoCAD) {
            paths.push_back(linkTarget() + u"\\AutoCAD 2024\\drawing.dwg");
        }
        return paths;
    }

    std::vector<Key> sentinelKeys() const {
        std::vector<Key> keys;
        for (const auto& sibling : plan.siblings) {
            keys.push_back({HKEY_CURRENT_USER, KEY_WOW64_64KEY, sibling});
            keys.push_back({HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, sibling});
        }
        for (const Record& record : records) {
            if (record.title.empty()) {
                keys.push_back(record.key);
            }
        }
        return keys;
    }

    const ProductPlan plan;
    const Places places;
    const std::u16string scratch;
    std::vector<Record> records;

private:
    void seedFolders(Seeded& seeded) {
        const std::u16string top = residue();
        seeded.file(places.pf + u"\\tidewell-hostile-sentinel.txt");
        for (const auto& beside : plan.beside) {
            seeded.file(places.pf + u"\\" + beside + u"\\keep.txt");
        }
        seeded.file(top + u"\\own.txt");
        seeded.file(top + u"\\Data [x]\\a [b].txt");
        for (const char16_t* name : {u"dir.", u"dir "}) {
            seeded.file(top + u"\\" + name + u"\\inner.txt");
        }
        seeded.file(top + u"\\file.");
        seeded.file(top + u"\\file ");
        std::u16string deep = top + u"\\deep";
        for (char16_t letter = u'a'; deep.size() <= 300; ++letter) {
            deep += u"\\" + std::u16string(60, letter);
        }
        seeded.file(deep + u"\\leaf.txt");
        // A loop back to the folder itself, one from below it, and one to the folder above,
        // which holds the sentinels.
        seeded.folder(top + u"\\sub");
        seeded.link(top + u"\\loop", top);
        seeded.link(top + u"\\sub\\back", top);
        seeded.link(top + u"\\up", top.substr(0, top.rfind(u'\\')));

        const std::u16string data = places.local + u"\\" + plan.localData;
        seeded.file(data + u"\\cache [1]\\entry.dat");
        seeded.file(data + u"\\settings.xml ");
        if (plan.product == ProductKind::Oracle) {
            seeded.file(oracleHome() + u"\\bin\\oracle.exe");
            seeded.file(scratch + u"\\app [x]\\keep.txt");
        }
        if (plan.product == ProductKind::AutoCAD) {
            seeded.file(linkTarget() + u"\\AutoCAD 2024\\drawing.dwg");
            seeded.link(places.pd + u"\\Autodesk", linkTarget());
        }
    }

    void seedTemp(Seeded& seeded) {
        const std::u16string& temp = places.temp;
        seeded.file(temp + u"\\" + plan.tempName + u" [x].log");
        seeded.file(temp + u"\\" + plan.tempName + u" dir \\inner.txt");
        seeded.file(temp + u"\\" + plan.tempName + u" trailing.");
        seeded.file(temp + u"\\" + plan.tempOther);
        seeded.file(temp + u"\\notes [x].txt");
    }

    void seedBranch(Seeded& seeded, const Key& branch) {
        const std::vector<std::u16string> subkeys = {
            u"\"quoted\"\\ [inner] .", u"a [b]", u"trailing.", u"trailing ",
            std::u16string(255, u'n'),
        };
        for (const auto& subkey : subkeys) {
            seeded.key({branch.root, branch.view, branch.path + u"\\" + subkey});
        }
        if (removaltest::RunningUnderWine()) {
            // One unit past the Windows limit, which Wine allows.
            seeded.key({branch.root, branch.view, branch.path + u"\\" + std::u16string(256, u'w')});
        }
        EXPECT_EQ(SetRawValue(branch, u"NoTerminator", REG_SZ, TextBytes(u"value", "QQ"), 10),
                  ERROR_SUCCESS);
        for (const auto& sibling : plan.siblings) {
            const Key key{branch.root, branch.view, sibling};
            seeded.key(key);
            SetText(key, u"keep", u"yes");
        }
    }

    Record& record(Seeded& seeded, HKEY root, const std::u16string& name,
                   const std::u16string& title, const std::u16string& command) {
        const Key key{root, KEY_WOW64_64KEY, kUninstall + u"\\" + name};
        seeded.key(key);
        records.push_back({key, title, command});
        return records.back();
    }

    void seedRecords(Seeded& seeded) {
        const std::u16string& dn = plan.displayName;
        const std::u16string& stem = plan.recordStem;

        // Quotes and " [" in the key name; a plain record otherwise.
        const Key quoted = record(seeded, HKEY_LOCAL_MACHINE, stem + u" \"DB\" [x]",
                                  dn + u" Quoted 1.0", kExitsAtOnce)
                               .key;
        SetText(quoted, u"DisplayName", dn + u" Quoted");
        SetText(quoted, u"DisplayVersion", u"1.0");
        SetText(quoted, u"UninstallString", kExitsAtOnce);

        // A key name at the length limit; the name stored without a terminator, the command
        // with an odd byte count whose half unit is a blank.
        const Key bare =
            record(seeded, HKEY_LOCAL_MACHINE, stem + std::u16string(255 - stem.size(), u'x'),
                   dn + u" Bare", kExitsAtOnce + u" ")
                .key;
        const std::vector<uint8_t> bareName = TextBytes(dn + u" Bare", "ZZZZ");
        SetRawValue(bare, u"DisplayName", REG_SZ, bareName, bareName.size() - 4);
        const std::vector<uint8_t> bareCommand = TextBytes(kExitsAtOnce, " ZZZ");
        SetRawValue(bare, u"UninstallString", REG_SZ, bareCommand, bareCommand.size() - 3);

        // A trailing dot in the key name, a name of over 1000 units, and a quiet command of
        // the wrong type that must not be run.
        std::u16string longName = dn + u" ";
        while (longName.size() < 1100) {
            longName += u"长名称 long name ";
        }
        const Key dotted =
            record(seeded, HKEY_LOCAL_MACHINE, stem + u"Record.", longName, kExitsAtOnce).key;
        SetText(dotted, u"DisplayName", longName);
        SetText(dotted, u"UninstallString", kExitsAtOnce);
        const std::vector<uint8_t> quiet = TextBytes(std::u16string(u"cmd /c exit 1\0", 15), {});
        SetRawValue(dotted, u"QuietUninstallString", REG_MULTI_SZ, quiet, quiet.size());

        // A trailing blank in the key name; the name with an odd byte count whose half unit is
        // a letter.
        const Key blank =
            record(seeded, HKEY_LOCAL_MACHINE, stem + u"Record ", dn + u" OddZ", kExitsAtOnce).key;
        const std::vector<uint8_t> oddName = TextBytes(dn + u" Odd", "ZZZZ");
        SetRawValue(blank, u"DisplayName", REG_SZ, oddName, oddName.size() - 3);
        SetText(blank, u"UninstallString", kExitsAtOnce);

        // Names of the wrong types: never taken.
        const Key multi =
            record(seeded, HKEY_LOCAL_MACHINE, stem + u" MultiString", {}, kExitsAtOnce).key;
        const std::vector<uint8_t> multiName = TextBytes(dn + u" Multi" + u'\0' + u'\0', {});
        SetRawValue(multi, u"DisplayName", REG_MULTI_SZ, multiName, multiName.size());
        SetText(multi, u"UninstallString", kExitsAtOnce);
        const Key binary =
            record(seeded, HKEY_LOCAL_MACHINE, stem + u" Binary", {}, kExitsAtOnce).key;
        const std::vector<uint8_t> binaryName = TextBytes(dn + u" Binary" + u'\0', {});
        SetRawValue(binary, u"DisplayName", REG_BINARY, binaryName, binaryName.size());
        SetText(binary, u"UninstallString", kExitsAtOnce);

        // The user's own record, " [" and a trailing dot in its name.
        const Key user =
            record(seeded, HKEY_CURRENT_USER, stem + u" [user].", dn + u" User", kExitsAtOnce).key;
        SetText(user, u"DisplayName", dn + u" User");
        SetText(user, u"UninstallString", kExitsAtOnce);
    }
};

// What the scan must make of the hostile machine.
void CheckScan(const HostileMachine& machine, const ItemList& items) {
    const Places& places = machine.places;
    const ProductPlan& plan = machine.plan;
    for (const Record& record : machine.records) {
        // The user's record is one key in both views: listed once, as the 32-bit view finds it.
        const bool user = record.key.root == HKEY_CURRENT_USER;
        const std::u16string location =
            (user ? u"HKCU\\" : u"HKLM\\") + record.key.path + (user ? u" [32位]" : u" [64位]");
        const ResidueItem* item = FindItem(items, ItemKind::InstallRecord, location);
        if (record.title.empty()) {
            EXPECT_EQ(item, nullptr) << "taken: " << ToUtf8(location);
            continue;
        }
        ASSERT_NE(item, nullptr) << "not taken: " << ToUtf8(location);
        EXPECT_EQ(item->title, record.title);
        EXPECT_EQ(item->uninstallCommand, record.command) << ToUtf8(record.title);
    }
    EXPECT_NE(FindItem(items, ItemKind::Directory, machine.residue()), nullptr);
    EXPECT_NE(FindItem(items, ItemKind::Directory, places.local + u"\\" + plan.localData), nullptr);
    for (const auto& beside : plan.beside) {
        EXPECT_EQ(FindItem(items, ItemKind::Directory, places.pf + u"\\" + beside), nullptr)
            << ToUtf8(beside);
    }
    const std::u16string temp = places.temp + u"\\" + plan.tempName;
    EXPECT_NE(FindItem(items, ItemKind::File, temp + u" [x].log"), nullptr);
    EXPECT_NE(FindItem(items, ItemKind::Directory, temp + u" dir "), nullptr);
    EXPECT_NE(FindItem(items, ItemKind::File, temp + u" trailing."), nullptr);
    EXPECT_EQ(FindItem(items, ItemKind::File, places.temp + u"\\" + plan.tempOther), nullptr);
    EXPECT_EQ(FindItem(items, ItemKind::File, places.temp + u"\\notes [x].txt"), nullptr);
    for (const Key& branch : machine.branches()) {
        const bool user = branch.root == HKEY_CURRENT_USER;
        const std::u16string place = (user ? u"HKCU\\" : u"HKLM\\") + branch.path;
        EXPECT_NE(FindItem(items, ItemKind::RegistryKey, place + (user ? u" [32位]" : u" [64位]")),
                  nullptr)
            << ToUtf8(place);
    }
    if (plan.product == ProductKind::AutoCAD) {
        const ResidueItem* linked = FindItem(items, ItemKind::Directory, machine.linkedItem());
        ASSERT_NE(linked, nullptr);
        // Below a link, and a data folder while the product's records are there.
        EXPECT_EQ(linked->risk, RiskLevel::HighRisk);
        EXPECT_FALSE(linked->checked);
    }
    if (plan.product == ProductKind::Oracle) {
        const ResidueItem* home = FindItem(items, ItemKind::Directory, machine.oracleHome());
        ASSERT_NE(home, nullptr);
        EXPECT_EQ(home->category, u"环境变量目录");
    }
}

// What stays after either run, whatever the run reported.
void CheckSentinels(const HostileMachine& machine) {
    for (const auto& path : machine.sentinels()) {
        EXPECT_TRUE(ExistsVerbatim(path)) << "lost: " << Narrow(path);
    }
    for (const Key& key : machine.sentinelKeys()) {
        EXPECT_TRUE(KeyExists(key)) << "lost: " << Narrow(key.path);
    }
}

// What each run made of the entries that only the long-path form reaches, and of the links.
void CheckResidueFolder(const HostileMachine& machine, const RunRecord& run) {
    for (const auto& path : machine.plainInside()) {
        EXPECT_FALSE(ExistsVerbatim(path)) << "not removed: " << Narrow(path);
    }
    const LogEntry* entry = EntryFor(run, machine.residue());
    ASSERT_NE(entry, nullptr);
    if (removaltest::RunningUnderWine()) {
        // Wine cannot remove a link whose target has content, so the links stay and the folder
        // with them; the run says so.
        EXPECT_FALSE(entry->success);
        EXPECT_EQ(entry->message.rfind(u"部分内容无法删除：", 0), 0u) << ToUtf8(entry->message);
        EXPECT_TRUE(IsLink(VerbatimAttributes(machine.residue() + u"\\loop")));
    }
    // The link to the folder above was never walked: the sentinel beside the vendor folder,
    // reached through it, is still there.
    EXPECT_TRUE(ExistsVerbatim(machine.places.pf + u"\\tidewell-hostile-sentinel.txt"));
    // What lies behind the linked vendor folder is refused (its files are sentinels).
    if (machine.plan.product == ProductKind::AutoCAD) {
        const LogEntry* linked = EntryFor(run, machine.linkedItem());
        ASSERT_NE(linked, nullptr);
        EXPECT_EQ(linked->message, kThroughLinkMessage);
    }
}

void RunHostileProduct(const ProductPlan& plan) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    ScopedPendingRenames pending;
    const Places places;
    ASSERT_FALSE(places.pf.empty());
    ASSERT_FALSE(places.temp.empty());
    const std::u16string scratch = ScratchPath(u"run");
    Seeded seeded;
    seeded.folder(scratch);
    HostileMachine machine(plan, places, scratch);
    std::optional<ScopedVariable> oracleHome;
    if (plan.product == ProductKind::Oracle) {
        oracleHome.emplace(u"ORACLE_HOME", machine.oracleHome());
    }
    const Surroundings around{{places.pf, places.pf86, places.pd, places.profile, scratch},
                              {u"C:", places.windows}};
    AnsweringPlatform platform;

    // The scan and the clean, every item checked.
    machine.seed(seeded);
    {
        FakeWorkflowWindow window(platform);
        window.scan.product = plan.product;
        window.scan.runScan();
        CheckScan(machine, window.scan.items);
    }
    const RunRecord clean = RunClean(platform, plan.product, around);
    CheckRun(clean);
    CheckSentinels(machine);
    CheckResidueFolder(machine, clean);
    // A name that ends in a dot is removed as listed, not reported gone while it stays.
    const std::u16string trailing = places.temp + u"\\" + plan.tempName + u" trailing.";
    const LogEntry* trailingEntry = EntryFor(clean, trailing);
    ASSERT_NE(trailingEntry, nullptr);
    EXPECT_EQ(trailingEntry->message, u"文件已删除");
    EXPECT_FALSE(ExistsVerbatim(trailing));
    const LogEntry* quoted = EntryFor(clean, u"HKLM\\" + machine.records[0].key.path + u" [64位]");
    ASSERT_NE(quoted, nullptr);
    // A quote would end the export tool's quoted argument early: refused, and kept.
    EXPECT_FALSE(quoted->success);
    EXPECT_EQ(quoted->message, kBackupRefused);
    EXPECT_TRUE(KeyExists(machine.records[0].key));

    // The same machine again, and the one-click run.
    machine.seed(seeded);
    std::vector<std::u16string> recordTitles;
    const RunRecord oneClick = RunOneClick(platform, plan.product, around, recordTitles);
    CheckRun(oneClick);
    CheckSentinels(machine);
    CheckResidueFolder(machine, oneClick);
    // Every record's uninstaller ran and ended with 1605: the commands read from hostile values
    // were whole, and the quiet command of the wrong type was not used.
    ASSERT_EQ(oneClick.log.uninstallLines.size(), recordTitles.size());
    for (size_t i = 0; i < recordTitles.size(); ++i) {
        EXPECT_EQ(oneClick.log.uninstallLines[i],
                  u"[卸载成功] " + recordTitles[i] + u"：退出代码 1605");
    }
    EXPECT_EQ(recordTitles.size(), 5u); // four machine-wide records and the user's one
}

TEST(HostileRunWineTest, AutoCad) {
    RunHostileProduct(Plans()[0]);
}

TEST(HostileRunWineTest, SolidWorks) {
    RunHostileProduct(Plans()[1]);
}

TEST(HostileRunWineTest, Oracle) {
    RunHostileProduct(Plans()[2]);
}

// --- Environment values ----------------------------------------------------------------------

std::u16string Upper(std::u16string text) {
    for (char16_t& unit : text) {
        unit = unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
    }
    return text;
}

std::u16string Slashed(std::u16string text) {
    for (char16_t& unit : text) {
        unit = unit == u'\\' ? u'/' : unit;
    }
    return text;
}

// An Oracle record whose uninstaller ends at once, so that the one-click run reaches removal.
Key SeedOracleRecord(Seeded& seeded) {
    const Key key{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY,
                  kUninstall + u"\\TidewellHostileEnvironment"};
    seeded.key(key);
    SetText(key, u"DisplayName", u"Oracle Database 19c Environment");
    SetText(key, u"UninstallString", kExitsAtOnce);
    return key;
}

TEST(HostileEnvironmentWineTest, OracleHomeAndTempThatAreEmptyRelativeOrNameARootOrTheSystem) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    ScopedPendingRenames pending;
    const Places places;
    const std::u16string scratch = ScratchPath(u"environment");
    Seeded seeded;
    // What relative values name from the program's current folder.
    const std::u16string relativeHome = scratch + u"\\oracle\\keep.txt";
    const std::u16string relativeTemp = scratch + u"\\Temp\\oracle_setup.log";
    seeded.file(relativeHome);
    seeded.file(relativeTemp);
    ScopedCurrentFolder current(scratch);
    ScopedVariable noHome(u"ORACLE_HOME", std::nullopt);
    const Surroundings around{{places.pf, places.pf86, places.pd, places.profile, scratch},
                              {u"C:", places.windows, places.windows + u"\\system32"}};

    struct Case {
        std::string label;
        std::u16string variable;
        std::u16string value;
        std::u16string location; // the item the scan makes of the value; empty: none
    };
    const std::vector<Case> cases = {
        {"empty ORACLE_HOME", u"ORACLE_HOME", u"", {}},
        {"relative ORACLE_HOME", u"ORACLE_HOME", u"oracle", u"oracle"},
        {"the drive root", u"ORACLE_HOME", u"C:\\", u"C:\\"},
        {"the Windows folder", u"ORACLE_HOME", places.windows, places.windows},
        {"the Windows folder, spelled otherwise", u"ORACLE_HOME",
         Slashed(Upper(places.windows)) + u"/.", Slashed(Upper(places.windows)) + u"/."},
        {"Program Files through ..", u"ORACLE_HOME", places.pf + u"\\Oracle\\..",
         places.pf + u"\\Oracle\\.."},
        {"the Windows folder, long-path form", u"ORACLE_HOME", Verbatim(places.windows),
         Verbatim(places.windows)},
        {"Program Files, device form", u"ORACLE_HOME", u"\\\\.\\" + places.pf,
         u"\\\\.\\" + places.pf},
        {"empty TEMP", u"TEMP", u"", {}},
        {"relative TEMP", u"TEMP", u"Temp", u"Temp\\oracle_setup.log"},
    };
    AnsweringPlatform platform;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScopedVariable variable(c.variable, c.value);
        // Only a value the guard refuses is handed to a removal run: one it lets through would
        // take the folder with it.
        if (!c.location.empty() && !IsProtectedLocation(platform, c.location)) {
            ADD_FAILURE() << "the guard lets " << ToUtf8(c.location) << " through; not run";
            continue;
        }
        SeedOracleRecord(seeded);
        {
            FakeWorkflowWindow window(platform);
            window.scan.product = ProductKind::Oracle;
            window.scan.runScan();
            const std::u16string category = c.variable == u"TEMP" ? u"临时文件" : u"环境变量目录";
            std::vector<std::u16string> found;
            for (const auto& item : window.scan.items) {
                if (item->category == category) {
                    found.push_back(item->location);
                }
            }
            EXPECT_EQ(found, c.location.empty() ? std::vector<std::u16string>{}
                                                : std::vector<std::u16string>{c.location});
        }
        const RunRecord clean = RunClean(platform, ProductKind::Oracle, around);
        CheckRun(clean);
        SeedOracleRecord(seeded);
        std::vector<std::u16string> records;
        const RunRecord oneClick = RunOneClick(platform, ProductKind::Oracle, around, records);
        CheckRun(oneClick);
        EXPECT_EQ(records, std::vector<std::u16string>{u"Oracle Database 19c Environment"});
        for (const RunRecord* run : {&clean, &oneClick}) {
            if (c.location.empty()) {
                continue;
            }
            // The entries of a TEMP that names no sure place need confirmation, and the folder
            // ORACLE_HOME names may be a client other programs use: the one-click run leaves
            // them to the user and does not even try.
            if (run == &oneClick) {
                EXPECT_EQ(EntryFor(*run, c.location), nullptr);
                continue;
            }
            const LogEntry* entry = EntryFor(*run, c.location);
            ASSERT_NE(entry, nullptr);
            EXPECT_FALSE(entry->success);
            EXPECT_EQ(entry->message, kProtectedLocationMessage);
        }
        EXPECT_TRUE(ExistsVerbatim(relativeHome));
        EXPECT_TRUE(ExistsVerbatim(relativeTemp));
    }
}

// --- The guard against every spelling ----------------------------------------------------------

// Whether the system opens both paths as the same folder.
bool SameFolder(const std::u16string& a, const std::u16string& b) {
    auto identity = [](const std::u16string& path) -> std::optional<std::pair<DWORD, ULONGLONG>> {
        win32::UniqueFile handle(
            CreateFileW(AsWide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) {
            return std::nullopt;
        }
        return std::make_pair(info.dwVolumeSerialNumber,
                              (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) |
                                  info.nFileIndexLow);
    };
    const auto first = identity(a);
    return first && first == identity(b);
}

std::vector<std::u16string> ProtectedFolders(const Places& places) {
    std::u16string temp = places.temp;
    while (!temp.empty() && temp.back() == u'\\') {
        temp.pop_back();
    }
    return {places.windows,
            places.windows + u"\\system32",
            places.pf,
            places.pf86,
            places.pd,
            places.profile,
            places.profile.substr(0, places.profile.rfind(u'\\')),
            temp,
            places.local,
            ShellFolder(CSIDL_APPDATA),
            ShellFolder(CSIDL_PERSONAL),
            ShellFolder(CSIDL_DESKTOPDIRECTORY)};
}

TEST(HostileGuardWineTest, EverySpellingTheSystemReadsAsAProtectedFolderIsRefused) {
    AnsweringPlatform platform;
    const Places places;
    size_t spellingsTried = 0;
    for (const std::u16string& folder : ProtectedFolders(places)) {
        ASSERT_FALSE(folder.empty());
        const std::u16string spellings[] = {
            folder,
            Verbatim(folder),
            u"\\\\.\\" + folder,
            u"\\??\\" + folder,
            Verbatim(u"UNC\\localhost\\") + folder.substr(0, 1) + u"$" + folder.substr(2),
            folder + u".",
            folder + u" ",
            folder + u"\\.",
            folder + u"\\x\\..",
            Upper(folder),
            Slashed(Upper(folder)) + u"/",
        };
        for (const auto& spelling : spellings) {
            if (!SameFolder(spelling, folder)) {
                continue; // the system does not read it as the folder
            }
            ++spellingsTried;
            EXPECT_TRUE(IsProtectedLocation(platform, spelling)) << ToUtf8(spelling);
        }
    }
    EXPECT_GE(spellingsTried, ProtectedFolders(places).size() * 8);
    // The drive root, and what lies below a protected folder, are told apart.
    EXPECT_TRUE(IsProtectedLocation(platform, u"C:\\"));
    EXPECT_TRUE(IsProtectedLocation(platform, u"c:/"));
    EXPECT_FALSE(IsProtectedLocation(platform, places.pf + u"\\Oracle"));
    EXPECT_FALSE(IsProtectedLocation(platform, places.temp + u"\\acad_install.log"));
}

} // namespace
} // namespace tidewell
