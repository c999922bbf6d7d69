#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using namespace koru::test;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

// The real program on a display of its own, handed a session file that names both analyser
// kinds: both windows open, and the session KORU saves when it quits holds both with their
// measurements.
TEST(AnalyserWindows, ASessionNamingBothKindsOpensBothWindowsAndSavesThem) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());
    ASSERT_TRUE(account.acceptLicence());
    const QString session = account.folder("home") + "/analysers.kosession";
    const QVariantMap file{
        {"KORU.ActiveInstruments",
         QVariantList{sessionInstrument("KOFFTController", "Spectrum Analyzer"),
                      sessionInstrument("KOSpectralHistoryController", "Spectral History")}}};
    ASSERT_TRUE(PropertyList::write(session, file, PlistFormat::Xml));

    QProcess koru;
    koru.setProcessEnvironment(account.environment(display.name()));
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {session});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    QStringList wanted{"Spectrum Analyzer", "Spectral History"};
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!wanted.isEmpty() && !deadline.hasExpired()) {
        const auto [window, title] = windows.nextMappedWindow(int(deadline.remainingTime()));
        if (window == 0)
            break;
        wanted.removeAll(title);
    }
    EXPECT_TRUE(wanted.isEmpty()) << "never shown: " << wanted.join(", ").toStdString()
                                  << "\nKORU said:\n"
                                  << koru.readAll().toStdString();

    // Start-up is over (and SIGTERM handled) once the run has stored its identity.
    const QString started = account.waitForStartUp(koru);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();
    koru.terminate();
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU did not quit";
    const std::string output = koru.readAll().toStdString();
    EXPECT_EQ(koru.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(koru.exitCode(), 0) << output;

    QFile log(account.folder("state") + "/KORU/KORU.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    EXPECT_FALSE(logText.contains("unknown kind"));
    QStringList saved = filesBelow(account.folder("data") + "/KORU");
    saved.removeIf([](const QString& path) { return !path.endsWith(".kosession"); });
    ASSERT_EQ(saved.size(), 1) << saved.join(", ").toStdString() << logText.toStdString();
    const auto read = PropertyList::read(saved.front());
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    QStringList kinds;
    for (const QVariant& entry : read.value.toMap().value("KORU.ActiveInstruments").toList()) {
        const QVariantMap dictionary = entry.toMap();
        kinds << dictionary.value("KOType").toString();
        const char* measurement = kinds.last() == "KOFFTController" ? "instrumentData" : "analyzer";
        EXPECT_FALSE(dictionary.value(measurement).toByteArray().isEmpty()) << measurement;
    }
    EXPECT_EQ(kinds, (QStringList{"KOFFTController", "KOSpectralHistoryController"}));
}

} // namespace
