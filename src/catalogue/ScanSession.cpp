#include "catalogue/ScanSession.h"

#include "catalogue/ScanCollector.h"

namespace tidewell {

void ScanSession::runScan() {
    ScanCollector collector(platform, product);
    ItemList fresh = collector.collect();
    if (releaseItems) {
        releaseItems();
    }
    items = std::move(fresh);
    if (showItems) {
        showItems();
    }
}

void ScanSession::switchProduct(ProductKind next) {
    product = next;
    if (releaseItems) {
        releaseItems();
    }
    items.clear();
}

} // namespace tidewell
