#include "platform/fake/FakePlatform.h"

#include "platform/ExtendedLengthPath.h"
#include "platform/SystemCodes.h"
#include "support/Text.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace tidewell {

struct FakePlatform::FileNode {
    std::u16string name;
    bool directory = false;
    uint32_t attributes = 0;
    std::string contents;
    std::u16string linkTarget; // non-empty: a directory link
    bool locked = false;
    FileNode* parent = nullptr;
    std::map<std::u16string, std::unique_ptr<FileNode>> children; // folded name -> node
};

struct FakePlatform::KeyNode {
    std::u16string name;
    std::map<std::u16string, std::unique_ptr<KeyNode>> subkeys; // folded name -> key
    struct Value {
        std::u16string name;
        uint32_t type = 0;
        std::vector<uint8_t> data;
    };
    std::vector<Value> values;
};

namespace {

// A span of a child's life that never ends.
constexpr uint64_t kNever = UINT64_MAX;

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t unit : path) {
        if (unit == u'\\' || unit == u'/') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current += unit;
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

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

std::string Narrow(const std::u16string& text) {
    return ToUtf8(text);
}

// The texts Windows gives for the codes the tests meet, with its trailing line break.
std::optional<std::u16string> KnownMessage(uint32_t code) {
    switch (code) {
    case codes::kSuccess:
        return u"The operation completed successfully.\r\n";
    case codes::kFileNotFound:
        return u"The system cannot find the file specified.\r\n";
    case codes::kPathNotFound:
        return u"The system cannot find the path specified.\r\n";
    case codes::kAccessDenied:
        return u"Access is denied.\r\n";
    case codes::kSharingViolation:
        return u"The process cannot access the file because it is being used by another "
               u"process.\r\n";
    case codes::kInvalidParameter:
        return u"The parameter is incorrect.\r\n";
    case codes::kDirectoryNotEmpty:
        return u"The directory is not empty.\r\n";
    case codes::kFilenameExcedRange:
        return u"The filename or extension is too long.\r\n";
    case codes::kAlreadyExists:
        return u"Cannot create a file when that file already exists.\r\n";
    case codes::kDependentServicesRunning:
        return u"A stop control has been sent to a service that other running services are "
               u"dependent on.\r\n";
    case codes::kServiceDoesNotExist:
        return u"The specified service does not exist as an installed service.\r\n";
    case codes::kServiceCannotAcceptControl:
        return u"The service cannot accept control messages at this time.\r\n";
    case codes::kTimeout:
        return u"This operation returned because the timeout period expired.\r\n";
    default:
        return std::nullopt;
    }
}

} // namespace

FakePlatform::FakePlatform() {
    addDirectory(u"C:\\");
    for (const char16_t* store : {u"HKCU", u"HKLM", u"HKLM32", u"HKLM64"}) {
        stores_[store] = std::make_unique<KeyNode>();
        stores_[store]->name = store;
    }
    childHandler_ = [](const std::u16string&) {
        FakeChildBehaviour missing;
        missing.startError = codes::kFileNotFound;
        return missing;
    };
}

FakePlatform::~FakePlatform() = default;

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
        root->name = parts.front() + u"\\";
        root->directory = true;
        root->attributes = codes::kAttributeDirectory;
    }
    FileNode* node = root.get();
    for (size_t i = 1; i < parts.size(); ++i) {
        auto& child = node->children[ToLower(parts[i])];
        if (!child) {
            child = std::make_unique<FileNode>();
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

void FakePlatform::setEnvironment(const std::u16string& name, std::optional<std::u16string> value) {
    if (value) {
        environment_[ToLower(name)] = *value;
    } else {
        environment_.erase(ToLower(name));
    }
}

void FakePlatform::setShellFolderPath(ShellFolder folder, std::optional<std::u16string> path) {
    if (path) {
        shellFolders_[static_cast<int>(folder)] = *path;
    } else {
        shellFolders_.erase(static_cast<int>(folder));
    }
}

void FakePlatform::setWindowsDirectory(const std::u16string& path) {
    windowsDirectory_ = path;
}
void FakePlatform::addShortName(const std::u16string& shortPath, const std::u16string& longPath) {
    shortNames_.emplace_back(shortPath, longPath);
}

void FakePlatform::setLocalTime(const LocalTime& time) {
    now_ = time;
}
void FakePlatform::set64BitWindows(bool is64Bit) {
    is64BitWindows_ = is64Bit;
}
void FakePlatform::setCurrentDirectory(const std::u16string& path) {
    currentDirectory_ = path;
}
void FakePlatform::setComputerNames(std::vector<std::u16string> names) {
    computerNames_ = std::move(names);
}

std::u16string FakePlatform::keyStore(RegistryRoot root, RegistryView view,
                                      const std::u16string& path, std::u16string& relative) const {
    std::vector<std::u16string> parts = SplitPath(path);
    std::u16string store;
    if (root == RegistryRoot::CurrentUser) {
        store = u"HKCU"; // shared by both views since Windows 7
    } else if (root != RegistryRoot::LocalMachine) {
        store = u"";
    } else if (!is64BitWindows_) {
        store = u"HKLM"; // one view only: the view flags are ignored
    } else if (!parts.empty() && ToLower(parts[0]) == u"software") {
        if (parts.size() >= 2 && ToLower(parts[1]) == u"wow6432node" &&
            view != RegistryView::Bits32) {
            parts.erase(parts.begin() + 1);
            store = u"HKLM32";
        } else {
            store = view == RegistryView::Bits32 ? u"HKLM32" : u"HKLM64";
        }
    } else {
        store = u"HKLM";
    }
    relative.clear();
    for (const auto& part : parts) {
        relative = relative.empty() ? part : relative + u"\\" + part;
    }
    return store;
}

FakePlatform::KeyNode* FakePlatform::findKey(RegistryRoot root, RegistryView view,
                                             const std::u16string& path) const {
    std::u16string relative;
    const std::u16string store = keyStore(root, view, path, relative);
    auto found = stores_.find(store);
    if (found == stores_.end()) {
        return nullptr;
    }
    KeyNode* node = found->second.get();
    for (const auto& part : SplitPath(relative)) {
        auto child = node->subkeys.find(ToLower(part));
        if (child == node->subkeys.end()) {
            return nullptr;
        }
        node = child->second.get();
    }
    return node;
}

FakePlatform::KeyNode* FakePlatform::ensureKey(RegistryRoot root, RegistryView view,
                                               const std::u16string& path) {
    std::u16string relative;
    const std::u16string store = keyStore(root, view, path, relative);
    auto& top = stores_[store];
    if (!top) {
        top = std::make_unique<KeyNode>();
        top->name = store;
    }
    KeyNode* node = top.get();
    for (const auto& part : SplitPath(relative)) {
        auto& child = node->subkeys[ToLower(part)];
        if (!child) {
            child = std::make_unique<KeyNode>();
            child->name = part;
        }
        node = child.get();
    }
    return node;
}

void FakePlatform::addKey(RegistryRoot root, RegistryView view, const std::u16string& path) {
    ensureKey(root, view, path);
}

void FakePlatform::setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                            const std::u16string& name, uint32_t type,
                            const std::vector<uint8_t>& data) {
    KeyNode* key = ensureKey(root, view, path);
    for (auto& value : key->values) {
        if (ToLower(value.name) == ToLower(name)) {
            value.type = type;
            value.data = data;
            return;
        }
    }
    key->values.push_back({name, type, data});
}

void FakePlatform::setStringValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                  const std::u16string& name, const std::u16string& text,
                                  uint32_t type) {
    std::vector<uint8_t> data;
    for (char16_t unit : text + u'\0') {
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    setValue(root, view, path, name, type, data);
}

void FakePlatform::addProcess(uint32_t id, const std::u16string& executableName,
                              std::optional<uint32_t> sessionId) {
    processes_.push_back({id, executableName, sessionId});
}

void FakePlatform::protectProcess(uint32_t id, uint32_t openError) {
    protectedProcesses_[id] = openError;
}

void FakePlatform::addService(const std::u16string& keyName, const std::u16string& displayName,
                              uint32_t state, uint32_t processId) {
    services_.push_back({{keyName, displayName, processId}, state});
}

void FakePlatform::onChild(
    std::function<FakeChildBehaviour(const std::u16string& commandLine)> handler) {
    childHandler_ = std::move(handler);
}

void FakePlatform::queueAnswers(std::initializer_list<bool> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void FakePlatform::failCall(FakeCall call, uint32_t code, const std::u16string& match, int times) {
    failures_.push_back({call, code, match, times});
}

void FakePlatform::clearFailures() {
    failures_.clear();
}

uint32_t FakePlatform::injected(FakeCall call, const std::u16string& subject) {
    for (auto& failure : failures_) {
        if (failure.call != call || failure.remaining == 0 ||
            !ContainsNoCase(subject, failure.match)) {
            continue;
        }
        if (failure.remaining > 0) {
            --failure.remaining;
        }
        ++injectedFailures;
        return failure.code;
    }
    return codes::kSuccess;
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

bool FakePlatform::keyExists(RegistryRoot root, RegistryView view,
                             const std::u16string& path) const {
    return findKey(root, view, path) != nullptr;
}

bool FakePlatform::processRunning(uint32_t id) const {
    return std::any_of(processes_.begin(), processes_.end(),
                       [id](const ProcessEntry& entry) { return entry.id == id; });
}

std::optional<uint32_t> FakePlatform::serviceState(const std::u16string& keyName) const {
    for (const auto& service : services_) {
        if (ToLower(service.names.keyName) == ToLower(keyName)) {
            return service.state;
        }
    }
    return std::nullopt;
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

std::string FakePlatform::dump() const {
    std::ostringstream out;
    out << "-- files\n";
    std::function<void(const FileNode*, const std::u16string&)> walkFiles =
        [&](const FileNode* node, const std::u16string& path) {
            out << "  " << Narrow(path) << (node->directory ? "\\" : "") << " attr=0x" << std::hex
                << node->attributes << std::dec;
            if (!node->linkTarget.empty()) {
                out << " -> " << Narrow(node->linkTarget);
            }
            if (node->locked) {
                out << " locked";
            }
            out << "\n";
            if (node->linkTarget.empty()) {
                for (const auto& entry : node->children) {
                    walkFiles(entry.second.get(), JoinPath(path, entry.second->name));
                }
            }
        };
    for (const auto& drive : drives_) {
        walkFiles(drive.second.get(), drive.second->name);
    }
    out << "-- registry\n";
    std::function<void(const KeyNode*, const std::u16string&)> walkKeys =
        [&](const KeyNode* key, const std::u16string& path) {
            out << "  " << Narrow(path);
            for (const auto& value : key->values) {
                out << " [" << Narrow(value.name) << " type=" << value.type
                    << " bytes=" << value.data.size() << "]";
            }
            out << "\n";
            for (const auto& entry : key->subkeys) {
                walkKeys(entry.second.get(), path + u"\\" + entry.second->name);
            }
        };
    for (const auto& store : stores_) {
        walkKeys(store.second.get(), store.first);
    }
    out << "-- processes\n";
    for (const auto& process : processes_) {
        out << "  " << process.id << " " << Narrow(process.executableName) << "\n";
    }
    out << "-- services\n";
    for (const auto& service : services_) {
        out << "  " << Narrow(service.names.keyName) << " (" << Narrow(service.names.displayName)
            << ") state=" << service.state << "\n";
    }
    out << "-- pending deletions\n";
    for (const auto& path : pendingDeletions) {
        out << "  " << Narrow(path) << "\n";
    }
    return out.str();
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

// --- Platform: environment -----------------------------------------------------------------------

std::optional<std::u16string> FakePlatform::environmentVariable(const std::u16string& name) {
    if (injected(FakeCall::EnvironmentVariable, name) != 0) {
        return std::nullopt;
    }
    auto found = environment_.find(ToLower(name));
    if (found == environment_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::u16string> FakePlatform::shellFolder(ShellFolder folder) {
    if (injected(FakeCall::ShellFolder, ToDecimal(static_cast<int>(folder))) != 0) {
        return std::nullopt;
    }
    auto found = shellFolders_.find(static_cast<int>(folder));
    if (found == shellFolders_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::u16string FakePlatform::longPathName(const std::u16string& path) {
    for (const auto& [shortPath, longPath] : shortNames_) {
        if (StartsWithNoCase(path, shortPath) &&
            (path.size() == shortPath.size() || path[shortPath.size()] == u'\\')) {
            return longPath + path.substr(shortPath.size());
        }
    }
    return path;
}

std::vector<std::u16string> FakePlatform::computerNames() {
    return computerNames_;
}

std::u16string FakePlatform::windowsDirectory() {
    if (injected(FakeCall::WindowsDirectory, windowsDirectory_) != 0) {
        return {};
    }
    return windowsDirectory_;
}

LocalTime FakePlatform::localTime() {
    return now_;
}

std::optional<std::u16string> FakePlatform::systemMessage(uint32_t code) {
    if (injected(FakeCall::SystemMessage, ToDecimal(code)) != 0) {
        return std::nullopt;
    }
    return KnownMessage(code);
}

// --- Platform: registry --------------------------------------------------------------------------

bool FakePlatform::runsOn64BitWindows() {
    return is64BitWindows_;
}

uint32_t FakePlatform::openKeyForRead(RegistryRoot root, RegistryView view,
                                      const std::u16string& path) {
    uint32_t error = codes::kSuccess;
    keyForRead(FakeCall::OpenKeyForRead, root, view, path, error);
    return error;
}

// The key a reading call reaches, or null with the code it fails with: an injected fault
// first, then "file not found" for a key that is not there.
const FakePlatform::KeyNode* FakePlatform::keyForRead(FakeCall call, RegistryRoot root,
                                                      RegistryView view, const std::u16string& path,
                                                      uint32_t& error) {
    error = injected(call, path);
    if (error != codes::kSuccess) {
        return nullptr;
    }
    const KeyNode* key = findKey(root, view, path);
    if (key == nullptr) {
        error = codes::kFileNotFound;
    }
    return key;
}

SubkeyListing FakePlatform::listSubkeys(RegistryRoot root, RegistryView view,
                                        const std::u16string& path) {
    SubkeyListing listing;
    const KeyNode* key = keyForRead(FakeCall::ListSubkeys, root, view, path, listing.error);
    if (key == nullptr) {
        return listing;
    }
    for (const auto& entry : key->subkeys) {
        // Names that do not fit the 512-unit enumeration buffer are passed over.
        if (entry.second->name.size() < 512) {
            listing.names.push_back(entry.second->name);
        }
    }
    return listing;
}

RegistryValues FakePlatform::readValues(RegistryRoot root, RegistryView view,
                                        const std::u16string& path,
                                        const std::vector<std::u16string>& names) {
    RegistryValues result;
    const KeyNode* key = keyForRead(FakeCall::ReadValues, root, view, path, result.error);
    if (key == nullptr) {
        return result;
    }
    for (const auto& name : names) {
        RegistryValue read;
        read.error = codes::kFileNotFound;
        for (const auto& value : key->values) {
            if (ToLower(value.name) == ToLower(name)) {
                read = {codes::kSuccess, value.type, value.data};
                break;
            }
        }
        result.values.push_back(read);
    }
    return result;
}

ValueListing FakePlatform::listValues(RegistryRoot root, RegistryView view,
                                      const std::u16string& path) {
    ValueListing listing;
    const KeyNode* key = keyForRead(FakeCall::ListValues, root, view, path, listing.error);
    if (key == nullptr) {
        return listing;
    }
    for (const auto& value : key->values) {
        listing.values.push_back({value.name, value.type, value.data});
    }
    return listing;
}

uint32_t FakePlatform::deleteTree(RegistryRoot root, RegistryView view,
                                  const std::u16string& parentPath, const std::u16string& leaf) {
    const std::u16string fullPath = parentPath.empty() ? leaf : parentPath + u"\\" + leaf;
    if (const uint32_t error = injected(FakeCall::DeleteTree, fullPath)) {
        return error;
    }
    KeyNode* parent = findKey(root, view, parentPath);
    if (parent == nullptr) {
        return codes::kFileNotFound;
    }
    // The leaf may itself cross into the 32-bit view (Software\Wow6432Node\...), so resolve it
    // by its full path and remove it from whichever parent holds it.
    if (findKey(root, view, fullPath) == nullptr) {
        return codes::kFileNotFound;
    }
    std::u16string relative;
    const std::u16string store = keyStore(root, view, fullPath, relative);
    const std::vector<std::u16string> parts = SplitPath(relative);
    KeyNode* holder = stores_[store].get();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        holder = holder->subkeys[ToLower(parts[i])].get();
    }
    holder->subkeys.erase(ToLower(parts.back()));
    record(u"deleteTree " +
           std::u16string(root == RegistryRoot::CurrentUser ? u"HKCU\\" : u"HKLM\\") + fullPath +
           (view == RegistryView::Bits64 ? u" [64位]" : u" [32位]"));
    return codes::kSuccess;
}

// --- Platform: processes and services ------------------------------------------------------------

ProcessListing FakePlatform::listProcesses() {
    ProcessListing listing;
    listing.error = injected(FakeCall::ListProcesses, {});
    if (listing.error == 0) {
        listing.processes = processes_;
    }
    return listing;
}

TerminateAttempt FakePlatform::terminateProcess(uint32_t processId, uint32_t) {
    TerminateAttempt attempt;
    auto running = std::find_if(processes_.begin(), processes_.end(),
                                [processId](const ProcessEntry& e) { return e.id == processId; });
    const std::u16string subject =
        running != processes_.end() ? running->executableName : ToDecimal(processId);
    if (running == processes_.end() || processId == 0) {
        attempt.openError = codes::kInvalidParameter;
        return attempt;
    }
    auto guarded = protectedProcesses_.find(processId);
    if (guarded != protectedProcesses_.end()) {
        attempt.openError = guarded->second;
        return attempt;
    }
    if (const uint32_t error = injected(FakeCall::TerminateProcess, subject)) {
        attempt.terminateError = error;
        return attempt;
    }
    record(u"terminateProcess " + ToDecimal(processId) + u" " + subject);
    processes_.erase(running);
    return attempt;
}

ServiceListing FakePlatform::listServices() {
    ServiceListing listing;
    listing.error = injected(FakeCall::OpenServiceManager, {});
    if (listing.error == 0) {
        listing.error = injected(FakeCall::ListServices, {});
    }
    if (listing.error == 0) {
        for (const auto& service : services_) {
            listing.services.push_back(service.names);
            if (service.state == codes::kServiceStopped) {
                listing.services.back().processId = 0;
            }
        }
    }
    return listing;
}

ServiceStopAttempt FakePlatform::stopService(const std::u16string& keyName) {
    ServiceStopAttempt attempt;
    attempt.managerError = injected(FakeCall::OpenServiceManager, keyName);
    if (attempt.managerError != 0) {
        return attempt;
    }
    auto service = std::find_if(services_.begin(), services_.end(), [&](const Service& s) {
        return ToLower(s.names.keyName) == ToLower(keyName);
    });
    if (service == services_.end()) {
        attempt.serviceError = codes::kServiceDoesNotExist;
        return attempt;
    }
    if (service->state == codes::kServiceStopped) {
        return attempt;
    }
    attempt.stopSent = true;
    attempt.controlError = injected(FakeCall::StopService, keyName);
    if (attempt.controlError == 0) {
        service->state = codes::kServiceStopped;
        record(u"stopService " + service->names.keyName);
    }
    return attempt;
}

// --- Platform: child processes -------------------------------------------------------------------

ChildStart FakePlatform::startHidden(const std::u16string& commandLine, ChildScope scope) {
    return start(commandLine, scope, false);
}

ChildStart FakePlatform::startHiddenAsShellUser(const std::u16string& commandLine,
                                                ChildScope scope) {
    if (const uint32_t error = injected(FakeCall::ShellToken, commandLine)) {
        ChildStart start;
        start.error = error;
        start.noShellToken = true;
        return start;
    }
    return start(commandLine, scope, true);
}

ChildStart FakePlatform::start(const std::u16string& commandLine, ChildScope scope,
                               bool asShellUser) {
    ChildStart start;
    childCommandLines.push_back(commandLine);
    childStarts.push_back({commandLine, scope, asShellUser});
    start.error = injected(FakeCall::StartHidden, commandLine);
    if (start.error != 0) {
        return start;
    }
    FakeChildBehaviour behaviour = childHandler_(commandLine);
    if (behaviour.startError != 0) {
        start.error = behaviour.startError;
        return start;
    }
    start.child = nextChild_++;
    Child& child = children_[start.child];
    const auto span = [](uint32_t milliseconds) {
        return milliseconds == codes::kInfinite ? kNever : uint64_t{milliseconds};
    };
    child.scope = scope;
    child.processLeft = span(behaviour.runMilliseconds);
    child.treeLeft = child.processLeft == kNever || span(behaviour.handOffMilliseconds) == kNever
                         ? kNever
                         : child.processLeft + behaviour.handOffMilliseconds;
    child.behaviour = std::move(behaviour);
    record(u"startHidden " + commandLine);
    return start;
}

ChildWait FakePlatform::waitForChild(ChildId id, uint32_t timeoutMilliseconds, bool) {
    ChildWait wait;
    auto found = children_.find(id);
    if (found == children_.end()) {
        wait.error = codes::kInvalidHandle;
        return wait;
    }
    if (const uint32_t error = injected(FakeCall::WaitForChild, ToDecimal(id))) {
        wait.error = error;
        return wait;
    }
    Child& child = found->second;
    // A plain wait ends with the started process, while a copy it handed its work to goes on.
    const uint64_t left =
        child.scope == ChildScope::ProcessTree ? child.treeLeft : child.processLeft;
    const auto pass = [&child](uint64_t milliseconds) {
        for (uint64_t* span : {&child.processLeft, &child.treeLeft}) {
            if (*span != kNever) {
                *span -= std::min(*span, milliseconds);
            }
        }
    };
    if (left != kNever &&
        (timeoutMilliseconds == codes::kInfinite || left <= timeoutMilliseconds)) {
        elapsedMilliseconds += left;
        pass(left);
        if (!child.ended && child.treeLeft == 0) {
            if (child.behaviour.sideEffect) {
                child.behaviour.sideEffect();
            }
            child.ended = true;
        }
        wait.end = WaitEnd::Exited;
        wait.exitCode = child.behaviour.exitCode;
        return wait;
    }
    if (timeoutMilliseconds == codes::kInfinite) {
        // A child that never ends, waited for without limit: a real wait would never return.
        wait.error = codes::kInvalidHandle;
        return wait;
    }
    elapsedMilliseconds += timeoutMilliseconds;
    pass(timeoutMilliseconds);
    wait.end = WaitEnd::TimedOut;
    return wait;
}

void FakePlatform::releaseChild(ChildId id) {
    children_.erase(id);
}

// --- Platform: user interface --------------------------------------------------------------------

bool FakePlatform::askYesNo(const std::u16string& text, const std::u16string& title,
                            NoticeIcon icon, bool yesIsDefault) {
    bool answer = false;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    messages.push_back({text, title, icon, true, yesIsDefault, answer});
    return answer;
}

void FakePlatform::showNotice(const std::u16string& text, const std::u16string& title,
                              NoticeIcon icon) {
    messages.push_back({text, title, icon, false, false, false});
}

void FakePlatform::setWaitCursor(bool waiting) {
    cursorChanges.push_back(waiting);
}

void FakePlatform::repaintWindow() {
    ++repaintCount;
}

} // namespace tidewell
