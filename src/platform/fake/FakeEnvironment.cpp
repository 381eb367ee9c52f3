#include "platform/fake/FakePlatform.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

namespace tidewell {

namespace {

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
    case codes::kServiceDisabled:
        return u"The service cannot be started, either because it is disabled or because it has "
               u"no enabled devices associated with it.\r\n";
    case codes::kInvalidWindowHandle:
        return u"Invalid window handle.\r\n";
    case codes::kTimeout:
        return u"This operation returned because the timeout period expired.\r\n";
    default:
        return std::nullopt;
    }
}

} // namespace

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

void FakePlatform::setSystemDirectory(const std::u16string& path) {
    systemDirectory_ = path;
}
void FakePlatform::addShortName(const std::u16string& shortPath, const std::u16string& longPath) {
    shortNames_.emplace_back(shortPath, longPath);
}

void FakePlatform::setLocalTime(const LocalTime& time) {
    now_ = time;
}

void FakePlatform::setComputerNames(std::vector<std::u16string> names) {
    computerNames_ = std::move(names);
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

// Read with the Windows folder: the two fail together.
std::u16string FakePlatform::systemDirectory() {
    const std::u16string path =
        systemDirectory_ ? *systemDirectory_ : JoinPath(windowsDirectory_, u"System32");
    if (injected(FakeCall::WindowsDirectory, path) != 0) {
        return {};
    }
    return path;
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

uint32_t FakePlatform::announceEnvironmentChange(uint32_t timeoutMilliseconds) {
    environmentAnnouncements.push_back(timeoutMilliseconds);
    return injected(FakeCall::AnnounceEnvironmentChange, u"Environment");
}

} // namespace tidewell
