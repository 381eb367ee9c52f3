#include "clean/FileRemoval.h"

#include "clean/ProtectedLocations.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

#include <algorithm>
#include <optional>

namespace tidewell {

namespace {

constexpr uint32_t kLinkBits = codes::kAttributeDirectory | codes::kAttributeReparsePoint;
constexpr uint32_t kBlockingBits =
    codes::kAttributeReadOnly | codes::kAttributeHidden | codes::kAttributeSystem;

// Resets the attributes only when they carry one that can stand in the way of the deletion:
// an entry without them is left alone, which saves a call (an open and a close) per entry.
// A failure here shows up in the deletion that follows.
void ClearBlockingAttributes(Platform& platform, const std::u16string& path, uint32_t bits) {
    if ((bits & kBlockingBits) != 0) {
        platform.setFileAttributes(path, codes::kAttributeNormal);
    }
}

// A result together with the code of the call that failed, which a tree walk may need for its
// own message.
struct Removal {
    ActionResult result;
    uint32_t error = codes::kSuccess;
};

// Only "file not found" and "path not found" say the object is gone. Any other code (access
// denied, a sharing violation, a bad or too long name) leaves it where it is, unknown.
bool IsGone(uint32_t error) {
    return error == codes::kFileNotFound || error == codes::kPathNotFound;
}

Removal Unreadable(Platform& platform, uint32_t error) {
    return {{false, SystemErrorText(platform, error), false}, error};
}

Removal RemoveFileAt(Platform& platform, const std::u16string& path) {
    Removal removal;
    const FileAttributes attributes = platform.fileAttributes(path);
    if (!attributes.exists()) {
        if (!IsGone(attributes.error)) {
            return Unreadable(platform, attributes.error);
        }
        removal.result = {true, u"文件已不存在", false};
        return removal;
    }
    ClearBlockingAttributes(platform, path, attributes.bits);
    if (platform.deleteFile(path) == codes::kSuccess) {
        removal.result = {true, u"文件已删除", false};
        return removal;
    }
    removal.error = platform.deleteAtRestart(path);
    if (removal.error == codes::kSuccess) {
        removal.result = {true, u"文件将在重启后删除", true};
        return removal;
    }
    removal.result = {false, SystemErrorText(platform, removal.error), false};
    return removal;
}

// Paths as the walk compares them: ASCII folded, "/" read as "\\", no trailing separator.
std::u16string FoldedPath(const std::u16string& path) {
    std::u16string folded = ToLower(path);
    std::replace(folded.begin(), folded.end(), u'/', u'\\');
    return DropTrailingSeparators(folded);
}

struct KeptPlace {
    std::u16string folded;
    std::u16string location; // as the item names it
};

// What one tree removal must leave alone, and which of it the walk came upon.
struct TreeWalk {
    std::vector<KeptPlace> kept; // only those below the tree's top
    std::vector<std::u16string> met;

    bool keeps(const std::u16string& path) {
        if (kept.empty()) {
            return false;
        }
        const std::u16string folded = FoldedPath(path);
        for (const KeptPlace& place : kept) {
            if (place.folded == folded) {
                met.push_back(place.location);
                return true;
            }
        }
        return false;
    }
};

ActionResult PartlyFailed(Platform& platform, uint32_t error, bool pending) {
    return {false, u"部分内容无法删除：" + SystemErrorText(platform, error), pending};
}

// Removes the directory (or directory link) itself, or registers it for restart.
// Returns the code of the removal, 0 when it went now or was registered.
uint32_t RemoveOrRegister(Platform& platform, const std::u16string& path, uint32_t bits,
                          bool& pending, uint32_t& registrationError) {
    ClearBlockingAttributes(platform, path, bits);
    const uint32_t removeError = platform.removeDirectory(path);
    if (removeError == codes::kSuccess) {
        return codes::kSuccess;
    }
    registrationError = platform.deleteAtRestart(path);
    if (registrationError == codes::kSuccess) {
        pending = true;
    }
    return removeError;
}

// A folder the walk is inside: its listing, how far through it the walk has come, and what its
// entries came to so far.
struct Folder {
    size_t pathSize; // its path is the walk's path cut to this size
    uint32_t bits;
    std::vector<DirectoryEntry> entries;
    size_t keptBefore; // kept locations met before its listing
    size_t next = 0;
    bool allRemoved = true;
    bool pending = false;
    // The code behind the failure the message reports: the folder's own removal when that
    // failed, otherwise the last entry that failed.
    uint32_t lastError = codes::kSuccess;

    void count(const Removal& done) {
        if (!done.result.success) {
            allRemoved = false;
            lastError = done.error;
        }
        pending = pending || done.result.rebootPending;
    }
};

// Looks at a directory the walk comes to. The result at once for one that cannot be read, is
// gone or is a link; otherwise its listing becomes the walk's next folder, and nothing.
std::optional<Removal> EnterDirectory(Platform& platform, const std::u16string& path,
                                      TreeWalk& walk, std::vector<Folder>& folders) {
    Removal removal;
    const FileAttributes attributes = platform.fileAttributes(path);
    if (!attributes.exists() && !IsGone(attributes.error)) {
        return Unreadable(platform, attributes.error);
    }
    if (!attributes.isDirectory()) {
        removal.result = {true, u"目录已不存在", false};
        return removal;
    }
    // A link given as the tree itself is removed as a link too: its target is another tree.
    if ((attributes.bits & kLinkBits) == kLinkBits) {
        ClearBlockingAttributes(platform, path, attributes.bits);
        removal.error = platform.removeDirectory(path);
        if (removal.error == codes::kSuccess) {
            removal.result = {true, u"目录已删除", false};
        } else {
            removal.result = PartlyFailed(platform, removal.error, false);
        }
        return removal;
    }
    // A listing that cannot be opened leaves the directory to answer for itself when it is left.
    DirectoryListing listing = platform.listDirectory(path);
    folders.push_back({path.size(), attributes.bits, std::move(listing.entries), walk.met.size()});
    return std::nullopt;
}

// Removes or registers a folder whose entries are done, and says what it came to.
Removal LeaveDirectory(Platform& platform, const std::u16string& path, Folder& folder,
                       const TreeWalk& walk) {
    Removal removal;
    // A folder on the way to a kept location stays, neither removed nor registered.
    uint32_t registrationError = codes::kSuccess;
    const uint32_t removeError =
        walk.met.size() != folder.keptBefore
            ? codes::kSuccess
            : RemoveOrRegister(platform, path, folder.bits, folder.pending, registrationError);
    if (removeError != codes::kSuccess && registrationError != codes::kSuccess) {
        removal.error = registrationError;
        removal.result = PartlyFailed(platform, registrationError, folder.pending);
        return removal;
    }
    if (folder.allRemoved) {
        removal.result = {true, folder.pending ? u"部分内容将在重启后删除" : u"目录已删除",
                          folder.pending};
        return removal;
    }
    removal.error = removeError != codes::kSuccess ? removeError : folder.lastError;
    removal.result = PartlyFailed(platform, removal.error, folder.pending);
    return removal;
}

// Depth first, children before their folder, with a stack of its own: within the 32,767 units
// of a long path a tree can be 16,000 folders deep, deeper than the 32-bit program's stack would
// carry a recursive walk. One path serves the whole walk, cut back as it climbs.
Removal RemoveTreeAt(Platform& platform, const std::u16string& top, TreeWalk& walk) {
    std::vector<Folder> folders;
    std::u16string path = top;
    if (std::optional<Removal> done = EnterDirectory(platform, path, walk, folders)) {
        return *done;
    }
    while (true) {
        Folder& folder = folders.back();
        path.resize(folder.pathSize);
        if (folder.next == folder.entries.size()) {
            const Removal done = LeaveDirectory(platform, path, folder, walk);
            folders.pop_back();
            if (folders.empty()) {
                return done;
            }
            folders.back().count(done);
            continue;
        }
        const DirectoryEntry& entry = folder.entries[folder.next++];
        if (entry.name == u"." || entry.name == u"..") {
            continue;
        }
        platform.lookAtQueue();
        if (!path.empty() && path.back() != u'\\') {
            path += u'\\';
        }
        path += entry.name;
        if (walk.keeps(path)) {
            continue; // another item of the scan, not being removed: untouched, nothing below
        }
        const uint32_t bits = entry.attributes;
        if ((bits & kLinkBits) == kLinkBits) {
            // Never entered: removing the link leaves its target alone. A link that stays is
            // not registered for restart.
            ClearBlockingAttributes(platform, path, bits);
            const uint32_t error = platform.removeDirectory(path);
            if (error != codes::kSuccess) {
                folder.allRemoved = false;
                folder.lastError = error;
            }
        } else if ((bits & codes::kAttributeDirectory) == 0) {
            folder.count(RemoveFileAt(platform, path));
        } else if (std::optional<Removal> done = EnterDirectory(platform, path, walk, folders)) {
            folders.back().count(*done); // nothing was added: still this folder
        }
    }
}

} // namespace

ActionResult RemoveFile(Platform& platform, const std::u16string& path) {
    if (IsProtectedLocation(platform, path)) {
        return {false, kProtectedLocationMessage, false};
    }
    return RemoveFileAt(platform, path).result;
}

// Only the top needs the guard: every protected folder below it would make it an ancestor.
ActionResult RemoveDirectoryTree(Platform& platform, const std::u16string& path,
                                 const std::vector<std::u16string>& kept) {
    if (IsProtectedLocation(platform, path)) {
        return {false, kProtectedLocationMessage, false};
    }
    const std::u16string top = FoldedPath(path);
    TreeWalk walk;
    for (const std::u16string& location : kept) {
        const std::u16string folded = FoldedPath(location);
        if (folded == top) {
            return {true, u"目录未删除：此目录也是未清理的项目", false};
        }
        if (folded.size() > top.size() && folded.compare(0, top.size(), top) == 0 &&
            folded[top.size()] == u'\\') {
            walk.kept.push_back({folded, location});
        }
    }
    ActionResult result = RemoveTreeAt(platform, path, walk).result;
    if (result.success && !walk.met.empty()) {
        std::u16string names;
        for (const std::u16string& location : walk.met) {
            names += (names.empty() ? u"" : u"；") + location;
        }
        result.message = (result.rebootPending ? u"其余内容将在重启后删除，保留未清理的项目："
                                               : u"目录内容已删除，保留未清理的项目：") +
                         names;
    }
    return result;
}

} // namespace tidewell
