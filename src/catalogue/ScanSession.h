#pragma once

#include "catalogue/ResidueItem.h"
#include "platform/Platform.h"

#include <functional>

namespace tidewell {

// The logic side of the application object: the product in view and the items of its last
// scan, which it owns until the next scan or product switch.
class ScanSession {
public:
    explicit ScanSession(Platform& platform) : platform(platform) {}

    // Replaces `items` with a fresh scan of `product`.
    void runScan();
    // Discards the items and selects another product.
    void switchProduct(ProductKind next);

    Platform& platform;
    ProductKind product = ProductKind::AutoCAD;
    ItemList items;

    // The result view hooks in here. releaseItems runs before the old items are destroyed, so
    // that nothing keeps a link to them; showItems runs once the new list is in place.
    std::function<void()> releaseItems;
    std::function<void()> showItems;
};

} // namespace tidewell
