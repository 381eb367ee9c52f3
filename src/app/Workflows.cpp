#include "app/MainWindow.h"

namespace tidewell {

// Command 102: clean the checked items.
void MainWindow::cleanSelected() {}

// Command 103: uninstall the product silently, then clean what it leaves.
void MainWindow::oneClickUninstall() {}

} // namespace tidewell
