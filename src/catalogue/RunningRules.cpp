#include "catalogue/ScanCollector.h"

namespace tidewell {

void ScanCollector::scanProcesses() {}

void ScanCollector::scanServices() {}

} // namespace tidewell
