#include "support/Environment.h"

#include "platform/SystemCodes.h"

namespace tidewell {

bool EnsureDirectory(Platform& platform, const std::u16string& path) {
    if (platform.fileAttributes(path).isDirectory()) {
        return true;
    }
    const size_t separator = path.find_last_of(u"\\/");
    if (separator != std::u16string::npos && separator >= 3) {
        // The parent's own answer does not matter: creating this level tells.
        EnsureDirectory(platform, path.substr(0, separator));
    }
    const uint32_t error = platform.createDirectory(path);
    return error == codes::kSuccess || error == codes::kAlreadyExists;
}

std::u16string ReadEnvironmentVariable(Platform& platform, const std::u16string& name) {
    std::u16string value = platform.environmentVariable(name).value_or(std::u16string());
    // The system hands the value back up to its first terminator.
    const size_t terminator = value.find(u'\0');
    if (terminator != std::u16string::npos) {
        value.resize(terminator);
    }
    return value;
}

std::u16string ShellFolderPath(Platform& platform, ShellFolder folder) {
    return platform.shellFolder(folder).value_or(std::u16string());
}

} // namespace tidewell
