#include "clean/ProtectedLocations.h"

#include "support/ProtectedFolders.h"

namespace tidewell {

const char16_t kProtectedLocationMessage[] = u"受保护的系统目录，已跳过";

bool IsProtectedLocation(Platform& platform, const std::u16string& path) {
    return StandingOf(platform, path) != FolderStanding::Ordinary;
}

} // namespace tidewell
