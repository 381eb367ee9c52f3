#include "platform/fake/FakePlatform.h"

#include "platform/ExtendedLengthPath.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

#include <algorithm>
#include <cstring>

namespace tidewell {

using fake::SplitPath;

namespace {

// A file path's names, with a UNC path's server and share taken as one root ("\\server\share"),
// as a drive is. The long-path and device forms ("\\?\", "\\.\") are no share.
std::vector<std::u16string> FilePathParts(const std::u16string& path) {
    std::vector<std::u16string> parts = SplitPath(path);
    const bool unc = path.size() > 2 && (path[0] == u'\\' || path[0] == u'/') &&
                     (path[1] == u'\\' || path[1] == u'/') && parts.size() >= 2 &&
                     parts[0] != u"?" && parts[0] != u".";
    if (unc) {
        parts[0] = u"\\\\" + parts[0] + u"\\" + parts[1];
        parts.erase(parts.begin() + 1);
    }
    return parts;
}

// Moves cursor past the next name of the path, as SplitPath would give it; start: where it
// begins. False when no name is left.
bool NextName(const std::u16string& path, size_t& cursor, size_t& start) {
    const char16_t* units = path.data();
    const size_t size = path.size();
    while (cursor < size && (units[cursor] == u'\\' || units[cursor] == u'/')) {
        ++cursor;
    }
    start = cursor;
    while (cursor < size && units[cursor] != u'\\' && units[cursor] != u'/') {
        ++cursor;
    }
    return cursor != start;
}

// The root a path starts from, as FilePathParts gives it ("C:", "\\server\share"), with
// cursor moved past it; empty for a relative path.
std::u16string RootOf(const std::u16string& path, size_t& cursor) {
    size_t start = 0;
    if (!NextName(path, cursor, start)) {
        return {};
    }
    const size_t serverEnd = cursor;
    const bool share = path.size() > 2 && (path[0] == u'\\' || path[0] == u'/') &&
                       (path[1] == u'\\' || path[1] == u'/') &&
                       path.compare(start, serverEnd - start, u"?") != 0 &&
                       path.compare(start, serverEnd - start, u".") != 0;
    size_t shareStart = 0;
    if (share && NextName(path, cursor, shareStart)) {
        return u"\\\\" + path.substr(start, serverEnd - start) + u"\\" +
               path.substr(shareStart, cursor - shareStart);
    }
    cursor = serverEnd;
    if (serverEnd - start == 2 && path[start + 1] == u':') {
        return path.substr(start, 2);
    }
    return {};
}

bool IsDriveSpec(const std::u16string& part) {
    return (part.size() == 2 && part[1] == u':') || part.compare(0, 2, u"\\\\") == 0;
}

} // namespace

// --- Paths -----------------------------------------------------------------------------------

std::u16string FakePlatform::absolute(const std::u16string& path) const {
    size_t cursor = 0;
    if (!RootOf(path, cursor).empty()) {
        return path;
    }
    return JoinPath(currentDirectory_, path);
}

FakePlatform::FileNode* FakePlatform::driveOf(const std::u16string& full, size_t& cursor) const {
    const std::u16string root = RootOf(full, cursor);
    auto drive = root.empty() ? drives_.end() : drives_.find(ToLower(root));
    return drive == drives_.end() ? nullptr : drive->second.get();
}

FakePlatform::FileNode* FakePlatform::walkNames(const std::u16string& full, size_t cursor,
                                                FileNode* node,
                                                std::vector<WalkedName>* walked) const {
    std::u16string name;
    size_t start = 0;
    while (node != nullptr && NextName(full, cursor, start)) {
        name.assign(full, start, cursor - start);
        if (name == u"..") {
            node = node->parent != nullptr ? node->parent : node;
        } else if (name != u".") {
            // A link in the middle of a path leads to its target, as a junction does.
            if (!node->linkTarget.empty()) {
                size_t targetCursor = 0;
                FileNode* drive = driveOf(node->linkTarget, targetCursor);
                node = drive == nullptr ? nullptr
                                        : walkNames(node->linkTarget, targetCursor, drive, nullptr);
            }
            if (node == nullptr || !node->directory) {
                return nullptr;
            }
            auto child = node->children.find(ToLower(name));
            node = child == node->children.end() ? nullptr : child->second.get();
        }
        if (node != nullptr && walked != nullptr) {
            walked->push_back({cursor, node});
        }
    }
    return node;
}

// Starts from the longest run of names this path shares with the last one walked: a tree walk
// asks for a child, a sibling or the parent of what it asked for before, and resolving a path
// of 16,000 names from its drive on every call would cost hours.
FakePlatform::FileNode* FakePlatform::findNode(const std::u16string& path) const {
    const std::u16string full = absolute(path);
    const auto sharesFirst = [&](size_t count) {
        const size_t end = walked_[count - 1].end;
        return full.size() >= end &&
               std::memcmp(full.data(), walkedPath_.data(), end * sizeof(char16_t)) == 0 &&
               (full.size() == end || full[end] == u'\\' || full[end] == u'/');
    };
    // Mostly the whole last walk, or else halving: a path that shares the first k walked names
    // shares every shorter run too.
    size_t low = 0;
    size_t high = walked_.size();
    if (high > 0 && sharesFirst(high)) {
        low = high;
    }
    while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (sharesFirst(middle)) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    walked_.resize(low);
    walkedPath_ = full;
    if (!walked_.empty()) {
        return walkNames(full, walked_.back().end, walked_.back().node, &walked_);
    }
    size_t cursor = 0;
    FileNode* drive = driveOf(full, cursor);
    if (drive == nullptr) {
        return nullptr;
    }
    walked_.push_back({cursor, drive});
    return walkNames(full, cursor, drive, &walked_);
}

uint32_t FakePlatform::missingCode(const std::u16string& path) const {
    const std::u16string full = absolute(path);
    const size_t separator = full.find_last_of(u"\\/", full.find_last_not_of(u"\\/"));
    if (separator == std::u16string::npos) {
        return codes::kPathNotFound;
    }
    const FileNode* parent = findNode(full.substr(0, separator + 1));
    return parent != nullptr && parent->directory ? codes::kFileNotFound : codes::kPathNotFound;
}

// A failure injected into the call comes first. Then the path as the system takes it: the Win32
// implementation hands every path to it through ExtendedLengthPath, and the system fails a form
// still plain at or past the call's limit with the code it gives for that call, and takes the
// "\\?\" form as the stored path behind it.
FakePlatform::Reached FakePlatform::reach(FakeCall call, const std::u16string& path, size_t limit,
                                          uint32_t tooLong) {
    if (const uint32_t error = injected(call, path)) {
        return {{}, error};
    }
    const std::u16string handed = ExtendedLengthPath(path, limit);
    std::u16string plain = WithoutExtendedPrefix(handed);
    if (plain.size() == handed.size() && absolute(handed).size() >= limit) {
        return {{}, tooLong};
    }
    return {std::move(plain), codes::kSuccess};
}

// What deleting or writing into a file meets: missing, a directory, read-only, held open.
uint32_t FakePlatform::fileChangeRefused(const FileNode* node, const std::u16string& path) const {
    if (node == nullptr) {
        return missingCode(path);
    }
    if (node->directory || (node->attributes & codes::kAttributeReadOnly) != 0) {
        return codes::kAccessDenied;
    }
    return node->locked ? codes::kSharingViolation : codes::kSuccess;
}

FakePlatform::FileNode* FakePlatform::ensureDirectoryChain(const std::u16string& path) {
    std::vector<std::u16string> parts = FilePathParts(absolute(path));
    if (parts.empty() || !IsDriveSpec(parts.front())) {
        return nullptr;
    }
    auto& root = drives_[ToLower(parts.front())];
    if (!root) {
        root = std::make_unique<FileNode>();
        root->id = ++nextFileId_;
        root->name = parts.front() + u"\\";
        root->directory = true;
        root->attributes = codes::kAttributeDirectory;
    }
    FileNode* node = root.get();
    for (size_t i = 1; i < parts.size(); ++i) {
        auto& child = node->children[ToLower(parts[i])];
        if (!child) {
            child = std::make_unique<FileNode>();
            child->id = ++nextFileId_;
            child->name = parts[i];
            child->directory = true;
            child->attributes = codes::kAttributeDirectory;
            child->parent = node;
        }
        node = child.get();
    }
    return node;
}

void FakePlatform::eraseNode(FileNode* node) {
    FileNode* parent = node->parent;
    if (parent == nullptr) {
        return;
    }
    // What the last walk reached through this node is gone with it.
    for (size_t index = 0; index < walked_.size(); ++index) {
        if (walked_[index].node == node) {
            walked_.resize(index);
            break;
        }
    }
    parent->children.erase(ToLower(node->name));
}

// --- Setting up --------------------------------------------------------------------------------

void FakePlatform::addDirectory(const std::u16string& path) {
    ensureDirectoryChain(path);
}

void FakePlatform::addFile(const std::u16string& path, const std::string& contents,
                           uint32_t attributes) {
    const std::u16string full = absolute(path);
    const size_t separator = full.find_last_of(u"\\/");
    FileNode* parent = ensureDirectoryChain(full.substr(0, separator));
    auto& node = parent->children[ToLower(full.substr(separator + 1))];
    walked_.clear(); // the node it replaces may be part of the last walk
    node = std::make_unique<FileNode>();
    node->id = ++nextFileId_;
    node->name = full.substr(separator + 1);
    node->attributes = attributes;
    node->contents = contents;
    node->parent = parent;
}

void FakePlatform::addDirectoryLink(const std::u16string& path, const std::u16string& target) {
    FileNode* node = ensureDirectoryChain(path);
    walked_.clear(); // a walk through it went on below it, not to its target
    node->attributes = codes::kAttributeDirectory | codes::kAttributeReparsePoint;
    node->linkTarget = absolute(target);
}

void FakePlatform::setAttributesDirectly(const std::u16string& path, uint32_t bits) {
    if (FileNode* node = findNode(path)) {
        node->attributes = bits;
    }
}

void FakePlatform::lockFile(const std::u16string& path) {
    if (FileNode* node = findNode(path)) {
        node->locked = true;
    }
}

void FakePlatform::setUserWritable(const std::u16string& path, bool writable) {
    if (FileNode* node = findNode(path)) {
        node->userWritable = writable;
    }
}

void FakePlatform::moveEntry(const std::u16string& from, const std::u16string& to) {
    FileNode* node = findNode(from);
    const std::u16string full = absolute(to);
    const size_t separator = full.find_last_of(u"\\/");
    FileNode* parent = ensureDirectoryChain(full.substr(0, separator));
    if (node == nullptr || parent == nullptr || node->parent == nullptr) {
        return;
    }
    walked_.clear();
    std::unique_ptr<FileNode> moved = std::move(node->parent->children[ToLower(node->name)]);
    node->parent->children.erase(ToLower(node->name));
    moved->name = full.substr(separator + 1);
    moved->parent = parent;
    parent->children[ToLower(moved->name)] = std::move(moved);
}

void FakePlatform::setCurrentDirectory(const std::u16string& path) {
    currentDirectory_ = path;
}

// --- Looking at the machine ---------------------------------------------------------------------

bool FakePlatform::exists(const std::u16string& path) const {
    return findNode(path) != nullptr;
}

bool FakePlatform::isDirectory(const std::u16string& path) const {
    const FileNode* node = findNode(path);
    return node != nullptr && node->directory;
}

std::optional<std::string> FakePlatform::fileContents(const std::u16string& path) const {
    const FileNode* node = findNode(path);
    if (node == nullptr || node->directory) {
        return std::nullopt;
    }
    return node->contents;
}

std::optional<uint32_t> FakePlatform::attributesOf(const std::u16string& path) const {
    const FileNode* node = findNode(path);
    if (node == nullptr) {
        return std::nullopt;
    }
    return node->attributes;
}

std::vector<std::u16string> FakePlatform::treeBelow(const std::u16string& path) const {
    std::vector<std::u16string> found;
    const FileNode* top = findNode(path);
    if (top == nullptr || !top->linkTarget.empty()) {
        return found;
    }
    std::function<void(const FileNode*, const std::u16string&)> walk =
        [&](const FileNode* node, const std::u16string& nodePath) {
            for (const auto& entry : node->children) {
                const std::u16string childPath = JoinPath(nodePath, entry.second->name);
                found.push_back(childPath);
                if (entry.second->linkTarget.empty()) {
                    walk(entry.second.get(), childPath);
                }
            }
        };
    walk(top, absolute(path));
    std::sort(found.begin(), found.end());
    return found;
}

// --- Platform: files -----------------------------------------------------------------------------

FileAttributes FakePlatform::fileAttributes(const std::u16string& path) {
    const Reached reached =
        reach(FakeCall::FileAttributes, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return {reached.error, 0};
    }
    // An empty path names nothing, not the current folder (Windows and Wine: 3).
    if (path.empty()) {
        return {codes::kPathNotFound, 0};
    }
    const std::u16string& stored = reached.path;
    const FileNode* node = findNode(stored);
    if (node == nullptr) {
        return {missingCode(stored), 0};
    }
    return {0, node->attributes};
}

DirectoryListing FakePlatform::listDirectory(const std::u16string& directory) {
    DirectoryListing listing;
    const Reached reached =
        reach(FakeCall::ListDirectory, directory, kPlainDirectoryLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        listing.error = reached.error;
        return listing;
    }
    const std::u16string& stored = reached.path;
    const FileNode* node = findNode(stored);
    if (node != nullptr && !node->linkTarget.empty()) {
        node = findNode(node->linkTarget);
    }
    if (node == nullptr || !node->directory) {
        listing.error = codes::kPathNotFound;
        return listing;
    }
    // Drive roots have no "." and ".." entries; every other directory lists them first.
    if (node->parent != nullptr) {
        listing.entries.push_back({u".", codes::kAttributeDirectory});
        listing.entries.push_back({u"..", codes::kAttributeDirectory});
    }
    for (const auto& entry : node->children) {
        listing.entries.push_back({entry.second->name, entry.second->attributes});
    }
    return listing;
}

uint32_t FakePlatform::setFileAttributes(const std::u16string& path, uint32_t bits) {
    const Reached reached =
        reach(FakeCall::SetFileAttributes, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    FileNode* node = findNode(stored);
    if (node == nullptr) {
        return missingCode(stored);
    }
    // NORMAL clears everything else; the kind bits are the file system's, not the caller's.
    const uint32_t kept =
        node->attributes & (codes::kAttributeDirectory | codes::kAttributeReparsePoint);
    const uint32_t settable = bits == codes::kAttributeNormal ? 0 : bits;
    node->attributes = kept | settable;
    if (node->attributes == 0) {
        node->attributes = codes::kAttributeNormal;
    }
    record(u"setFileAttributes " + absolute(stored));
    return codes::kSuccess;
}

uint32_t FakePlatform::deleteFile(const std::u16string& path) {
    const Reached reached =
        reach(FakeCall::DeleteFile, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    FileNode* node = findNode(stored);
    if (const uint32_t refused = fileChangeRefused(node, stored)) {
        return refused;
    }
    record(u"deleteFile " + absolute(stored));
    eraseNode(node);
    return codes::kSuccess;
}

uint32_t FakePlatform::removeDirectory(const std::u16string& path) {
    const Reached reached =
        reach(FakeCall::RemoveDirectory, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    FileNode* node = findNode(stored);
    if (node == nullptr) {
        return missingCode(stored);
    }
    if (!node->directory) {
        return 267; // ERROR_DIRECTORY
    }
    if ((node->attributes & codes::kAttributeReadOnly) != 0) {
        return codes::kAccessDenied;
    }
    if (node->parent == nullptr) {
        return codes::kAccessDenied; // a drive root
    }
    if (node->linkTarget.empty() && !node->children.empty()) {
        return codes::kDirectoryNotEmpty;
    }
    record(u"removeDirectory " + absolute(stored));
    eraseNode(node);
    return codes::kSuccess;
}

uint32_t FakePlatform::deleteAtRestart(const std::u16string& path) {
    const Reached reached =
        reach(FakeCall::DeleteAtRestart, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    if (findNode(stored) == nullptr) {
        return missingCode(stored);
    }
    pendingDeletions.push_back(absolute(stored));
    record(u"deleteAtRestart " + absolute(stored));
    return codes::kSuccess;
}

uint32_t FakePlatform::createDirectory(const std::u16string& path) {
    const Reached reached =
        reach(FakeCall::CreateDirectory, path, kPlainDirectoryLimit, codes::kFilenameExcedRange);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    if (findNode(stored) != nullptr) {
        return codes::kAlreadyExists;
    }
    const std::u16string full = absolute(stored);
    const size_t last = full.find_last_not_of(u"\\/");
    const size_t separator = full.find_last_of(u"\\/", last);
    if (separator == std::u16string::npos) {
        return codes::kPathNotFound;
    }
    FileNode* parent = findNode(full.substr(0, separator + 1));
    if (parent == nullptr || !parent->directory) {
        return codes::kPathNotFound;
    }
    record(u"createDirectory " + full);
    ensureDirectoryChain(full);
    return codes::kSuccess;
}

uint32_t FakePlatform::writeFile(const std::u16string& path, const std::string& bytes) {
    const Reached reached = reach(FakeCall::WriteFile, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    const std::u16string full = absolute(stored);
    FileNode* existing = findNode(full);
    // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL also refuses to replace hidden and system files.
    constexpr uint32_t kRefused =
        codes::kAttributeReadOnly | codes::kAttributeHidden | codes::kAttributeSystem;
    if (existing != nullptr && (existing->directory || (existing->attributes & kRefused) != 0)) {
        return codes::kAccessDenied;
    }
    if (existing != nullptr && existing->locked) {
        return codes::kSharingViolation;
    }
    const size_t separator = full.find_last_of(u"\\/");
    FileNode* parent =
        separator == std::u16string::npos ? nullptr : findNode(full.substr(0, separator + 1));
    if (parent == nullptr || !parent->directory) {
        return codes::kPathNotFound;
    }
    record(u"writeFile " + full);
    addFile(full, bytes, codes::kAttributeArchive);
    return codes::kSuccess;
}

FinalPath FakePlatform::finalPath(const std::u16string& path) {
    FinalPath result;
    const Reached reached = reach(FakeCall::FinalPath, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        result.openError = reached.error;
        return result;
    }
    const std::u16string& stored = reached.path;
    const FileNode* node = stored.empty() ? nullptr : findNode(stored);
    // An open follows a link at the end of the path too; Windows gives up after 63 of them.
    for (int hops = 0; node != nullptr && !node->linkTarget.empty(); ++hops) {
        if (hops == 63) {
            result.openError = 1921; // ERROR_CANT_RESOLVE_FILENAME
            return result;
        }
        node = findNode(node->linkTarget);
    }
    if (node == nullptr) {
        result.openError = stored.empty() ? codes::kPathNotFound : missingCode(stored);
        return result;
    }
    // The names on the way down from the drive, as stored: where the open really arrived.
    std::u16string names;
    for (; node->parent != nullptr; node = node->parent) {
        names = node->name + (names.empty() ? u"" : u"\\" + names);
    }
    result.path = u"\\\\?\\" + node->name + names;
    return result;
}

uint32_t FakePlatform::appendFile(const std::u16string& path, const std::string& bytes) {
    const Reached reached =
        reach(FakeCall::AppendFile, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return reached.error;
    }
    const std::u16string& stored = reached.path;
    FileNode* node = findNode(stored);
    if (const uint32_t refused = fileChangeRefused(node, stored)) {
        return refused;
    }
    record(u"appendFile " + absolute(stored));
    node->contents += bytes;
    return codes::kSuccess;
}

FileContents FakePlatform::readFile(const std::u16string& path) {
    const Reached reached = reach(FakeCall::ReadFile, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess) {
        return {reached.error, {}};
    }
    const std::u16string& stored = reached.path;
    const FileNode* node = findNode(stored);
    if (node == nullptr) {
        return {missingCode(stored), {}};
    }
    if (node->directory) {
        return {codes::kAccessDenied, {}};
    }
    return {codes::kSuccess, node->contents};
}

// --- Platform: files by handle ------------------------------------------------------------------

OpenedEntry FakePlatform::openNode(FileNode* node, std::u16string path) {
    const EntryHandle handle = nextEntry_++;
    openEntries_[handle] = {node, std::move(path)};
    const FileNode* drive = node;
    while (drive->parent != nullptr) {
        drive = drive->parent;
    }
    return {
        codes::kSuccess, handle, node->attributes, {static_cast<uint32_t>(drive->id), node->id}};
}

FakePlatform::OpenState* FakePlatform::openState(EntryHandle entry, FakeCall call) {
    auto found = openEntries_.find(entry);
    if (found == openEntries_.end()) {
        return nullptr;
    }
    if (beforeEntryCall) {
        beforeEntryCall(call, found->second.path);
    }
    return &found->second;
}

OpenedEntry FakePlatform::openEntry(const std::u16string& path) {
    OpenedEntry opened;
    const Reached reached =
        reach(FakeCall::FileAttributes, path, kPlainPathLimit, codes::kPathNotFound);
    if (reached.error != codes::kSuccess || path.empty()) {
        opened.error = path.empty() ? codes::kPathNotFound : reached.error;
        return opened;
    }
    // The system takes short names as it takes long ones.
    const std::u16string stored = longPathName(reached.path);
    FileNode* node = findNode(stored);
    if (node == nullptr) {
        opened.error = missingCode(stored);
        return opened;
    }
    return openNode(node, absolute(stored));
}

OpenedEntry FakePlatform::openChild(EntryHandle folder, const std::u16string& name) {
    OpenedEntry opened;
    auto found = openEntries_.find(folder);
    if (found == openEntries_.end()) {
        opened.error = codes::kInvalidHandle;
        return opened;
    }
    std::u16string path = JoinPath(found->second.path, name);
    if (beforeEntryCall) {
        beforeEntryCall(FakeCall::FileAttributes, path);
    }
    if (const uint32_t error = injected(FakeCall::FileAttributes, path)) {
        opened.error = error;
        return opened;
    }
    FileNode* parent = found->second.node;
    if (!parent->directory || !parent->linkTarget.empty()) {
        opened.error = codes::kPathNotFound;
        return opened;
    }
    auto child = parent->children.find(ToLower(name));
    if (child == parent->children.end()) {
        opened.error = codes::kFileNotFound;
        return opened;
    }
    return openNode(child->second.get(), std::move(path));
}

DirectoryListing FakePlatform::listOpenFolder(EntryHandle folder) {
    DirectoryListing listing;
    OpenState* state = openState(folder, FakeCall::ListDirectory);
    if (state == nullptr) {
        listing.error = codes::kInvalidHandle;
        return listing;
    }
    const FileNode* node = state->node;
    if (!node->directory || !node->linkTarget.empty()) {
        listing.error = 267; // ERROR_DIRECTORY: a file, or a link not followed
        return listing;
    }
    if (node->parent != nullptr) {
        listing.entries.push_back({u".", codes::kAttributeDirectory});
        listing.entries.push_back({u"..", codes::kAttributeDirectory});
    }
    if (const uint32_t error = injected(FakeCall::ListDirectory, state->path)) {
        listing.error = error;
        return listing;
    }
    for (const auto& entry : node->children) {
        listing.entries.push_back({entry.second->name, entry.second->attributes, entry.second->id});
    }
    return listing;
}

uint32_t FakePlatform::setOpenAttributes(EntryHandle entry, uint32_t bits) {
    OpenState* state = openState(entry, FakeCall::SetFileAttributes);
    if (state == nullptr) {
        return codes::kInvalidHandle;
    }
    FileNode* node = state->node;
    if (const uint32_t error = injected(FakeCall::SetFileAttributes, state->path)) {
        return error;
    }
    const uint32_t kept =
        node->attributes & (codes::kAttributeDirectory | codes::kAttributeReparsePoint);
    node->attributes = kept | (bits == codes::kAttributeNormal ? 0 : bits);
    if (node->attributes == 0) {
        node->attributes = codes::kAttributeNormal;
    }
    record(u"setFileAttributes " + state->path);
    return codes::kSuccess;
}

uint32_t FakePlatform::deleteOpen(EntryHandle entry) {
    auto found = openEntries_.find(entry);
    if (found == openEntries_.end()) {
        return codes::kInvalidHandle;
    }
    const FakeCall call =
        found->second.node->directory ? FakeCall::RemoveDirectory : FakeCall::DeleteFile;
    OpenState* state = openState(entry, call);
    FileNode* node = state->node;
    const std::u16string& path = state->path;
    if (const uint32_t error = injected(call, path)) {
        return error;
    }
    if (node->parent == nullptr || (node->attributes & codes::kAttributeReadOnly) != 0) {
        return codes::kAccessDenied;
    }
    if (node->locked) {
        return codes::kSharingViolation;
    }
    if (node->linkTarget.empty() && !node->children.empty()) {
        return codes::kDirectoryNotEmpty;
    }
    state->deleting = true;
    record((call == FakeCall::DeleteFile ? u"deleteFile " : u"removeDirectory ") + path);
    return codes::kSuccess;
}

// The same steps as opening the child and deleting it through its handle, so that a test sees the
// same calls and can change the machine between them.
uint32_t FakePlatform::deleteChild(EntryHandle folder, const std::u16string& name) {
    const OpenedEntry child = openChild(folder, name);
    if (child.error != codes::kSuccess) {
        return child.error;
    }
    // Windows answers an open for a file that finds a folder with access denied.
    const uint32_t error = (child.attributes & codes::kAttributeDirectory) != 0
                               ? codes::kAccessDenied
                               : deleteOpen(child.handle);
    closeEntry(child.handle);
    return error;
}

FolderWriters FakePlatform::folderWriters(EntryHandle folder) {
    auto found = openEntries_.find(folder);
    if (found == openEntries_.end()) {
        return FolderWriters::Unknown;
    }
    return found->second.node->userWritable ? FolderWriters::Others
                                            : FolderWriters::AdministratorsOnly;
}

void FakePlatform::closeEntry(EntryHandle entry) {
    auto found = openEntries_.find(entry);
    if (found == openEntries_.end()) {
        return;
    }
    FileNode* node = found->second.node;
    const bool deleting = found->second.deleting;
    openEntries_.erase(found);
    // Marked for deletion: it goes with its last handle.
    if (deleting && std::none_of(openEntries_.begin(), openEntries_.end(),
                                 [node](const auto& open) { return open.second.node == node; })) {
        eraseNode(node);
    }
}

} // namespace tidewell
