#include "catalogue/ScanCollector.h"

namespace tidewell {

void ScanCollector::scanFolders() {}

void ScanCollector::scanDirectoryNames(const std::u16string&, const std::u16string&,
                                       const std::u16string&, RiskLevel, bool) {}

void ScanCollector::scanTempEntries(const std::u16string&) {}

} // namespace tidewell
