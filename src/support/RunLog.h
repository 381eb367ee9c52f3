#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace tidewell {

// "YYYYMMDD_hhmmss" with leading zeros, as run folders and log files are named.
std::u16string TimeStamp(const LocalTime& time);

// Creates Documents\TidewellBackup\<time stamp> and returns its path, whether or not the
// folder could be created (the exports into it then fail and cancel their deletions).
std::u16string CreateBackupFolder(Platform& platform);

// The run's log, "Tidewell日志_<time stamp>.txt" on the desktop: UTF-8 with a byte-order mark,
// the title, a time line and an empty line, then the entries unchanged. The file is created
// when the run starts and each entry is appended and flushed as it is made, so that a run cut
// short by a crash or a restart still shows what it had done.
class RunLogFile {
public:
    RunLogFile(Platform& platform, const std::u16string& title);

    void append(const std::u16string& entry);
    // The title the run turned out to have; the file is written again with it.
    void retitle(const std::u16string& title);
    // The file's path, or empty when it could not be created or written whole. An entry that
    // could not be appended is made good here by writing the whole file once more; when that
    // fails too, the file on the disk is cut short and no path is given for it.
    std::u16string finish();

private:
    std::string contents() const;

    Platform& platform_;
    LocalTime started_;
    std::u16string title_;
    std::u16string body_;
    std::u16string path_;
    bool complete_ = true; // every entry reached the file
};

// What the final message shows for the log: its path, or "日志写入失败".
std::u16string LogPathOrFailure(const std::u16string& logPath);

// One registry export a run's deletion went ahead on.
struct RestoreEntry {
    std::u16string title;
    std::u16string location; // as the log shows it
    std::u16string file;     // full path of the .reg file
};

// Writes "恢复说明.txt" into the backup folder (UTF-8 with a byte-order mark, CRLF): a line that
// says to use an administrator command prompt, then per export its title, location, file name
// and the command that restores it: reg import "<file>", with /reg:64 on 64-bit Windows so that
// it restores the same branch from a 32-bit or a 64-bit command prompt.
uint32_t WriteRestoreNote(Platform& platform, const std::u16string& backupFolder,
                          const std::vector<RestoreEntry>& entries);

} // namespace tidewell
