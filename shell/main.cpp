// brevalo: the tray program that sorts the mail arriving in the inbox.

#include "util/ErrorReport.h"
#include "util/Log.h"
#include "platform/ComInit.h"
#include "platform/lock/SingleInstance.h"
#include "platform/profile/Loc.h"
#include "mail/HtmlText.h"
#include "sorting/OutgoingMail.h"
#include "sorting/ProgramEnvironment.h"
#include "editor/FolderImages.h"
#include "editor/TInputForm.h"
#include "editor/TMain.h"
#include "shell/StartOptions.h"
#include "shell/ShowRequestServer.h"
#include "shell/StoreRootCheck.h"
#include "shell/TSettingForm.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

void showErrorBox(const std::string& caption, const std::string& text) {
    // The learning thread reports unreadable learning messages too: its boxes are shown by
    // the user-interface thread, without making the run wait for the user.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [caption, text] { showErrorBox(caption, text); },
            Qt::QueuedConnection);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

int signalPipe[2] = {-1, -1};
// Set when a signal was seen: a signal that ended the loop of a box shown before the main
// loop must not be forgotten when the main loop starts.
bool terminating = false;

void onTerminate(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
}

// The end of a session (SIGTERM, SIGHUP) and Ctrl+C end the loop like "Exit", so the
// notifications are unregistered and the icon removed on the way out.
void quitOnSignals(QObject* owner) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte;
        while (read(signalPipe[0], &byte, 1) > 0) {
        }
        terminating = true;
        // Unlike quit(), exit() also ends the loop of an open question box (and any loop
        // started afterwards returns at once), and no window can refuse it.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}

// Another copy holds the lock: it is asked to show its settings window. It listens once
// its window exists, which at its own start can take a moment.
int raiseRunningCopy(int argc, char** argv, const SingleInstance& guard) {
    QCoreApplication application(argc, argv);
    QString socket = ShowRequestServer::socketPathFor(QString::fromStdString(guard.path()));
    // The running copy listens once its window exists, after sorting what arrived while it
    // was not running: a large inbox, or a question it asks, can take a while.
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (ShowRequestServer::send(socket, ShowRequestServer::showRequest))
            return 0;
        if (attempt == 10)
            std::fprintf(stderr, "brevalo: waiting for the running copy to answer\n");
        QThread::msleep(200);
    }
    std::fprintf(stderr, "brevalo: another copy is running but does not answer on %s\n",
                 socket.toLocal8Bit().constData());
    return 2;
}

int runProgram(int argc, char** argv, SingleInstance& guard) {
    // Read before QApplication takes its own options out of argv.
    bool hide = startsHidden(argc, argv);

    QApplication application(argc, argv);
    // The application's title; not Qt's display name, which window managers would append
    // to every dialog's own title.
    QApplication::setApplicationName("Zelko");
    QApplication::setWindowIcon(FolderImages::application());
    // The window goes to the tray, not away: only "Exit" (or a signal) ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    setErrorReporter(showErrorBox);
    quitOnSignals(&application);

    ProgramEnvironment environment =
        ProgramEnvironment::fromProcess(QCoreApplication::applicationDirPath().toStdString());
    // The boxes about the store speak the person's language; a language file without the
    // folder names would make folders named after its keys.
    std::string stringsProblem = environment.openStrings();
    if (!stringsProblem.empty()) {
        std::fprintf(stderr, "brevalo: %s\n", stringsProblem.c_str());
        reportError("Error", stringsProblem);
        return 1;
    }
    int storeStatus = checkStoreRoot(environment);
    if (storeStatus >= 0)
        return storeStatus;
    setSendmailCommand(environment.sendmail);
    initMessageAccess();

    // Configure opens the configuration window on the running net.
    TSettingForm::setConfigurationWindow(&TMain::configure);

    int result = 0;
    try {
        TSettingForm form(environment);
        if (!form.started()) {
            // The box has said why: nothing can be sorted without the store.
            finalizeMessageAccess();
            return 1;
        }
        TInputForm::createShared();

        ShowRequestServer requests(
            ShowRequestServer::socketPathFor(QString::fromStdString(guard.path())),
            [&form](std::uint32_t message) {
                if (message == ShowRequestServer::showRequest)
                    form.wmZelkoShow();
            });
        if (!requests.listen())
            debugLog("no show requests: %s", requests.errorText().toStdString().c_str());

        if (hide)
            form.showMainWindow(false);
        else
            form.showMainWindow(true);
        if (!terminating)
            QApplication::exec();
        TInputForm::destroyShared();
    } catch (const ComException& e) {
        TInputForm::destroyShared();
        reportError("Error", comErrorText(e, "Running Brevalo"));
        result = 0;
    } catch (const std::exception& e) {
        TInputForm::destroyShared();
        reportError("Error", e.what());
        result = 0;
    }
    finalizeMessageAccess();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    // Before the single-instance guard: help is for anyone who asks, running copy or not.
    if (wantsHelp(argc, argv)) {
        std::fputs(trayUsage(), stdout);
        return 0;
    }
    if (const char* unknown = unknownArgument(argc, argv)) {
        std::fprintf(stderr, "brevalo: %s %.80s\n\n%s",
                     unknown[0] == '-' ? "unknown option" : "unexpected argument", unknown,
                     trayUsage());
        return 64;
    }
    // Qt would abort with a page of text; a person over SSH gets one line.
    const char* platform = platformArgument(argc, argv);
    std::string noDisplay = missingDisplay(platform ? platform : std::getenv("QT_QPA_PLATFORM"),
                                           std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    if (!noDisplay.empty()) {
        std::fprintf(stderr, "brevalo: %s\n", noDisplay.c_str());
        return 1;
    }
    CoInitialize(nullptr);
    SingleInstance guard("__zelko");
    if (!guard.acquire()) {
        if (!guard.heldElsewhere()) {
            std::fprintf(stderr, "brevalo: cannot tell whether another copy runs: %s\n",
                         guard.error().c_str());
            CoUninitialize();
            return 1;
        }
        int result = raiseRunningCopy(argc, argv, guard);
        CoUninitialize();
        return result;
    }
    int result = runProgram(argc, argv, guard);
    CoUninitialize();
    return result;
}
