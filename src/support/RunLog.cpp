#include "support/RunLog.h"

#include "platform/SystemCodes.h"
#include "support/Environment.h"
#include "support/Text.h"

namespace tidewell {

namespace {

std::u16string Padded(uint32_t value, size_t width) {
    std::u16string digits = ToDecimal(value);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), u'0');
    }
    return digits;
}

} // namespace

std::u16string TimeStamp(const LocalTime& time) {
    return Padded(time.year, 4) + Padded(time.month, 2) + Padded(time.day, 2) + u"_" +
           Padded(time.hour, 2) + Padded(time.minute, 2) + Padded(time.second, 2);
}

std::u16string CreateBackupFolder(Platform& platform) {
    const std::u16string stamp = TimeStamp(platform.localTime());
    // Without a Documents folder the path is relative to the current directory, by design.
    const std::u16string documents = ShellFolderPath(platform, ShellFolder::Documents);
    const std::u16string folder = JoinPath(JoinPath(documents, u"TidewellBackup"), stamp);
    EnsureDirectory(platform, folder);
    return folder;
}

std::u16string WriteRunLog(Platform& platform, const std::u16string& title,
                           const std::u16string& body) {
    // One reading of the clock, so the file name and the time line show the same moment.
    const LocalTime now = platform.localTime();
    const std::u16string path = JoinPath(ShellFolderPath(platform, ShellFolder::Desktop),
                                         u"Tidewell日志_" + TimeStamp(now) + u".txt");
    const std::u16string text = title + u"\r\n时间：" + ToDecimal(now.year) + u"-" +
                                ToDecimal(now.month) + u"-" + ToDecimal(now.day) + u" " +
                                ToDecimal(now.hour) + u":" + ToDecimal(now.minute) + u":" +
                                ToDecimal(now.second) + u"\r\n\r\n" + body;
    const std::string bytes = "\xEF\xBB\xBF" + ToUtf8(text);
    if (platform.writeFile(path, bytes) != codes::kSuccess) {
        return {};
    }
    return path;
}

} // namespace tidewell
