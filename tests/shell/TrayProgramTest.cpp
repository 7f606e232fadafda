// The program brevalo as a child process: single instance, show requests, "-hide" and
// sorting of arriving mail end to end.

#include "ShellFixture.h"

#include "platform/Store.h"
#include "core/NetFile.h"
#include "sorting/ProgramEnvironment.h"
#include "shell/StartOptions.h"
#include "shell/ShowRequestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// --- "-hide"

struct HideCase {
    const char* name;
    std::vector<const char*> arguments;
    bool hidden;
};

class StartsHidden : public testing::TestWithParam<HideCase> {};

TEST_P(StartsHidden, OnlyTheExactFirstArgument) {
    std::vector<const char*> argv{"brevalo"};
    argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    EXPECT_EQ(startsHidden(static_cast<int>(argv.size()), argv.data()), GetParam().hidden);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartsHidden,
    testing::Values(HideCase{"no_arguments", {}, false}, HideCase{"first", {"-hide"}, true},
                    HideCase{"first_of_two", {"-hide", "x"}, true},
                    HideCase{"second", {"x", "-hide"}, false},
                    HideCase{"capitals", {"-HIDE"}, false}, HideCase{"longer", {"-hidden"}, false},
                    HideCase{"double_dash", {"--hide"}, false}),
    [](const testing::TestParamInfo<HideCase>& info) { return std::string(info.param.name); });

// The toolkit's own options pass, with their values; anything else is named.
struct ArgumentCase {
    const char* name;
    std::vector<const char*> arguments;
    const char* unknown; // null: every argument taken
};

class UnknownArgument : public testing::TestWithParam<ArgumentCase> {};

TEST_P(UnknownArgument, IsTheFirstNeitherOursNorTheToolkits) {
    std::vector<const char*> argv{"brevalo"};
    argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
    const char* found = unknownArgument(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(found ? std::string(found) : "", GetParam().unknown ? GetParam().unknown : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnknownArgument,
    testing::ValuesIn(std::vector<ArgumentCase>{
        {"hide_style_session", {"-hide", "-style", "Fusion", "-session", "s1"}, nullptr},
        {"double_dash_toolkit", {"--platform", "offscreen", "--reverse"}, nullptr},
        {"joined_value", {"-style=Fusion", "-bogus=x"}, "-bogus=x"},
        {"value_missing", {"-style"}, "-style"},
        {"value_is_not_an_option", {"-platform", "xcb", "--bogus"}, "--bogus"},
        {"hide_not_first", {"-reverse", "-hide"}, "-hide"},
        {"operand", {"inbox"}, "inbox"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The running program

// Waits for a condition; the limit only keeps a broken program from hanging the test.
template <typename Condition> bool waitFor(Condition condition, int limitMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

int filesIn(const QString& folder) {
    return static_cast<int>(QDir(folder + "/new").entryList(QDir::Files).size() +
                            QDir(folder + "/cur").entryList(QDir::Files).size());
}

class TrayProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        home = dir.path() + "/home";
        maildir = dir.path() + "/Maildir";
        runtime = dir.path() + "/run";
        QDir().mkpath(home);
        QDir().mkpath(runtime);
        ASSERT_EQ(createStoreRoot(maildir.toStdString()), S_OK);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        shellFixture::copyStrings(home.toStdString());
    }
    void TearDown() override {
        for (QProcess* process : {&first, &second}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(10000))
                process->kill();
            process->waitForFinished(10000);
        }
    }
    void start(QProcess& process, const QStringList& arguments, const QString& changes = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", runtime);
        environment.insert("BREVALO_HOME", home);
        environment.insert("MAILDIR", maildir);
        environment.insert("BREVALO_SENDMAIL", sendmail);
        // The tests follow the program by its diagnostic lines.
        environment.insert("BREVALO_DEBUG", "1");
        for (const QString& change : changes.split(' ', Qt::SkipEmptyParts)) // "A=1 B="
            environment.insert(change.section('=', 0, 0), change.section('=', 1));
        process.setProcessEnvironment(environment);
        process.setProgram(QString(BREVALO_BIN_DIR) + "/brevalo");
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    QString socketPath() const { return runtime + "/__zelko.show"; }
    // Up: the instance listens for show requests, which it does once the window exists
    // and the notifications are registered.
    bool up() {
        return waitFor([this] {
                   return QFile::exists(socketPath()) || first.state() == QProcess::NotRunning;
               }) &&
               first.state() == QProcess::Running;
    }

    QTemporaryDir dir;
    QString home, maildir, runtime;
    QString sendmail = "/bin/false";
    QProcess first, second;
};

TEST_F(TrayProgram, SecondStartShowsTheFirstsWindowAndExitsWithZero) {
    start(first, {"-hide"});
    ASSERT_TRUE(up()) << first.readAllStandardError().toStdString();

    start(second, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    EXPECT_EQ(first.state(), QProcess::Running);
    QByteArray log;
    EXPECT_TRUE(waitFor([&] {
        log += first.readAllStandardError();
        return log.contains("wmZelkoShow");
    })) << log.toStdString();
    // Anything else on the socket is no show request.
    ASSERT_TRUE(ShowRequestServer::send(socketPath(), 1035));
    EXPECT_EQ(first.state(), QProcess::Running);

    // The end of the session ends the program as "Exit" does.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(socketPath()));
}

TEST_F(TrayProgram, ArrivingMessageIsMovedToItsTargetFolder) {
    shellFixture::writeLearnedNet(home.toStdString(), maildir.toStdString());
    start(first, {"-hide"});
    ASSERT_TRUE(up()) << first.readAllStandardError().toStdString();

    shellFixture::deliver(maildir.toStdString(), shellFixture::invoiceMessage(42),
                          "1800000000.M1P1.arrived");
    QString target = maildir + "/.Brevalo.Sorted.Invoices";
    QByteArray log;
    bool sorted = waitFor([&] {
        log += first.readAllStandardError();
        return filesIn(target) == 1 && filesIn(maildir) == 0;
    });
    EXPECT_TRUE(sorted) << log.toStdString();
    EXPECT_EQ(filesIn(maildir + "/.Brevalo.Sorted.Meetings"), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
}

// Mail delivered while the program was not running is sorted at its next start, before
// it waits for notifications; what was in the inbox at the very first start stays.
TEST_F(TrayProgram, SortsWhatArrivedWhileItWasNotRunning) {
    shellFixture::writeLearnedNet(home.toStdString(), maildir.toStdString());
    shellFixture::deliver(maildir.toStdString(), shellFixture::invoiceMessage(1),
                          "1800000000.M1P1.before");
    QString target = maildir + "/.Brevalo.Sorted.Invoices";
    const char* stopped = "1800000001.M1P1.stopped";
    for (const char* delivered : {static_cast<const char*>(nullptr), stopped}) {
        if (delivered)
            shellFixture::deliver(maildir.toStdString(), shellFixture::invoiceMessage(2),
                                  delivered);
        start(first, {"-hide"});
        ASSERT_TRUE(up()) << first.readAllStandardError().toStdString();
        QByteArray log;
        bool settled = waitFor([&] {
            log += first.readAllStandardError();
            return log.contains(delivered ? "ZELKO: jobvariant 1" : "inbox mark: first start");
        });
        first.terminate();
        ASSERT_TRUE(first.waitForFinished(20000));
        EXPECT_TRUE(settled) << log.toStdString();
        EXPECT_EQ(filesIn(maildir), 1); // the message of before the first start
        EXPECT_EQ(filesIn(target), delivered ? 1 : 0);
    }
}

// An answer whose sending failed is tried once more at the next start (the message lies
// below the inbox mark by then) and the message then leaves the inbox.
TEST_F(TrayProgram, TriesAFailedAnswerOnceMoreAtTheNextStart) {
    shellFixture::writeLearnedNet(home.toStdString(), maildir.toStdString());
    NetFile settings(home.toStdString() + "/zelko.ini");
    ASSERT_TRUE(settings.writeInt("settings", "jobvariant", 3));
    ASSERT_TRUE(settings.writeText("settings", "from", "sorter@home.example"));
    QString recorded = dir.path() + "/answer.eml";
    QString script = dir.path() + "/sendmail";
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\ncat > '" + recorded + "'\n").toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    for (bool failing : {true, false}) {
        sendmail = failing ? "/bin/false" : script;
        start(first, {"-hide"});
        ASSERT_TRUE(up()) << first.readAllStandardError().toStdString();
        if (failing)
            shellFixture::deliver(maildir.toStdString(), shellFixture::invoiceMessage(7),
                                  "1800000000.M1P1.arrived");
        QByteArray log;
        bool settled = waitFor([&] {
            log += first.readAllStandardError();
            return failing ? log.contains("it is tried once more at the next start")
                           : filesIn(maildir) == 0;
        });
        first.terminate();
        ASSERT_TRUE(first.waitForFinished(20000));
        EXPECT_TRUE(settled) << log.toStdString();
        EXPECT_EQ(filesIn(maildir), failing ? 1 : 0);
    }
    QFile answer(recorded);
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    EXPECT_TRUE(answer.readAll().contains("\nTo: sender@example.org\n"));
}

// A signal ends it while a question box (create the store?) is open; nothing is created.
TEST_F(TrayProgram, TerminateEndsItWhileAQuestionBoxIsOpen) {
    start(first, {}, "MAILDIR= HOME=" + home);
    QByteArray log;
    ASSERT_TRUE(waitFor([&] { return (log += first.readAllStandardError()).contains("asking"); }));
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QDir(home + "/Maildir").exists());
}

// Starts that end at once: help on standard output, else why on standard error.
struct HelpCase {
    const char* name;
    QStringList arguments;
    int status = 0;
    const char* output = "Usage: brevalo [-hide]";
    QString environment = {};
};

class TrayHelp : public TrayProgram, public testing::WithParamInterface<HelpCase> {};

TEST_P(TrayHelp, PrintsTheUsageAndExitsWithoutStarting) {
    start(first, GetParam().arguments, GetParam().environment);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), GetParam().status);
    QString output =
        GetParam().status == 0 ? first.readAllStandardOutput() : first.readAllStandardError();
    EXPECT_TRUE(output.startsWith(GetParam().output)) << output.toStdString();
    EXPECT_EQ(output.count('\n') == 1, GetParam().status == 1) << output.toStdString();
    EXPECT_FALSE(QFile::exists(socketPath()));
}

INSTANTIATE_TEST_SUITE_P(
    Options, TrayHelp,
    testing::ValuesIn(std::vector<HelpCase>{
        {"long", {"--help"}},
        {"short", {"-h"}},
        {"after_hide", {"-hide", "--help"}},
        {"double_dash_hide", {"--hide"}, 64, "brevalo: unknown option --hide\n\nUsage: brevalo"},
        {"bogus", {"-hide", "--bogus"}, 64, "brevalo: unknown option --bogus\n\nUsage: brevalo"},
        {"headless", {}, 1, "brevalo: no display", "QT_QPA_PLATFORM= DISPLAY= WAYLAND_DISPLAY="}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
