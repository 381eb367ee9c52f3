#pragma once

#include "platform/Platform.h"

#include <string>

namespace tidewell {

// "YYYYMMDD_hhmmss" with leading zeros, as run folders and log files are named.
std::u16string TimeStamp(const LocalTime& time);

// Creates Documents\TidewellBackup\<time stamp> and returns its path, whether or not the
// folder could be created (the exports into it then fail and cancel their deletions).
std::u16string CreateBackupFolder(Platform& platform);

// Writes "Tidewell日志_<time stamp>.txt" to the desktop: UTF-8 with a byte-order mark, the title,
// a time line and an empty line, then the body unchanged. Returns the file's path, or empty
// when the file could not be created.
std::u16string WriteRunLog(Platform& platform, const std::u16string& title,
                           const std::u16string& body);

} // namespace tidewell
