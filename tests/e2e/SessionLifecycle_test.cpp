#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using namespace koru::test;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

class SessionLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!display.started())
            GTEST_SKIP() << "Xvfb could not be started";
        ASSERT_TRUE(windows.ready());
        ASSERT_TRUE(account.valid());
        // The licence was agreed to on an earlier day.
        ASSERT_TRUE(PropertyList::write(defaultsPath(), QVariantMap{{"sla_accept", true}},
                                        PlistFormat::Xml));
    }

    QString defaultsPath() const { return account.folder("config") + "/KORU/defaults.plist"; }
    QString logText() const {
        QFile log(account.folder("state") + "/KORU/KORU.log");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }
    QString rememberedRun() const {
        return PropertyList::read(defaultsPath()).value.toMap().value("LastSessionID").toString();
    }
    QStringList sessionFiles() const {
        QStringList files = filesBelow(account.folder("data") + "/KORU");
        files.removeIf([](const QString& path) { return !path.endsWith(".kosession"); });
        return files;
    }
    QString sessionIDInFile() const {
        const QStringList files = sessionFiles();
        if (files.size() != 1)
            return {};
        return PropertyList::read(files.front()).value.toMap().value("KORU.SessionID").toString();
    }

    void start() {
        koru.setProcessEnvironment(account.environment(display.name()));
        koru.setProcessChannelMode(QProcess::MergedChannels);
        koru.start(QStringLiteral(KORU_PROGRAM), {});
        ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));
    }
    // Start-up is through once the run has stored its own identity, which comes after the
    // question about the last session.
    void waitForNewRun(const QString& previous) {
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (rememberedRun() == previous || rememberedRun().isEmpty()) {
            ASSERT_FALSE(deadline.hasExpired()) << "start-up never finished";
            ASSERT_EQ(koru.state(), QProcess::Running) << koru.readAll().toStdString();
            QThread::msleep(20);
        }
    }
    void quitBySignal() {
        koru.terminate(); // SIGTERM
        ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU did not quit";
        const std::string output = koru.readAll().toStdString();
        EXPECT_EQ(koru.exitStatus(), QProcess::NormalExit) << output;
        EXPECT_EQ(koru.exitCode(), 0) << output;
    }

    VirtualDisplay display;
    WindowWatcher windows{display.name()};
    TestAccount account;
    QProcess koru;
};

TEST_F(SessionLifecycle, AQuitBySignalSavesTheSessionAndOnlyAKilledRunIsAskedAbout) {
    // A first run, quit by SIGTERM: the session and the log lines are there.
    start();
    waitForNewRun({});
    const auto [mainWindow, title] = windows.nextMappedWindow(kStartTimeoutMs);
    EXPECT_EQ(title, "KORU");
    quitBySignal();
    ASSERT_EQ(sessionFiles().size(), 1);
    const QString firstRun = rememberedRun();
    EXPECT_EQ(sessionIDInFile(), firstRun);
    QString log = logText();
    EXPECT_EQ(log.count("Hi! Here is KORU "), 1);
    EXPECT_EQ(log.count("received signal 15, quitting"), 1);
    EXPECT_EQ(log.count("successfully saved the current session to " + sessionFiles().front() +
                        "\nSee you soon, KORU."),
              1)
        << log.toStdString();

    // The second run reads it back without asking (a question would hold start-up).
    start();
    waitForNewRun(firstRun);
    quitBySignal();
    const QString secondRun = rememberedRun();
    log = logText();
    EXPECT_EQ(log.count("I will try restore the last session from "), 1);
    EXPECT_EQ(log.count("does not match session UID in preferences"), 0);

    // A run killed before any automatic save...
    start();
    waitForNewRun(secondRun);
    const QString killedRun = rememberedRun();
    koru.kill();
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs));
    EXPECT_NE(sessionIDInFile(), killedRun);

    // ...makes the next start ask; closing the question answers "Do not load".
    start();
    xcb_window_t question = 0;
    while (!question) {
        const auto [window, windowTitle] = windows.nextMappedWindow(kStartTimeoutMs);
        ASSERT_NE(window, 0u) << "no question came; KORU said:\n" << koru.readAll().toStdString();
        if (windows.isDialog(window))
            question = window;
    }
    EXPECT_EQ(rememberedRun(), killedRun) << "start-up went on past the question";
    windows.close(question);
    waitForNewRun(killedRun);
    quitBySignal();
    log = logText();
    EXPECT_EQ(log.count("does not match session UID in preferences"), 1);
    EXPECT_EQ(log.count("I will try restore the last session from "), 2);
    EXPECT_EQ(sessionIDInFile(), rememberedRun());
}

} // namespace
