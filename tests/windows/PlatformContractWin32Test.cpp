#include "RemovalWin32Support.h"
#include "contract/PlatformContract.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <set>
#include <utility>
#include <vector>

namespace tidewell {
namespace {

using win32::AsWide;
using win32::FromWide;
using win32::UniqueFile;
using win32::UniqueKey;

using removaltest::Decimal;
using removaltest::Erase;
using removaltest::Verbatim;

HKEY RootKey(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// The real system: a folder under TEMP and a key name of this process and moment, removed
// again with everything the checks left in them.
class Win32MachinePreparer : public MachinePreparer {
public:
    Win32MachinePreparer() {
        const std::u16string unique = u"TidewellContract-" + Decimal(GetCurrentProcessId()) + u"-" +
                                      Decimal(++counter_) + u"-" + Decimal(GetTickCount64());
        std::vector<wchar_t> temp(GetTempPathW(0, nullptr) + 1);
        const DWORD length = GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
        std::u16string base = FromWide(temp.data(), length);
        if (!base.empty() && base.back() == u'\\') {
            base.pop_back();
        }
        folder_ = base + u"\\" + unique;
        key_ = unique;
        if (!CreateDirectoryW(AsWide(folder_), nullptr)) {
            ADD_FAILURE() << "scratch folder not created: " << GetLastError();
        }
    }

    ~Win32MachinePreparer() override {
        held_.clear();
        Erase(folder_);
        for (const auto& [root, view] : {std::pair{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
                                         std::pair{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
                                         std::pair{HKEY_CURRENT_USER, KEY_WOW64_64KEY}}) {
            UniqueKey software;
            if (RegOpenKeyExW(root, L"Software", 0, KEY_ALL_ACCESS | view, software.receive()) ==
                ERROR_SUCCESS) {
                RegDeleteTreeW(software.get(), AsWide(key_));
            }
        }
        for (const auto& name : variables_) {
            SetEnvironmentVariableW(AsWide(name), nullptr);
        }
    }

    Platform& platform() override { return platform_; }
    std::u16string scratchFolder() override { return folder_; }
    std::u16string scratchKeyName() override { return key_; }

    void makeDirectory(const std::u16string& path) override {
        // Parents first, like the fake's setup.
        for (size_t at = folder_.size() + 1; at != std::u16string::npos;
             at = path.find(u'\\', at + 1)) {
            CreateDirectoryW(AsWide(Verbatim(path.substr(0, at))), nullptr);
        }
        ASSERT_TRUE(CreateDirectoryW(AsWide(Verbatim(path)), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
    }

    void makeFile(const std::u16string& path, const std::string& contents,
                  uint32_t attributes) override {
        makeDirectory(path.substr(0, path.rfind(u'\\')));
        UniqueFile file(CreateFileW(AsWide(Verbatim(path)), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid()) << GetLastError();
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), contents.data(), static_cast<DWORD>(contents.size()),
                              &written, nullptr));
        file.reset();
        if (attributes != 0) {
            ASSERT_TRUE(SetFileAttributesW(AsWide(Verbatim(path)), attributes));
        }
    }

    std::optional<std::string> readFile(const std::u16string& path) override {
        UniqueFile file(CreateFileW(AsWide(Verbatim(path)), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            return std::nullopt;
        }
        std::string contents;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0) {
            contents.append(buffer, read);
        }
        return contents;
    }

    bool makeDirectoryLink(const std::u16string& link, const std::u16string& target) override {
        return removaltest::MakeDirectoryLink(link, target);
    }

    void holdOpen(const std::u16string& path) override {
        UniqueFile file(CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid()) << GetLastError();
        held_.push_back(std::move(file));
    }

    bool checksAttributesLikeWindows() const override {
        // Wine says who it is through ntdll.
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
        return !wine;
    }

    void makeKey(RegistryRoot root, RegistryView view, const std::u16string& path) override {
        UniqueKey key;
        ASSERT_EQ(RegCreateKeyExW(RootKey(root), AsWide(path), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | static_cast<REGSAM>(view), nullptr,
                                  key.receive(), nullptr),
                  ERROR_SUCCESS);
    }

    void setValue(RegistryRoot root, RegistryView view, const std::u16string& path,
                  const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
        UniqueKey key;
        ASSERT_EQ(RegCreateKeyExW(RootKey(root), AsWide(path), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | static_cast<REGSAM>(view), nullptr,
                                  key.receive(), nullptr),
                  ERROR_SUCCESS);
        // RegSetValueExW counts a string's terminator in when the caller left it out but the
        // unit after the data is zero; non-zero padding keeps an unterminated string as given.
        std::vector<uint8_t> padded = data;
        padded.insert(padded.end(), {'!', '!', '!', '!'});
        ASSERT_EQ(RegSetValueExW(key.get(), AsWide(name), 0, type, padded.data(),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    void setEnvironment(const std::u16string& name,
                        const std::optional<std::u16string>& value) override {
        variables_.insert(name);
        ASSERT_TRUE(SetEnvironmentVariableW(AsWide(name), value ? AsWide(*value) : nullptr) ||
                    !value);
    }

private:
    static inline uint64_t counter_ = 0;
    Win32Platform platform_;
    std::u16string folder_;
    std::u16string key_;
    std::set<std::u16string> variables_;
    std::vector<UniqueFile> held_;
};

INSTANTIATE_TEST_SUITE_P(
    Machines, PlatformContract,
    testing::Values(FakeContractMachine(),
                    ContractMachine{"Win32",
                                    [] { return std::make_unique<Win32MachinePreparer>(); }}),
    ContractMachineNamer());

} // namespace
} // namespace tidewell
