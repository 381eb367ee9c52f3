#include "contract/PlatformContract.h"

#include "contract/FakeMachinePreparer.h"
#include "platform/SystemCodes.h"
#include "support/Text.h"

#include <algorithm>
#include <iterator>
#include <set>

namespace tidewell {

ContractMachine FakeContractMachine() {
    return {"Fake", [] { return std::make_unique<FakeMachinePreparer>(); }};
}

void PlatformContract::SetUp() {
    preparer = GetParam().make();
    folder = preparer->scratchFolder();
    keyName = preparer->scratchKeyName();
}

void PlatformContract::TearDown() {
    preparer.reset();
}

std::u16string PlatformContract::scratch(const std::u16string& relative) const {
    return folder + u"\\" + relative;
}

std::u16string PlatformContract::scratchKey(const std::u16string& relative) const {
    const std::u16string base = u"Software\\" + keyName;
    return relative.empty() ? base : base + u"\\" + relative;
}

namespace {

using codes::kAccessDenied;
using codes::kAlreadyExists;
using codes::kDirectoryNotEmpty;
using codes::kFileNotFound;
using codes::kPathNotFound;
using codes::kSuccess;
constexpr uint32_t kNotADirectory = 267; // ERROR_DIRECTORY

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr RegistryView k64 = RegistryView::Bits64;
constexpr RegistryView k32 = RegistryView::Bits32;

// UTF-16LE bytes of exactly these code units (embedded and final zeros included).
std::vector<uint8_t> Utf16Bytes(const std::u16string& units) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : units) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

TEST_P(PlatformContract, AttributesTellDirectoriesFilesAndWhatIsMissing) {
    preparer->makeDirectory(scratch(u"dir"));
    preparer->makeFile(scratch(u"file.txt"), "x");
    preparer->makeFile(scratch(u"readonly.txt"), "x", codes::kAttributeReadOnly);

    const struct {
        const char16_t* relative;
        uint32_t error;
        bool directory;
        bool readOnly;
    } cases[] = {
        {u"dir", kSuccess, true, false},
        {u"dir\\", kSuccess, true, false},
        {u"DIR", kSuccess, true, false},
        {u"file.txt", kSuccess, false, false},
        {u"FILE.TXT", kSuccess, false, false},
        {u"readonly.txt", kSuccess, false, true},
        {u"missing.txt", kFileNotFound, false, false},
        {u"missing\\x.txt", kPathNotFound, false, false},
        {u"missing\\deeper\\x.txt", kPathNotFound, false, false},
    };
    for (const auto& c : cases) {
        const FileAttributes attributes = platform().fileAttributes(scratch(c.relative));
        SCOPED_TRACE(ToUtf8(c.relative));
        EXPECT_EQ(attributes.error, c.error);
        EXPECT_EQ(attributes.exists(), c.error == kSuccess);
        EXPECT_EQ(attributes.isDirectory(), c.directory);
        EXPECT_EQ((attributes.bits & codes::kAttributeReadOnly) != 0, c.readOnly);
    }
    EXPECT_TRUE(platform().fileAttributes(folder).isDirectory());
}

TEST_P(PlatformContract, ListingsGiveDotEntriesFirstThenNamesWithDirectoryBits) {
    preparer->makeDirectory(scratch(u"list\\Sub"));
    preparer->makeFile(scratch(u"list\\a.txt"), "a");
    preparer->makeFile(scratch(u"list\\程序文件.dat"), "b");
    preparer->makeDirectory(scratch(u"empty"));

    using Entries = std::set<std::pair<std::u16string, bool>>; // name, directory bit
    const Entries dots = {{u".", true}, {u"..", true}};
    Entries full = {{u"Sub", true}, {u"a.txt", false}, {u"程序文件.dat", false}};
    full.insert(dots.begin(), dots.end());
    const std::pair<std::u16string, const Entries*> cases[] = {
        {u"list", &full}, {u"list\\", &full}, {u"empty", &dots}};
    for (const auto& [relative, expected] : cases) {
        SCOPED_TRACE(ToUtf8(relative));
        const DirectoryListing listing = platform().listDirectory(scratch(relative));
        ASSERT_EQ(listing.error, kSuccess);
        ASSERT_EQ(listing.entries.size(), expected->size());
        // The dot entries come first, in this order; the rest in any.
        EXPECT_EQ(listing.entries[0].name, u".");
        EXPECT_EQ(listing.entries[1].name, u"..");
        Entries seen;
        for (const DirectoryEntry& entry : listing.entries) {
            seen.insert({entry.name, (entry.attributes & codes::kAttributeDirectory) != 0});
        }
        EXPECT_EQ(seen, *expected);
    }
}

// A listing can give names that end in a dot or a blank; each call reaches the entry of that
// very name, not the one without the ending that a plain path would name.
TEST_P(PlatformContract, NamesEndingInADotOrBlankAreReachedAsListed) {
    preparer->makeFile(scratch(u"odd\\file."), "dot");
    preparer->makeFile(scratch(u"odd\\file "), "blank");
    preparer->makeDirectory(scratch(u"odd\\dir."));
    preparer->makeFile(scratch(u"odd\\dir.\\inner."), "x");

    std::set<std::u16string> names;
    for (const DirectoryEntry& entry : platform().listDirectory(scratch(u"odd")).entries) {
        names.insert(entry.name);
    }
    EXPECT_EQ(names, (std::set<std::u16string>{u".", u"..", u"file.", u"file ", u"dir."}));
    EXPECT_EQ(platform().listDirectory(scratch(u"odd\\dir.")).entries.size(), 3u);
    EXPECT_FALSE(platform().fileAttributes(scratch(u"odd\\file.")).isDirectory());
    EXPECT_EQ(platform().fileAttributes(scratch(u"odd\\file")).error, kFileNotFound);

    EXPECT_EQ(platform().deleteFile(scratch(u"odd\\dir.\\inner.")), kSuccess);
    EXPECT_EQ(platform().removeDirectory(scratch(u"odd\\dir.")), kSuccess);
    EXPECT_EQ(platform().setFileAttributes(scratch(u"odd\\file "), codes::kAttributeReadOnly),
              kSuccess);
    EXPECT_EQ(platform().setFileAttributes(scratch(u"odd\\file "), codes::kAttributeNormal),
              kSuccess);
    EXPECT_EQ(platform().deleteFile(scratch(u"odd\\file ")), kSuccess);
    EXPECT_EQ(platform().writeFile(scratch(u"odd\\new."), "n"), kSuccess);
    EXPECT_EQ(preparer->readFile(scratch(u"odd\\file.")), std::optional<std::string>("dot"));
    EXPECT_EQ(preparer->readFile(scratch(u"odd\\new.")), std::optional<std::string>("n"));
    EXPECT_FALSE(preparer->readFile(scratch(u"odd\\new")).has_value());
}

TEST_P(PlatformContract, ListingWhatIsNotAFolderFails) {
    preparer->makeFile(scratch(u"plain.txt"), "x");
    for (const char16_t* relative : {u"missing", u"missing\\deeper", u"plain.txt"}) {
        SCOPED_TRACE(ToUtf8(relative));
        const DirectoryListing listing = platform().listDirectory(scratch(relative));
        EXPECT_NE(listing.error, kSuccess);
        EXPECT_TRUE(listing.entries.empty());
    }
    EXPECT_EQ(platform().listDirectory(scratch(u"missing")).error, kPathNotFound);
}

// Where an open arrives, links at every level followed: in the "\\?\" form, with the names as
// stored on disk.
TEST_P(PlatformContract, FinalPathsNameWhereTheOpenArrives) {
    preparer->makeFile(scratch(u"real\\Inner\\file.txt"), "x");
    ASSERT_TRUE(preparer->makeDirectoryLink(scratch(u"link"), scratch(u"real")));
    const std::u16string base = ToLower(u"\\\\?\\" + platform().longPathName(folder) + u"\\");
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"REAL\\inner\\", u"real\\Inner"},
        {u"link", u"real"},
        {u"link\\Inner\\file.txt", u"real\\Inner\\file.txt"},
    };
    for (const auto& [given, reached] : cases) {
        SCOPED_TRACE(ToUtf8(given));
        const FinalPath answer = platform().finalPath(scratch(given));
        ASSERT_EQ(answer.openError, kSuccess);
        ASSERT_EQ(answer.error, kSuccess);
        EXPECT_EQ(ToLower(answer.path.substr(0, base.size())), base) << ToUtf8(answer.path);
        EXPECT_EQ(answer.path.substr(base.size()), reached);
    }
    EXPECT_EQ(platform().finalPath(scratch(u"missing")).openError, kFileNotFound);
    EXPECT_EQ(platform().finalPath(scratch(u"missing\\deeper")).openError, kPathNotFound);
}

TEST_P(PlatformContract, EnvironmentTellsDefinedEmptyAndUndefinedApart) {
    const std::u16string longValue(3000, u'长');
    preparer->setEnvironment(u"TIDEWELL_CONTRACT_SET", u"C:\\Oracle\\product 值");
    preparer->setEnvironment(u"TIDEWELL_CONTRACT_EMPTY", u"");
    preparer->setEnvironment(u"TIDEWELL_CONTRACT_LONG", longValue);
    preparer->setEnvironment(u"TIDEWELL_CONTRACT_UNSET", std::nullopt);

    const struct {
        const char16_t* name;
        std::optional<std::u16string> value;
    } cases[] = {
        {u"TIDEWELL_CONTRACT_SET", u"C:\\Oracle\\product 值"},
        {u"tidewell_contract_set", u"C:\\Oracle\\product 值"},
        {u"TIDEWELL_CONTRACT_EMPTY", u""},
        {u"TIDEWELL_CONTRACT_LONG", longValue},
        {u"TIDEWELL_CONTRACT_UNSET", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.name));
        EXPECT_EQ(platform().environmentVariable(c.name), c.value);
    }
}

TEST_P(PlatformContract, ShellFoldersAndTheWindowsFolderAreDirectories) {
    for (ShellFolder shellFolder : {ShellFolder::LocalAppData, ShellFolder::RoamingAppData,
                                    ShellFolder::Documents, ShellFolder::Desktop}) {
        SCOPED_TRACE(static_cast<int>(shellFolder));
        const std::optional<std::u16string> path = platform().shellFolder(shellFolder);
        ASSERT_TRUE(path.has_value());
        EXPECT_TRUE(platform().fileAttributes(*path).isDirectory()) << ToUtf8(*path);
    }
    const std::u16string windows = platform().windowsDirectory();
    ASSERT_FALSE(windows.empty());
    EXPECT_TRUE(platform().fileAttributes(windows).isDirectory()) << ToUtf8(windows);
}

TEST_P(PlatformContract, MachineSoftwareHasTwoViewsAndUserSoftwareOne) {
    if (!platform().runsOn64BitWindows()) {
        GTEST_SKIP() << "one registry view only";
    }
    preparer->makeKey(kMachine, k64, scratchKey(u"Only64"));
    preparer->makeKey(kMachine, k32, scratchKey(u"Only32"));
    preparer->makeKey(kUser, k64, scratchKey(u"User64"));
    preparer->makeKey(kUser, k32, scratchKey(u"User32"));

    const std::u16string seen32From64 = u"Software\\Wow6432Node\\" + keyName + u"\\Only32";
    const struct {
        RegistryRoot root;
        RegistryView view;
        std::u16string path;
        uint32_t error;
    } cases[] = {
        {kMachine, k64, scratchKey(u"Only64"), kSuccess},
        {kMachine, k32, scratchKey(u"Only64"), kFileNotFound},
        {kMachine, k32, scratchKey(u"Only32"), kSuccess},
        {kMachine, k64, scratchKey(u"Only32"), kFileNotFound},
        {kMachine, k64, seen32From64, kSuccess},
        {kMachine, k64, scratchKey(u"ONLY64"), kSuccess},
        {kUser, k64, scratchKey(u"User64"), kSuccess},
        {kUser, k32, scratchKey(u"User64"), kSuccess},
        {kUser, k64, scratchKey(u"User32"), kSuccess},
        {kUser, k32, scratchKey(u"User32"), kSuccess},
        {kMachine, k64, scratchKey(u"Missing"), kFileNotFound},
        {kUser, k32, scratchKey(u"Missing\\Deeper"), kFileNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.path) + (c.root == kUser ? " HKCU" : " HKLM") +
                     (c.view == k64 ? " 64" : " 32"));
        EXPECT_EQ(platform().openKeyForRead(c.root, c.view, c.path), c.error);
    }
}

// What a 32-bit program on 64-bit Windows reaches only by asking: the 64-bit program folder by
// its own variable, the 64-bit view by its flag, and that view's copy of a branch through
// reg.exe, which is the 32-bit one for such a program.
TEST_P(PlatformContract, SixtyFourBitSideIsReachedWhenAskedFor) {
    if (!platform().runsOn64BitWindows()) {
        GTEST_SKIP() << "no 64-bit side";
    }
    const std::optional<std::u16string> programs = platform().environmentVariable(u"ProgramW6432");
    ASSERT_TRUE(programs.has_value());
    EXPECT_TRUE(platform().fileAttributes(*programs).isDirectory()) << ToUtf8(*programs);
    EXPECT_NE(platform().environmentVariable(u"ProgramFiles(x86)"), programs);

    const std::u16string key = scratchKey(u"Only64");
    preparer->makeKey(kMachine, k64, key);
    preparer->setValue(kMachine, k64, key, u"v", codes::kRegSz,
                       Utf16Bytes(std::u16string(u"64\0", 3)));
    EXPECT_EQ(platform().openKeyForRead(kMachine, k64, key), kSuccess);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k32, key), kFileNotFound);

    const std::u16string file = scratch(u"only64.reg");
    const std::u16string tool = platform().windowsDirectory() + u"\\System32\\reg.exe";
    for (const char16_t* view : {u"/reg:64", u"/reg:32"}) {
        SCOPED_TRACE(ToUtf8(view));
        const ChildStart start = platform().startHidden(
            {}, u"\"" + tool + u"\" export \"HKLM\\" + key + u"\" \"" + file + u"\" /y " + view,
            ChildScope::Process);
        ASSERT_EQ(start.error, kSuccess);
        const ChildWait wait = platform().waitForChild(start.child, 20000, false);
        platform().releaseChild(start.child);
        ASSERT_EQ(wait.end, WaitEnd::Exited);
        // The 32-bit view has no such branch: reg.exe fails and writes nothing.
        const bool bits64 = view == std::u16string(u"/reg:64");
        EXPECT_EQ(wait.exitCode, bits64 ? 0u : 1u);
        if (bits64) {
            const std::optional<std::string> text = preparer->readFile(file);
            ASSERT_TRUE(text.has_value());
            const std::vector<uint8_t> section = Utf16Bytes(u"[HKEY_LOCAL_MACHINE\\" + key + u"]");
            EXPECT_NE(text->find(std::string(section.begin(), section.end())), std::string::npos);
        }
    }
}

TEST_P(PlatformContract, SubkeysListInTheRegistrysOrder) {
    for (const char16_t* name : {u"beta", u"Alpha", u"gamma"}) {
        preparer->makeKey(kMachine, k64, scratchKey(u"List\\") + name);
    }
    preparer->makeKey(kMachine, k32, scratchKey(u"List\\Only32"));

    const SubkeyListing listing = platform().listSubkeys(kMachine, k64, scratchKey(u"List"));
    EXPECT_EQ(listing.error, kSuccess);
    const std::vector<std::u16string> expected = {u"Alpha", u"beta", u"gamma"};
    EXPECT_EQ(listing.names, expected);

    const SubkeyListing leaf = platform().listSubkeys(kMachine, k64, scratchKey(u"List\\beta"));
    EXPECT_EQ(leaf.error, kSuccess);
    EXPECT_TRUE(leaf.names.empty());

    if (platform().runsOn64BitWindows()) {
        const SubkeyListing other = platform().listSubkeys(kMachine, k32, scratchKey(u"List"));
        EXPECT_EQ(other.names, std::vector<std::u16string>{u"Only32"});
    }
    EXPECT_EQ(platform().listSubkeys(kUser, k64, scratchKey(u"Missing")).error, kFileNotFound);
}

TEST_P(PlatformContract, DeleteTreeRemovesABranchInOneViewOnly) {
    if (!platform().runsOn64BitWindows()) {
        GTEST_SKIP() << "one registry view only";
    }
    const std::u16string parent = scratchKey(u"");
    for (RegistryView view : {k64, k32}) {
        preparer->makeKey(kMachine, view, scratchKey(u"Both\\Child\\Grandchild"));
        preparer->setValue(kMachine, view, scratchKey(u"Both\\Child"), u"v", codes::kRegSz,
                           Utf16Bytes(std::u16string(u"x\0", 2)));
    }

    EXPECT_EQ(platform().deleteTree(kMachine, k64, parent, u"Both"), kSuccess);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k64, scratchKey(u"Both")), kFileNotFound);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k32, scratchKey(u"Both\\Child\\Grandchild")),
              kSuccess);
    // Already gone, and a parent that does not exist.
    EXPECT_EQ(platform().deleteTree(kMachine, k64, parent, u"Both"), kFileNotFound);
    EXPECT_EQ(platform().deleteTree(kMachine, k64, scratchKey(u"Missing"), u"Both"), kFileNotFound);
    // Names are compared ignoring case.
    EXPECT_EQ(platform().deleteTree(kMachine, k32, parent, u"BOTH"), kSuccess);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k32, scratchKey(u"Both")), kFileNotFound);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k32, parent), kSuccess);

    // A leaf of several components removes only its last one.
    preparer->makeKey(kMachine, k64, scratchKey(u"Deep\\Leaf\\Below"));
    EXPECT_EQ(platform().deleteTree(kMachine, k64, parent, u"Deep\\Leaf"), kSuccess);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k64, scratchKey(u"Deep\\Leaf")), kFileNotFound);
    EXPECT_EQ(platform().openKeyForRead(kMachine, k64, scratchKey(u"Deep")), kSuccess);

    // The user's software is one branch: deleting through either view removes it.
    preparer->makeKey(kUser, k64, scratchKey(u"User\\Child"));
    EXPECT_EQ(platform().deleteTree(kUser, k32, parent, u"User"), kSuccess);
    EXPECT_EQ(platform().openKeyForRead(kUser, k64, scratchKey(u"User")), kFileNotFound);
}

// A value is written with exactly its type and bytes and deleted alone; a missing key or value
// is 2.
TEST_P(PlatformContract, ValuesAreWrittenAsGivenAndDeletedOneByOne) {
    const std::u16string path = scratchKey(u"Written");
    preparer->makeKey(kUser, k64, path);
    preparer->setValue(kUser, k64, path, u"Keep", codes::kRegSz, Utf16Bytes(u"k"));
    const std::vector<uint8_t> bare = Utf16Bytes(u"C:\\a;%X%\\b"); // no terminator
    EXPECT_EQ(platform().writeValue(kUser, k64, path, u"Path", codes::kRegExpandSz, bare),
              kSuccess);
    EXPECT_EQ(platform().writeValue(kUser, k64, path, u"Empty", codes::kRegSz, {}), kSuccess);
    const RegistryValues read =
        platform().readValues(kUser, k64, path, {u"PATH", u"Empty", u"Keep"});
    ASSERT_EQ(read.values.size(), 3u);
    EXPECT_EQ(read.values[0].type, codes::kRegExpandSz);
    EXPECT_EQ(read.values[0].data, bare);
    EXPECT_EQ(read.values[1].error, kSuccess);
    EXPECT_TRUE(read.values[1].data.empty());

    EXPECT_EQ(platform().deleteValue(kUser, k64, path, u"path"), kSuccess);
    EXPECT_EQ(platform().deleteValue(kUser, k64, path, u"Path"), kFileNotFound);
    EXPECT_EQ(platform().readValues(kUser, k64, path, {u"Path"}).values[0].error, kFileNotFound);
    EXPECT_EQ(platform().readValues(kUser, k64, path, {u"Keep"}).values[0].error, kSuccess);
    EXPECT_EQ(platform().deleteValue(kUser, k64, scratchKey(u"Missing"), u"Path"), kFileNotFound);
    EXPECT_EQ(
        platform().writeValue(kUser, k64, scratchKey(u"Missing"), u"Path", codes::kRegSz, bare),
        kFileNotFound);
}

TEST_P(PlatformContract, ReadValuesGivesTypesAndTheStoredBytes) {
    const std::u16string path = scratchKey(u"Values");
    const struct {
        const char16_t* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } stored[] = {
        {u"Text", codes::kRegSz, Utf16Bytes(std::u16string(u"Autodesk 值\0", 11))},
        {u"Multi", codes::kRegMultiSz, Utf16Bytes(std::u16string(u"a\0bc\0\0", 6))},
        {u"Bare", codes::kRegSz, Utf16Bytes(u"abc")},
        {u"Odd", codes::kRegSz, {'a', 0, 'b', 0, 'c'}},
        {u"Expand", codes::kRegExpandSz, Utf16Bytes(std::u16string(u"%TEMP%\0", 7))},
        {u"Number", codes::kRegDword, {1, 2, 3, 4}},
        {u"Empty", codes::kRegBinary, {}},
    };
    for (const auto& value : stored) {
        preparer->setValue(kUser, k64, path, value.name, value.type, value.data);
    }

    const std::vector<std::u16string> names = {u"text",   u"Multi",  u"Bare",  u"Odd",
                                               u"Expand", u"NUMBER", u"Empty", u"Missing"};
    const RegistryValues read = platform().readValues(kUser, k64, path, names);
    ASSERT_EQ(read.error, kSuccess);
    ASSERT_EQ(read.values.size(), names.size());
    for (size_t i = 0; i < std::size(stored); ++i) {
        SCOPED_TRACE(ToUtf8(stored[i].name));
        EXPECT_EQ(read.values[i].error, kSuccess);
        EXPECT_EQ(read.values[i].type, stored[i].type);
        EXPECT_EQ(read.values[i].data, stored[i].data);
    }
    EXPECT_EQ(read.values.back().error, kFileNotFound);
    EXPECT_TRUE(read.values.back().data.empty());

    const RegistryValues missing =
        platform().readValues(kUser, k64, scratchKey(u"NoSuchKey"), names);
    EXPECT_EQ(missing.error, kFileNotFound);
    EXPECT_TRUE(missing.values.empty());

    // Listed, every value comes with its stored name, type and bytes, a 64 KiB one included.
    preparer->setValue(kUser, k64, path, u"", codes::kRegBinary, std::vector<uint8_t>(65536, 7));
    const ValueListing listed = platform().listValues(kUser, k64, path);
    ASSERT_EQ(listed.error, kSuccess);
    ASSERT_EQ(listed.values.size(), std::size(stored) + 1);
    for (const NamedValue& value : listed.values) {
        SCOPED_TRACE(ToUtf8(value.name));
        const auto found = std::find_if(std::begin(stored), std::end(stored),
                                        [&](const auto& s) { return value.name == s.name; });
        if (found == std::end(stored)) {
            EXPECT_EQ(value.name, u"");
            EXPECT_EQ(value.data, std::vector<uint8_t>(65536, 7));
            continue;
        }
        EXPECT_EQ(value.type, found->type);
        EXPECT_EQ(value.data, found->data);
    }
    EXPECT_EQ(platform().listValues(kUser, k64, scratchKey(u"NoSuchKey")).error, kFileNotFound);
}

TEST_P(PlatformContract, SubkeyValuesAreWhatListingAndReadingEachSubkeyGive) {
    std::vector<RegistryView> views = {k64};
    if (platform().runsOn64BitWindows()) {
        views.push_back(k32);
    }
    const std::u16string records = scratchKey(u"Records");
    // Longer than any small first read buffer.
    const std::vector<uint8_t> longText = Utf16Bytes(std::u16string(1500, u'x') + u'\0');
    for (RegistryView view : views) {
        const std::u16string own = view == k64 ? u"Only64" : u"Only32";
        preparer->makeKey(kMachine, view, records + u"\\Empty");
        preparer->setValue(kMachine, view, records + u"\\" + own, u"DisplayName", codes::kRegSz,
                           Utf16Bytes(own + u'\0'));
        preparer->setValue(kMachine, view, records + u"\\Long", u"UninstallString", codes::kRegSz,
                           longText);
    }

    const std::vector<std::u16string> names = {u"DisplayName", u"UninstallString"};
    for (RegistryView view : views) {
        SCOPED_TRACE(view == k64 ? "64" : "32");
        const SubkeyValuesListing all = platform().readSubkeyValues(kMachine, view, records, names);
        const SubkeyListing listing = platform().listSubkeys(kMachine, view, records);
        ASSERT_EQ(all.error, kSuccess);
        ASSERT_EQ(all.subkeys.size(), 3u);
        ASSERT_EQ(all.subkeys.size(), listing.names.size());
        for (size_t i = 0; i < all.subkeys.size(); ++i) {
            const SubkeyValues& subkey = all.subkeys[i];
            SCOPED_TRACE(ToUtf8(subkey.name));
            EXPECT_EQ(subkey.name, listing.names[i]);
            const RegistryValues one =
                platform().readValues(kMachine, view, records + u"\\" + subkey.name, names);
            EXPECT_EQ(subkey.values.error, one.error);
            ASSERT_EQ(subkey.values.values.size(), one.values.size());
            for (size_t v = 0; v < one.values.size(); ++v) {
                EXPECT_EQ(subkey.values.values[v].error, one.values[v].error);
                EXPECT_EQ(subkey.values.values[v].type, one.values[v].type);
                EXPECT_EQ(subkey.values.values[v].data, one.values[v].data);
            }
        }
        EXPECT_EQ(all.subkeys[1].values.values[1].data, longText);
        EXPECT_EQ(all.subkeys[0].values.values[0].error, kFileNotFound);
    }
    EXPECT_EQ(platform().readSubkeyValues(kUser, k64, scratchKey(u"Missing"), names).error,
              kFileNotFound);
}

TEST_P(PlatformContract, CreateDirectoryTellsExistingAndMissingParents) {
    preparer->makeFile(scratch(u"taken"), "x");
    const struct {
        const char16_t* relative;
        uint32_t error;
    } steps[] = {
        {u"new", kSuccess},
        {u"new", kAlreadyExists},
        {u"NEW", kAlreadyExists},
        {u"taken", kAlreadyExists},
        {u"new\\child\\", kSuccess},
        {u"absent\\child", kPathNotFound},
        {u"absent\\deeper\\child", kPathNotFound},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(ToUtf8(step.relative));
        EXPECT_EQ(platform().createDirectory(scratch(step.relative)), step.error);
    }
    EXPECT_TRUE(platform().fileAttributes(scratch(u"new\\child")).isDirectory());
    EXPECT_FALSE(platform().fileAttributes(scratch(u"taken")).isDirectory());
    EXPECT_FALSE(platform().fileAttributes(scratch(u"absent")).exists());
}

TEST_P(PlatformContract, DeletionCodesForFilesAndDirectories) {
    preparer->makeFile(scratch(u"locked-down.txt"), "x", codes::kAttributeReadOnly);
    preparer->makeFile(scratch(u"hidden.sys"), "x",
                       codes::kAttributeHidden | codes::kAttributeSystem);
    preparer->makeFile(scratch(u"full\\inside.txt"), "x");
    preparer->makeDirectory(scratch(u"empty"));
    preparer->makeDirectory(scratch(u"read-only dir"));
    ASSERT_EQ(platform().setFileAttributes(scratch(u"read-only dir"),
                                           codes::kAttributeReadOnly | codes::kAttributeDirectory),
              kSuccess);

    const struct {
        const char* what;
        uint32_t (Platform::*operation)(const std::u16string&);
        const char16_t* relative;
        uint32_t error;
    } steps[] = {
        {"delete missing", &Platform::deleteFile, u"missing.txt", kFileNotFound},
        {"delete under missing", &Platform::deleteFile, u"missing\\x.txt", kPathNotFound},
        {"delete read-only", &Platform::deleteFile, u"locked-down.txt", kAccessDenied},
        {"delete a directory", &Platform::deleteFile, u"empty", kAccessDenied},
        {"delete hidden system", &Platform::deleteFile, u"hidden.sys", kSuccess},
        {"remove non-empty", &Platform::removeDirectory, u"full", kDirectoryNotEmpty},
        {"remove a file", &Platform::removeDirectory, u"full\\inside.txt", kNotADirectory},
        {"remove missing", &Platform::removeDirectory, u"missing", kFileNotFound},
        {"remove under missing", &Platform::removeDirectory, u"missing\\x", kPathNotFound},
        {"remove empty", &Platform::removeDirectory, u"empty", kSuccess},
        {"remove read-only", &Platform::removeDirectory, u"read-only dir", kAccessDenied},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.error == kAccessDenied && step.operation == &Platform::removeDirectory &&
            !preparer->checksAttributesLikeWindows()) {
            continue;
        }
        EXPECT_EQ((platform().*step.operation)(scratch(step.relative)), step.error);
    }
    EXPECT_TRUE(platform().fileAttributes(scratch(u"locked-down.txt")).exists());
    EXPECT_FALSE(platform().fileAttributes(scratch(u"hidden.sys")).exists());
    EXPECT_FALSE(platform().fileAttributes(scratch(u"empty")).exists());

    // Resetting the attributes lets the read-only file go.
    EXPECT_EQ(platform().setFileAttributes(scratch(u"locked-down.txt"), codes::kAttributeNormal),
              kSuccess);
    EXPECT_EQ(platform().fileAttributes(scratch(u"locked-down.txt")).bits &
                  codes::kAttributeReadOnly,
              0u);
    EXPECT_EQ(platform().deleteFile(scratch(u"locked-down.txt")), kSuccess);
    EXPECT_EQ(platform().fileAttributes(scratch(u"locked-down.txt")).error, kFileNotFound);
    EXPECT_EQ(platform().setFileAttributes(scratch(u"missing.txt"), codes::kAttributeNormal),
              kFileNotFound);
}

// The one-step deletion inside an open folder takes an ordinary file and nothing else.
TEST_P(PlatformContract, DeletingAChildInOneStepTakesOnlyAnOrdinaryFile) {
    preparer->makeFile(scratch(u"plain.dat"), "x");
    preparer->makeFile(scratch(u"read-only.dat"), "x", codes::kAttributeReadOnly);
    preparer->makeFile(scratch(u"folder\\inside.dat"), "x");
    preparer->makeDirectory(scratch(u"empty"));
    const OpenedEntry opened = platform().openEntry(folder);
    ASSERT_EQ(opened.error, kSuccess);

    const struct {
        const char16_t* name;
        uint32_t error;
        bool stays;
    } steps[] = {
        // clang-format off
        {u"plain.dat", kSuccess, false},
        {u"read-only.dat", kAccessDenied, true},
        {u"folder", kAccessDenied, true},
        {u"empty", kAccessDenied, true},
        {u"missing.dat", kFileNotFound, false},
        // clang-format on
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(ToUtf8(step.name));
        EXPECT_EQ(platform().deleteChild(opened.handle, step.name), step.error);
        EXPECT_EQ(platform().fileAttributes(scratch(step.name)).exists(), step.stays);
    }
    platform().closeEntry(opened.handle);
}

TEST_P(PlatformContract, WriteFileCreatesOrReplacesTheWholeFile) {
    const std::u16string log = scratch(u"Tidewell日志.txt");
    const std::string first = "\xEF\xBB\xBF first run, longer text\r\n";
    EXPECT_EQ(platform().writeFile(log, first), kSuccess);
    EXPECT_EQ(preparer->readFile(log), first);
    EXPECT_EQ(platform().writeFile(log, "second"), kSuccess);
    EXPECT_EQ(preparer->readFile(log), std::string("second"));
    EXPECT_EQ(platform().writeFile(log, ""), kSuccess);
    EXPECT_EQ(preparer->readFile(log), std::string());
    // Appending adds at the end of what is there; reading gives every byte back.
    EXPECT_EQ(platform().appendFile(log, "a\r\n"), kSuccess);
    EXPECT_EQ(platform().appendFile(log, std::string(100000, 'b')), kSuccess);
    EXPECT_EQ(platform().readFile(log).bytes, "a\r\n" + std::string(100000, 'b'));
    EXPECT_EQ(platform().appendFile(scratch(u"absent.txt"), "x"), kFileNotFound);
    EXPECT_EQ(platform().readFile(scratch(u"absent.txt")).error, kFileNotFound);

    // What cannot be replaced keeps its contents.
    preparer->makeFile(scratch(u"hidden.txt"), "keep", codes::kAttributeHidden);
    preparer->makeFile(scratch(u"system.txt"), "keep", codes::kAttributeSystem);
    preparer->makeFile(scratch(u"held.txt"), "keep");
    preparer->holdOpen(scratch(u"held.txt"));
    preparer->makeFile(scratch(u"readonly.txt"), "keep", codes::kAttributeReadOnly);
    const struct {
        const char16_t* relative;
        uint32_t error;
        bool attributeCheck;
    } refused[] = {
        {u"held.txt", codes::kSharingViolation, false},
        {u"hidden.txt", kAccessDenied, true},
        {u"system.txt", kAccessDenied, true},
        {u"readonly.txt", kAccessDenied, true},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(ToUtf8(c.relative));
        if (c.attributeCheck && !preparer->checksAttributesLikeWindows()) {
            continue;
        }
        EXPECT_EQ(platform().writeFile(scratch(c.relative), "lost"), c.error);
        if (c.error == codes::kSharingViolation) {
            EXPECT_EQ(platform().appendFile(scratch(c.relative), "lost"), c.error);
        }
        EXPECT_EQ(preparer->readFile(scratch(c.relative)), std::string("keep"));
    }
    preparer->makeDirectory(scratch(u"folder"));
    EXPECT_EQ(platform().writeFile(scratch(u"folder"), "x"), kAccessDenied);
    EXPECT_EQ(platform().writeFile(scratch(u"absent\\x.txt"), "x"), kPathNotFound);
    EXPECT_FALSE(platform().fileAttributes(scratch(u"absent")).exists());
}

TEST_P(PlatformContract, AFileInUseCannotBeDeletedButCanBeRegisteredForRestart) {
    preparer->makeFile(scratch(u"bin\\in-use.dll"), "x");
    preparer->holdOpen(scratch(u"bin\\in-use.dll"));
    EXPECT_EQ(platform().deleteFile(scratch(u"bin\\in-use.dll")), codes::kSharingViolation);
    EXPECT_EQ(platform().removeDirectory(scratch(u"bin")), kDirectoryNotEmpty);
    EXPECT_EQ(platform().deleteAtRestart(scratch(u"bin\\in-use.dll")), kSuccess);
    EXPECT_EQ(platform().deleteAtRestart(scratch(u"bin")), kSuccess);
    // Only registered: both stay until the restart.
    EXPECT_TRUE(platform().fileAttributes(scratch(u"bin\\in-use.dll")).exists());
    EXPECT_TRUE(platform().fileAttributes(scratch(u"bin")).isDirectory());
}

} // namespace
} // namespace tidewell
