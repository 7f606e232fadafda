// brevalo_screenshots OUTDIR: renders every window of the program to OUTDIR/<window>.png
// on the offscreen platform, with a temporary store and a learned net behind them.

#include "ShellFixture.h"

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "mail/StoreAccess.h"
#include "core/NeuronOut.h"
#include "editor/FolderImages.h"
#include "editor/FolderTreeItem.h"
#include "editor/TInputForm.h"
#include "editor/TMain.h"
#include "editor/TMemoForm.h"
#include "editor/TOutEditor.h"
#include "editor/TSelectFolderForm.h"
#include "shell/TRecentForm.h"
#include "shell/TSettingForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <cstdio>
#include <cstdlib>

namespace {

bool save(QWidget* window, const QString& folder, const char* name) {
    window->show();
    QApplication::processEvents();
    QString path = folder + "/" + name + ".png";
    bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    window->hide();
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
    shellFixture::copyStrings(home);
    shellFixture::writeLearnedNet(home, maildir);

    ProgramEnvironment environment;
    environment.programFolder = std::string(BREVALO_BIN_DIR) + "/";
    environment.home = home + "/";
    environment.storeRoot = maildir;
    // The journal of the messages sorted below lives there.
    environment.stateFolder = home + "/state/";
    // As the tray program does: Configure opens the configuration window, so it is not
    // greyed out in the picture either.
    TSettingForm::setConfigurationWindow(&TMain::configure);
    TSettingForm form(environment);
    if (!form.started())
        return 1;
    // The paths a person would see, not the temporary ones behind the pictures.
    form.storeLabel->setText(
        QString::fromStdString(locText("settings.storeInUse", "/home/sam/Maildir")));
    form.netFileLabel->setText(QString::fromStdString(
        locText("settings.netInUse", "/home/sam/.config/brevalo/zelko.ini")));
    bool ok = save(&form, out, "settings");
    form.jobvariant2Radio->click();
    form.notifySortedCheck->click();
    form.enabledPeriodRadio->click();
    form.fromEdit->setText("me@example.org");
    ok = save(&form, out, "settings-variant2-period") && ok;

    TInputForm input;
    input.setWindowTitle("New stimulation");
    input.InputLabel->setText("Name of the stimulation:");
    input.InputEdit->setText("invoice");
    ok = save(&input, out, "input") && ok;

    ref_ptr<NeuronOut> folder(new NeuronOut("Invoices"));
    folder->setAnswer("Thank you for your invoice.\r\nWe will pay it within 30 days.");
    folder->setEmails({"accounts@example.org", "boss@example.org"});
    TOutEditor editor(&form);
    editor.setWindowTitle(QString::fromStdString(locText("outeditor.title.edit")));
    editor.setNeuron(folder.get());
    ok = save(&editor, out, "outeditor") && ok;

    StoreConnection connection = connectStore(maildir);
    findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Sent", true);
    findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Trash", true);
    STOREFOLDERID work = findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Work", true);
    TSelectFolderForm chooser(&form);
    chooser.setWindowTitle(QString::fromStdString(locText("selectfolder.title.settings")));
    chooser.fillFolders(connection.store.get());
    chooser.folderTree->expandAll();
    chooser.setSelectedFolder(work);
    ok = save(&chooser, out, "selectfolder") && ok;

    TMemoForm memo(&form);
    memo.setWindowTitle("Learning set check");
    memo.Memo1->setPlainText(
        "Message\tFolders\nInvoice 1\tInvoices\nMeeting on Monday\tMeetings\n\n"
        "Every message of the learning set is assigned to a folder.");
    ok = save(&memo, out, "memo") && ok;

    ok = save(form.systrayMenu, out, "traymenu") && ok;

    // A few messages arrive and are sorted (one no stimulation matches stays), then the
    // journal's window shows them.
    form.CancelBtn->click();
    const char* const arrivals[][2] = {
        {"Invoice 2041 for December", "Please find the invoice for December attached."},
        {"Meeting on Thursday", "The meeting moves to Thursday at ten."},
        {"Lunch?", "Shall we have lunch on Friday?"},
        {"Your invoice is ready", "The invoice for your order is ready to download."},
    };
    int number = 0;
    for (const auto& arrival : arrivals)
        shellFixture::deliver(maildir, shellFixture::message(arrival[0], arrival[1]),
                              "17650000" + std::to_string(10 + number++) + ".M1P1.screenshot");
    QElapsedTimer waited;
    waited.start();
    while (form.sortedSinceOpened().messages() < 3 && waited.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    form.Recent1->trigger();
    if (TRecentForm* recent = form.recentWindow()) {
        recent->resize(900, 260);
        recent->table->selectRow(0);
        ok = save(recent, out, "recently-sorted") && ok;
    } else {
        ok = false;
    }

    // The application icon and the folder images side by side.
    QPixmap icons(64 + 8 * 40, 64);
    icons.fill(Qt::white);
    QPainter painter(&icons);
    painter.drawPixmap(0, 0, FolderImages::application().pixmap(64));
    for (int index = -1; index <= 6; ++index)
        painter.drawPixmap(72 + (index + 1) * 40, 16, FolderImages::folder(index).pixmap(32));
    painter.end();
    ok = icons.save(out + "/icons.png") && ok;
    return ok ? 0 : 1;
}
