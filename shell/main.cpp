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
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaction(signal, &action, nullptr);
}

int runProgram(int argc, char** argv, SingleInstance& guard) {
    // Read before QApplication takes its own options out of argv.
    bool hide = startsHidden(argc, argv);

    QApplication application(argc, argv);
    // The application's title; not Qt's display name, which window managers would append
    // to every dialog's own title.
    QApplication::setApplicationName("Zelko");
    QApplication::setWindowIcon(FolderImages::application());
    // The window goes to the tray, not away: only the main window's close ends the run.
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
    CoInitialize(nullptr);
    SingleInstance guard("__zelko");
    if (!guard.acquire()) {
        // Another instance runs: leave it alone and say nothing.
        CoUninitialize();
        return 2;
    }
    int result = runProgram(argc, argv, guard);
    CoUninitialize();
    return result;
}
