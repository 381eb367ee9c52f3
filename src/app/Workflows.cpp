#include "app/MainWindow.h"
#include "clean/CleanSelected.h"
#include "clean/WorkflowWindow.h"
#include "uninstall/OneClickUninstall.h"

namespace tidewell {

namespace {

// The main window as the workflows see it.
class MainWindowControls : public WorkflowWindow {
public:
    explicit MainWindowControls(MainWindow& app) : app(app) {}

    ScanSession& session() override { return app.session; }
    std::vector<ResidueItem*> checkedItems() override { return app.checkedItems(); }
    void setBusy(bool busy, const std::u16string& status) override { app.setBusy(busy, status); }
    void setProgress(int position) override {
        SendMessageW(app.progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }

private:
    MainWindow& app;
};

} // namespace

// Command 102: clean the checked items.
void MainWindow::cleanSelected() {
    MainWindowControls controls(*this);
    CleanSelected(session.platform, controls);
}

// Command 103: uninstall the product silently, then clean what it leaves.
void MainWindow::oneClickUninstall() {
    MainWindowControls controls(*this);
    OneClickUninstall(session.platform, controls);
}

} // namespace tidewell
