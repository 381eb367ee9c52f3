#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <vector>

namespace tidewell {

using win32::AsWide;
using win32::FromWide;
using win32::kReadAttempts;
using win32::UniqueKey;

namespace {

// A key whose every index keeps failing (deleted while we walk it) must not hold us for ever.
constexpr DWORD kMaxConsecutiveEnumFailures = 1024;

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::None:
        break;
    }
    return nullptr;
}

REGSAM ViewFlag(RegistryView view) {
    return static_cast<REGSAM>(view);
}

// Opens root\path with the access and the view; the registry's own code on failure.
LONG OpenKey(RegistryRoot root, RegistryView view, const std::u16string& path, REGSAM access,
             UniqueKey& key) {
    const HKEY rootKey = RootKey(root);
    if (rootKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return RegOpenKeyExW(rootKey, AsWide(path), 0, access | ViewFlag(view), key.receive());
}

// Reads one value into exactly as many bytes as it holds.
RegistryValue ReadValue(HKEY key, const std::u16string& name) {
    RegistryValue value;
    // Most values fit a small buffer: one call then, instead of sizing first.
    BYTE firstBuffer[512];
    DWORD firstType = 0;
    DWORD firstSize = sizeof(firstBuffer);
    const LONG first =
        RegQueryValueExW(key, AsWide(name), nullptr, &firstType, firstBuffer, &firstSize);
    if (first == ERROR_SUCCESS) {
        value.type = firstType;
        value.data.assign(firstBuffer, firstBuffer + firstSize);
        return value;
    }
    if (first != ERROR_MORE_DATA) {
        value.error = static_cast<uint32_t>(first);
        return value;
    }
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, AsWide(name), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            value.error = static_cast<uint32_t>(status);
            return value;
        }
        std::vector<uint8_t> data(size);
        if (size == 0) {
            value.type = type;
            return value;
        }
        DWORD readSize = size;
        status = RegQueryValueExW(key, AsWide(name), nullptr, &type, data.data(), &readSize);
        if (status == ERROR_MORE_DATA) {
            continue; // it grew in between
        }
        if (status != ERROR_SUCCESS) {
            value.error = static_cast<uint32_t>(status);
            return value;
        }
        data.resize(readSize);
        value.type = type;
        value.data = std::move(data);
        return value;
    }
    value.error = ERROR_MORE_DATA;
    return value;
}

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

// Calls visit(name, length) for each subkey name of an open key, in the registry's order.
template <typename Visit> void ForEachSubkeyName(HKEY key, Visit visit) {
    constexpr DWORD kNameUnits = 512; // names longer than this are passed over
    wchar_t name[kNameUnits];
    DWORD failuresInARow = 0;
    for (DWORD index = 0; failuresInARow < kMaxConsecutiveEnumFailures; ++index) {
        DWORD length = kNameUnits;
        const LONG result =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            ++failuresInARow;
            continue;
        }
        failuresInARow = 0;
        visit(name, length);
    }
}

} // namespace

// --- Registry ------------------------------------------------------------------------------------

bool Win32Platform::runsOn64BitWindows() {
    if constexpr (sizeof(void*) == 8) {
        return true;
    }
    // Looked up by name: the function is missing on the oldest systems.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process == nullptr || !isWow64Process(GetCurrentProcess(), &wow64)) {
        return false;
    }
    return wow64 != FALSE;
}

uint32_t Win32Platform::openKeyForRead(RegistryRoot root, RegistryView view,
                                       const std::u16string& path) {
    UniqueKey key;
    return static_cast<uint32_t>(OpenKey(root, view, path, KEY_READ, key));
}

SubkeyListing Win32Platform::listSubkeys(RegistryRoot root, RegistryView view,
                                         const std::u16string& path) {
    SubkeyListing listing;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        listing.error = static_cast<uint32_t>(status);
        return listing;
    }
    ForEachSubkeyName(key.get(), [&listing](const wchar_t* name, DWORD length) {
        listing.names.push_back(FromWide(name, length));
    });
    return listing;
}

RegistryValues Win32Platform::readValues(RegistryRoot root, RegistryView view,
                                         const std::u16string& path,
                                         const std::vector<std::u16string>& names) {
    RegistryValues result;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        result.error = static_cast<uint32_t>(status);
        return result;
    }
    result.values.reserve(names.size());
    for (const auto& name : names) {
        result.values.push_back(ReadValue(key.get(), name));
    }
    return result;
}

SubkeyValuesListing Win32Platform::readSubkeyValues(RegistryRoot root, RegistryView view,
                                                    const std::u16string& path,
                                                    const std::vector<std::u16string>& names) {
    SubkeyValuesListing listing;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        listing.error = static_cast<uint32_t>(status);
        return listing;
    }
    ForEachSubkeyName(key.get(), [&](const wchar_t* name, DWORD length) {
        SubkeyValues subkey;
        subkey.name = FromWide(name, length);
        // Under the open key: a whole path in the 32-bit view costs Wine one open per level.
        UniqueKey child;
        const LONG opened =
            RegOpenKeyExW(key.get(), name, 0, KEY_READ | ViewFlag(view), child.receive());
        if (opened != ERROR_SUCCESS) {
            subkey.values.error = static_cast<uint32_t>(opened);
        } else {
            subkey.values.values.reserve(names.size());
            for (const auto& valueName : names) {
                subkey.values.values.push_back(ReadValue(child.get(), valueName));
            }
        }
        listing.subkeys.push_back(std::move(subkey));
        lookAtQueue();
    });
    return listing;
}

ValueListing Win32Platform::listValues(RegistryRoot root, RegistryView view,
                                       const std::u16string& path) {
    ValueListing listing;
    UniqueKey key;
    LONG status = OpenKey(root, view, path, KEY_QUERY_VALUE, key);
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < kReadAttempts; ++attempt) {
        DWORD count = 0;
        DWORD longestName = 0;
        DWORD longestData = 0;
        status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &count, &longestName, &longestData, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        std::vector<wchar_t> name(longestName + 1);
        std::vector<BYTE> data(longestData);
        listing.values.clear();
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD size = static_cast<DWORD>(data.size());
            DWORD type = 0;
            status = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type,
                                   data.empty() ? nullptr : data.data(), &size);
            if (status != ERROR_SUCCESS) {
                break;
            }
            listing.values.push_back({FromWide(name.data(), nameLength), type,
                                      std::vector<uint8_t>(data.begin(), data.begin() + size)});
        }
        if (status == ERROR_NO_MORE_ITEMS) {
            status = ERROR_SUCCESS;
            break;
        }
        // ERROR_MORE_DATA: a value grew while we read; size the buffers again.
        if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    listing.error = static_cast<uint32_t>(status);
    return listing;
}

uint32_t Win32Platform::deleteTree(RegistryRoot root, RegistryView view,
                                   const std::u16string& parentPath, const std::u16string& leaf) {
    UniqueKey parent;
    // KEY_READ | KEY_WRITE | DELETE: what RegDeleteTreeW needs to walk and remove the branch.
    const LONG status = OpenKey(root, view, parentPath, KEY_READ | KEY_WRITE | DELETE, parent);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    return static_cast<uint32_t>(RegDeleteTreeW(parent.get(), AsWide(leaf)));
}

uint32_t Win32Platform::writeValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                                   const std::u16string& name, uint32_t type,
                                   const std::vector<uint8_t>& data) {
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    return static_cast<uint32_t>(RegSetValueExW(key.get(), AsWide(name), 0, type,
                                                data.empty() ? nullptr : data.data(),
                                                static_cast<DWORD>(data.size())));
}

uint32_t Win32Platform::deleteValue(RegistryRoot root, RegistryView view,
                                    const std::u16string& path, const std::u16string& name) {
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_SET_VALUE, key);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    return static_cast<uint32_t>(RegDeleteValueW(key.get(), AsWide(name)));
}

} // namespace tidewell
