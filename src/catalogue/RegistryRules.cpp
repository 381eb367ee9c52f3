#include "catalogue/ScanCollector.h"

namespace tidewell {

void ScanCollector::scanRegistry() {}

void ScanCollector::scanUninstallRecords(RegistryRoot, RegistryView) {}

} // namespace tidewell
