// brevalo_config_screenshots OUTDIR: renders the configuration window to OUTDIR on the
// offscreen platform, with a learned net and a selected message whose matches are lit.

#include "../shell/ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "editor/TMain.h"

#include <QApplication>
#include <QSettings>
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

namespace {

bool save(QWidget* window, const QString& folder, const char* name) {
    QApplication::processEvents();
    QString path = folder + "/" + name + ".png";
    bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    setLogToStderr(false);
    setErrorReporter([](const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    });
    QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "build/screenshots";
    QDir().mkpath(out);

    QTemporaryDir dir;
    std::string home = dir.path().toStdString();
    std::string maildir = home + "/Maildir";
    // The window at its default size, not as a person's own last one was left.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    shellFixture::copyStrings(home);
    shellFixture::writeLearnedNet(home, maildir);
    locOpen(home + "/strings.ini");
    createStoreRoot(maildir);
    StoreConnection connection = connectStore(maildir);
    ref_ptr<Net> running(new Net(home + "/zelko.ini", StoreMessages::of(connection.store.get())));
    {
        // A second expression so that the tree shows both levels.
        running->load();
        running->getInput(0)->addRegex("attached|ready");
        running->save();
    }

    TMain window;
    window.openNet(running.get(), connection.store.get());
    window.show();
    QApplication::processEvents();
    QTreeWidget* inTree = window.inTree;
    inTree->expandAll();
    window.outTree->expandAll();
    // The whole stimulation tree selected: every expression lights its matches.
    inTree->setCurrentItem(inTree->topLevelItem(0));
    window.fileList->clearSelection();
    window.fileList->topLevelItem(0)->setSelected(true);
    bool ok = save(&window, out, "config");

    // One expression selected, on another message.
    inTree->setCurrentItem(inTree->topLevelItem(0)->child(0)->child(1));
    window.fileList->clearSelection();
    window.fileList->topLevelItem(1)->setSelected(true);
    ok = save(&window, out, "config-expression") && ok;
    window.setModified(false);
    window.hide();
    locClose();
    return ok ? 0 : 1;
}
