#include "shell/StoreRootCheck.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/Store.h"
#include "platform/profile/Loc.h"

#include <QMessageBox>
#include <QString>

int checkStoreRoot(const ProgramEnvironment& environment) {
    const std::string& root = environment.storeRoot;
    if (storeRootExists(root))
        return -1;
    if (environment.storeRootChosen) {
        reportError("Error", locText("store.missing", root));
        return 1;
    }
    debugLog("asking whether to create the mail store at %s", root.c_str());
    // A signal while the box is open ends its loop with Cancel: nothing is created.
    QMessageBox::StandardButton answer =
        QMessageBox::question(nullptr, QString::fromStdString(locText("settings.title")),
                              QString::fromStdString(locText("store.create", root)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        debugLog("no mail store at %s, and none created", root.c_str());
        return 0;
    }
    HRESULT hr = createStoreRoot(root);
    if (FAILED(hr)) {
        reportError("Error", locText("store.createFailed", root));
        return 1;
    }
    return -1;
}
