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

RunLogFile::RunLogFile(Platform& platform, const std::u16string& title)
    : platform_(platform), started_(platform.localTime()), title_(title) {
    // One reading of the clock, so the file name and the time line show the same moment.
    const std::u16string path = JoinPath(ShellFolderPath(platform, ShellFolder::Desktop),
                                         u"Tidewell日志_" + TimeStamp(started_) + u".txt");
    if (platform.writeFile(path, contents()) == codes::kSuccess) {
        path_ = path;
    }
}

std::string RunLogFile::contents() const {
    const LocalTime& t = started_;
    return "\xEF\xBB\xBF" +
           ToUtf8(title_ + u"\r\n时间：" + ToDecimal(t.year) + u"-" + ToDecimal(t.month) + u"-" +
                  ToDecimal(t.day) + u" " + ToDecimal(t.hour) + u":" + ToDecimal(t.minute) + u":" +
                  ToDecimal(t.second) + u"\r\n\r\n" + body_);
}

void RunLogFile::append(const std::u16string& entry) {
    body_ += entry;
    if (!path_.empty() && !entry.empty() &&
        platform_.appendFile(path_, ToUtf8(entry)) != codes::kSuccess) {
        complete_ = false;
    }
}

void RunLogFile::retitle(const std::u16string& title) {
    title_ = title;
    if (!path_.empty()) {
        complete_ = platform_.writeFile(path_, contents()) == codes::kSuccess;
    }
}

std::u16string RunLogFile::finish() {
    if (!path_.empty() && !complete_) {
        complete_ = platform_.writeFile(path_, contents()) == codes::kSuccess;
    }
    return complete_ ? path_ : std::u16string();
}

std::u16string LogPathOrFailure(const std::u16string& logPath) {
    return logPath.empty() ? u"日志写入失败" : logPath;
}

uint32_t WriteRestoreNote(Platform& platform, const std::u16string& backupFolder,
                          const std::vector<RestoreEntry>& entries) {
    std::u16string text =
        u"请在以管理员身份运行的命令提示符中执行下列命令，恢复本次删除的注册表项。\r\n";
    // The exports name their keys as the 64-bit view sees them (a 32-bit branch by its
    // WOW6432Node name); a plain import from the 32-bit prompt (SysWOW64\cmd.exe, the one 32-bit
    // programs open) would write them into the 32-bit view instead.
    const std::u16string viewSwitch = platform.runsOn64BitWindows() ? u" /reg:64" : u"";
    for (const RestoreEntry& entry : entries) {
        const size_t separator = entry.file.find_last_of(u"\\/");
        text += u"\r\n" + entry.title + u"\r\n位置：" + entry.location + u"\r\n文件：" +
                entry.file.substr(separator == std::u16string::npos ? 0 : separator + 1) +
                u"\r\nreg import \"" + entry.file + u"\"" + viewSwitch + u"\r\n";
    }
    return platform.writeFile(JoinPath(backupFolder, u"恢复说明.txt"),
                              "\xEF\xBB\xBF" + ToUtf8(text));
}

} // namespace tidewell
