#include "DesktopSession.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

using namespace koru::test;

// A first start on a fresh account where the user closes the licence window instead of
// agreeing: KORU quits at once, and leaves no file behind (no defaults, no session, no log).
TEST(LicenceDecline, ClosingTheAgreementOnAFirstStartQuitsWithoutWritingAFile) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());

    QProcess koru;
    koru.setProcessEnvironment(account.environment(display.name()));
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    // The agreement is the first window KORU shows.
    const auto [window, title] = windows.nextMappedWindow(kStartTimeoutMs);
    ASSERT_NE(window, 0u) << "no window appeared; KORU said:\n" << koru.readAll().toStdString();
    EXPECT_TRUE(title.startsWith(QStringLiteral("KORU Licence Agreement"))) << title.toStdString();

    windows.close(window);
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU kept running after declining";
    const std::string output = koru.readAll().toStdString();
    EXPECT_EQ(koru.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(koru.exitCode(), 0) << output;

    for (const char* sub : {"home", "config", "data", "state"})
        EXPECT_EQ(filesBelow(account.folder(sub)), QStringList()) << sub;
}

} // namespace
