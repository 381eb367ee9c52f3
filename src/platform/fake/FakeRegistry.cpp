#include "platform/fake/FakePlatform.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

namespace tidewell {

using fake::SplitPath;

void FakePlatform::set64BitWindows(bool is64Bit) {
    is64BitWindows_ = is64Bit;
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

bool FakePlatform::keyExists(RegistryRoot root, RegistryView view,
                             const std::u16string& path) const {
    return findKey(root, view, path) != nullptr;
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

uint32_t FakePlatform::writeValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                  const std::u16string& name, uint32_t type,
                                  const std::vector<uint8_t>& data) {
    if (const uint32_t error = injected(FakeCall::WriteValue, path + u"\\" + name)) {
        return error;
    }
    KeyNode* key = findKey(root, view, path);
    if (key == nullptr) {
        return codes::kFileNotFound;
    }
    record(u"writeValue " +
           std::u16string(root == RegistryRoot::CurrentUser ? u"HKCU\\" : u"HKLM\\") + path +
           u"\\" + name);
    for (auto& value : key->values) {
        if (ToLower(value.name) == ToLower(name)) {
            value.type = type;
            value.data = data;
            return codes::kSuccess;
        }
    }
    key->values.push_back({name, type, data});
    return codes::kSuccess;
}

uint32_t FakePlatform::deleteValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                   const std::u16string& name) {
    if (const uint32_t error = injected(FakeCall::DeleteValue, path + u"\\" + name)) {
        return error;
    }
    KeyNode* key = findKey(root, view, path);
    if (key == nullptr) {
        return codes::kFileNotFound;
    }
    for (auto value = key->values.begin(); value != key->values.end(); ++value) {
        if (ToLower(value->name) == ToLower(name)) {
            key->values.erase(value);
            record(u"deleteValue " +
                   std::u16string(root == RegistryRoot::CurrentUser ? u"HKCU\\" : u"HKLM\\") +
                   path + u"\\" + name);
            return codes::kSuccess;
        }
    }
    return codes::kFileNotFound;
}

} // namespace tidewell
