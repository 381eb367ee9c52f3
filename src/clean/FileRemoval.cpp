#include "clean/FileRemoval.h"

#include "clean/ProtectedLocations.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

#include <algorithm>
#include <optional>

namespace tidewell {

namespace {

constexpr uint32_t kBlockingBits =
    codes::kAttributeReadOnly | codes::kAttributeHidden | codes::kAttributeSystem;

const std::u16string kPartlyFailed = u"部分内容无法删除：";
const std::u16string kNotEmptied = u"目录未能清空：";
const std::u16string kNotListed = u"无法列出目录内容，目录未能清空：";
// A boot-time deletion goes by path; where an ordinary user can swap a folder on that path, it
// could be turned onto anything.
const std::u16string kUnsafeRestartFile =
    u"文件正在使用，且所在目录允许普通用户修改，为安全起见未登记重启后删除：";
const std::u16string kUnsafeRestartFolder =
    u"目录正在使用，且所在目录允许普通用户修改，为安全起见未登记重启后删除：";

// Owns one open entry for the length of a step.
class OpenEntry {
public:
    OpenEntry(Platform& platform, OpenedEntry opened) : platform_(platform), opened_(opened) {}
    ~OpenEntry() { close(); }
    OpenEntry(const OpenEntry&) = delete;
    OpenEntry& operator=(const OpenEntry&) = delete;

    const OpenedEntry& operator*() const { return opened_; }
    const OpenedEntry* operator->() const { return &opened_; }
    // Hands the open entry to its next owner.
    OpenedEntry release() {
        OpenedEntry taken = opened_;
        opened_.handle = 0;
        return taken;
    }
    void close() {
        if (opened_.handle != 0) {
            platform_.closeEntry(opened_.handle);
            opened_.handle = 0;
        }
    }

private:
    Platform& platform_;
    OpenedEntry opened_;
};

// Only "file not found" and "path not found" say the object is gone. Any other code (access
// denied, a sharing violation, a bad or too long name) leaves it where it is, unknown.
bool IsGone(uint32_t error) {
    return error == codes::kFileNotFound || error == codes::kPathNotFound;
}

// Resets the attributes through the handle only when one of them can stand in the way of the
// deletion. A failure here shows up in the deletion that follows.
uint32_t DeleteThroughHandle(Platform& platform, const OpenedEntry& entry) {
    if ((entry.attributes & kBlockingBits) != 0) {
        platform.setOpenAttributes(entry.handle, codes::kAttributeNormal);
    }
    return platform.deleteOpen(entry.handle);
}

// What stopped part of a removal, in a form the top's message can give.
struct Failure {
    uint32_t error = codes::kSuccess; // the system's code, when the detail is its text
    std::u16string detail;            // otherwise the text itself

    std::u16string text(Platform& platform) const {
        return detail.empty() ? SystemErrorText(platform, error) : detail;
    }
};

// Paths as the walk compares them: ASCII folded, "/" read as "\\", no trailing separator.
std::u16string FoldedPath(const std::u16string& path) {
    std::u16string folded = ToLower(path);
    std::replace(folded.begin(), folded.end(), u'/', u'\\');
    return DropTrailingSeparators(folded);
}

// "C:\..." or "\\server\...": a location that names one place whatever the current folder.
bool IsAbsolute(const std::u16string& path) {
    const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
    const bool share = path.size() >= 3 && (path[0] == u'\\' || path[0] == u'/') &&
                       (path[1] == u'\\' || path[1] == u'/');
    return drive || share;
}

struct KeptPlace {
    std::u16string folded;
    std::u16string location;              // as the item names it
    std::optional<FileIdentity> identity; // read once, before the walk
};

// A folder the walk is inside: its open handle and listing, how far through it the walk has
// come, and what its entries came to so far.
struct Folder {
    EntryHandle handle;
    size_t pathSize; // its path is the walk's path cut to this size
    uint32_t bits;
    std::vector<DirectoryEntry> entries;
    uint32_t listingError;
    size_t keptBefore; // kept locations met before its listing
    size_t next = 0;
    bool allRemoved = true;
    bool pending = false;
    std::optional<FolderWriters> writers; // asked when a registration needs it
};

// One tree removal: what it must leave alone, what it came upon, and its first failure.
class TreeWalk {
public:
    TreeWalk(Platform& platform, std::vector<KeptPlace> kept)
        : platform_(platform), kept_(std::move(kept)) {}
    ~TreeWalk() {
        for (const Folder& folder : folders_) {
            platform_.closeEntry(folder.handle);
        }
    }
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    ActionResult run(const std::u16string& top, const OpenedEntry& opened);
    const std::vector<std::u16string>& met() const { return met_; }

private:
    bool keeps(const std::u16string& path, const std::optional<FileIdentity>& identity);
    bool goesInOneStep(const DirectoryEntry& listed) const;
    void enter(const OpenedEntry& opened, size_t pathSize);
    void fail(Folder& folder, Failure failure);
    // The way a locked entry goes: registered for restart where no ordinary user can change a
    // folder from the top down to it; otherwise a failure.
    void registerOrFail(Folder& folder, bool isFolder, size_t depth);
    bool adminOnlyDownTo(size_t depth);
    void removeEntry(Folder& folder, const OpenedEntry& entry, bool link);
    // Removes or registers the innermost folder and closes it; the walk's result if it was the
    // top, nothing otherwise.
    std::optional<ActionResult> leave();

    Platform& platform_;
    std::vector<KeptPlace> kept_;
    std::vector<std::u16string> met_;
    std::vector<Folder> folders_;
    std::u16string path_;
    std::optional<Failure> firstFailure_;
};

bool TreeWalk::keeps(const std::u16string& path, const std::optional<FileIdentity>& identity) {
    if (kept_.empty()) {
        return false;
    }
    std::optional<std::u16string> folded;
    for (const KeptPlace& place : kept_) {
        bool same = false;
        if (place.identity && identity) {
            same = *place.identity == *identity;
        } else {
            if (!folded) {
                folded = FoldedPath(path);
            }
            same = place.folded == *folded;
        }
        if (same) {
            met_.push_back(place.location);
            return true;
        }
    }
    return false;
}

// An ordinary file by its listing that no kept location can be: it needs neither its attributes
// nor its identity read through a handle of its own. A kept location known by its identity is
// compared with the listing's index; a listing without one leaves the question to the full open.
bool TreeWalk::goesInOneStep(const DirectoryEntry& listed) const {
    constexpr uint32_t kNotPlain =
        codes::kAttributeDirectory | codes::kAttributeReparsePoint | kBlockingBits;
    if ((listed.attributes & kNotPlain) != 0) {
        return false;
    }
    std::optional<std::u16string> folded;
    for (const KeptPlace& place : kept_) {
        if (place.identity) {
            if (listed.file == 0 || listed.file == place.identity->file) {
                return false;
            }
            continue;
        }
        if (!folded) {
            folded = FoldedPath(path_);
        }
        if (place.folded == *folded) {
            return false;
        }
    }
    return true;
}

void TreeWalk::enter(const OpenedEntry& opened, size_t pathSize) {
    DirectoryListing listing = platform_.listOpenFolder(opened.handle);
    folders_.push_back({opened.handle, pathSize, opened.attributes, std::move(listing.entries),
                        listing.error, met_.size()});
}

void TreeWalk::fail(Folder& folder, Failure failure) {
    folder.allRemoved = false;
    if (!firstFailure_) {
        firstFailure_ = std::move(failure);
    }
}

bool TreeWalk::adminOnlyDownTo(size_t depth) {
    for (size_t index = 0; index <= depth; ++index) {
        Folder& folder = folders_[index];
        if (!folder.writers) {
            folder.writers = platform_.folderWriters(folder.handle);
        }
        if (*folder.writers != FolderWriters::AdministratorsOnly) {
            return false;
        }
    }
    return true;
}

void TreeWalk::registerOrFail(Folder& folder, bool isFolder, size_t depth) {
    if (!adminOnlyDownTo(depth)) {
        fail(folder,
             {codes::kSuccess, (isFolder ? kUnsafeRestartFolder : kUnsafeRestartFile) + path_});
        return;
    }
    const uint32_t error = platform_.deleteAtRestart(path_);
    if (error != codes::kSuccess) {
        fail(folder, {error, {}});
        return;
    }
    folder.pending = true;
}

void TreeWalk::removeEntry(Folder& folder, const OpenedEntry& entry, bool link) {
    const uint32_t error = DeleteThroughHandle(platform_, entry);
    if (error == codes::kSuccess) {
        return;
    }
    // A link that stays is not registered: at boot the path could lead anywhere.
    if (link) {
        fail(folder, {error, {}});
        return;
    }
    registerOrFail(folder, false, folders_.size() - 1);
}

std::optional<ActionResult> TreeWalk::leave() {
    Folder& folder = folders_.back();
    path_.resize(folder.pathSize);
    // A folder on the way to a kept location stays, neither removed nor registered.
    if (met_.size() == folder.keptBefore) {
        OpenedEntry self{codes::kSuccess, folder.handle, folder.bits, {}};
        const uint32_t error = DeleteThroughHandle(platform_, self);
        if (error == codes::kSuccess) {
            // Gone (or empty after all): whatever the listing met does not matter.
        } else if (folder.listingError != codes::kSuccess) {
            fail(folder, {codes::kSuccess, kNotListed + path_});
        } else if (!folder.allRemoved) {
            // What stays below keeps it; registering it could not make it go.
        } else if (error == codes::kDirectoryNotEmpty && !folder.pending) {
            // Something the listing did not show is still in it.
            fail(folder, {codes::kSuccess, kNotEmptied + path_});
        } else {
            registerOrFail(folder, true, folders_.size() - 1);
        }
    }
    const bool allRemoved = folder.allRemoved;
    const bool pending = folder.pending;
    platform_.closeEntry(folder.handle);
    folders_.pop_back();
    if (!folders_.empty()) {
        Folder& parent = folders_.back();
        parent.allRemoved = parent.allRemoved && allRemoved;
        parent.pending = parent.pending || pending;
        return std::nullopt;
    }
    if (!allRemoved) {
        return ActionResult{false, kPartlyFailed + firstFailure_->text(platform_), pending};
    }
    return ActionResult{true, pending ? u"部分内容将在重启后删除" : u"目录已删除", pending};
}

// Depth first, children before their folder, with a stack of its own: within the 32,767 units
// of a long path a tree can be 16,000 folders deep, deeper than the 32-bit program's stack would
// carry a recursive walk. Each folder is opened once, without following a link, and listed
// and emptied through that handle; each entry is opened relative to it, never through a link, and
// deleted through its own handle (an ordinary file in the same open), so a folder swapped for a
// link meanwhile can redirect nothing.
ActionResult TreeWalk::run(const std::u16string& top, const OpenedEntry& opened) {
    path_ = top;
    enter(opened, top.size());
    while (true) {
        Folder& folder = folders_.back();
        path_.resize(folder.pathSize);
        if (folder.next == folder.entries.size()) {
            if (std::optional<ActionResult> done = leave()) {
                return *done;
            }
            continue;
        }
        // A copy: entering a folder below moves this one's record.
        const DirectoryEntry listed = folder.entries[folder.next++];
        if (listed.name == u"." || listed.name == u"..") {
            continue;
        }
        platform_.lookAtQueue();
        if (!path_.empty() && path_.back() != u'\\') {
            path_ += u'\\';
        }
        path_ += listed.name;
        if (goesInOneStep(listed)) {
            const uint32_t error = platform_.deleteChild(folder.handle, listed.name);
            if (error == codes::kSuccess || IsGone(error)) {
                continue;
            }
            // In use, made read-only or no longer a file: the full open below tells which.
        }
        OpenEntry entry(platform_, platform_.openChild(folder.handle, listed.name));
        if (entry->error != codes::kSuccess) {
            if (!IsGone(entry->error)) {
                fail(folder, {entry->error, {}});
            }
            continue;
        }
        if (keeps(path_, entry->identity)) {
            continue; // another item of the scan, not being removed: untouched, nothing below
        }
        // A link by either look is never entered: a system that opens through a link (Wine
        // does) shows its target's attributes through the handle.
        const bool link =
            ((entry->attributes | listed.attributes) & codes::kAttributeReparsePoint) != 0;
        if ((entry->attributes & codes::kAttributeDirectory) != 0 && !link) {
            enter(entry.release(), path_.size());
            continue;
        }
        // Files, file links and folder links: the entry itself goes, never what it leads to.
        removeEntry(folder, *entry, link);
    }
}

} // namespace

ActionResult RemoveFile(Platform& platform, const std::u16string& path) {
    if (IsProtectedLocation(platform, path)) {
        return {false, kProtectedLocationMessage, false};
    }
    OpenEntry entry(platform, platform.openEntry(path));
    if (entry->error != codes::kSuccess) {
        if (!IsGone(entry->error)) {
            return {false, SystemErrorText(platform, entry->error), false};
        }
        return {true, u"文件已不存在", false};
    }
    if (DeleteThroughHandle(platform, *entry) == codes::kSuccess) {
        return {true, u"文件已删除", false};
    }
    entry.close();
    // The folder that holds it decides whether its path can be trusted at the next boot.
    const size_t separator = path.find_last_of(u"\\/");
    FolderWriters writers = FolderWriters::Unknown;
    if (separator != std::u16string::npos) {
        OpenEntry folder(platform, platform.openEntry(path.substr(0, separator + 1)));
        if (folder->error == codes::kSuccess) {
            writers = platform.folderWriters(folder->handle);
        }
    }
    if (writers != FolderWriters::AdministratorsOnly) {
        return {false, kUnsafeRestartFile + path, false};
    }
    const uint32_t error = platform.deleteAtRestart(path);
    if (error == codes::kSuccess) {
        return {true, u"文件将在重启后删除", true};
    }
    return {false, SystemErrorText(platform, error), false};
}

// Only the top needs the guard: every protected folder below it would make it an ancestor.
ActionResult RemoveDirectoryTree(Platform& platform, const std::u16string& path,
                                 const std::vector<std::u16string>& kept) {
    if (IsProtectedLocation(platform, path)) {
        return {false, kProtectedLocationMessage, false};
    }
    OpenEntry top(platform, platform.openEntry(path));
    if (top->error != codes::kSuccess && !IsGone(top->error)) {
        return {false, SystemErrorText(platform, top->error), false};
    }
    if (top->error != codes::kSuccess || (top->attributes & codes::kAttributeDirectory) == 0) {
        return {true, u"目录已不存在", false};
    }
    // A kept location is known by what it is, so that another spelling of it (a short name, a
    // link on the way) still keeps it; where that cannot be read, by its text.
    const std::u16string folded = FoldedPath(path);
    std::vector<KeptPlace> places;
    for (const std::u16string& location : kept) {
        KeptPlace place{FoldedPath(location), location, std::nullopt};
        if (IsAbsolute(location)) {
            OpenEntry opened(platform, platform.openEntry(location));
            if (opened->error == codes::kSuccess) {
                place.identity = opened->identity;
            }
        }
        const bool same =
            place.identity ? *place.identity == top->identity : place.folded == folded;
        if (same) {
            return {true, u"目录未删除：此目录也是未清理的项目", false};
        }
        const bool below = place.folded.size() > folded.size() &&
                           place.folded.compare(0, folded.size(), folded) == 0 &&
                           place.folded[folded.size()] == u'\\';
        if (place.identity || below) {
            places.push_back(std::move(place));
        }
    }
    // A link given as the tree itself is removed as a link: its target is another tree. Its
    // attributes by path count too, for a system that opens through a link.
    const uint32_t byPath = platform.fileAttributes(path).bits;
    if (((top->attributes | byPath) & codes::kAttributeReparsePoint) != 0) {
        const uint32_t error = DeleteThroughHandle(platform, *top);
        if (error == codes::kSuccess) {
            return {true, u"目录已删除", false};
        }
        return {false, kPartlyFailed + SystemErrorText(platform, error), false};
    }
    TreeWalk walk(platform, std::move(places));
    ActionResult result = walk.run(path, top.release());
    if (result.success && !walk.met().empty()) {
        std::u16string names;
        for (const std::u16string& location : walk.met()) {
            names += (names.empty() ? u"" : u"；") + location;
        }
        result.message = (result.rebootPending ? u"其余内容将在重启后删除，保留未清理的项目："
                                               : u"目录内容已删除，保留未清理的项目：") +
                         names;
    }
    return result;
}

} // namespace tidewell
