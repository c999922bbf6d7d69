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

// The real program handed a session with an SPL meter: the meter's window opens under its
// saved name, and at quit KORU writes the session (the meter with its calibration) and the
// calibration store.
TEST(SplMeterWindow, ASessionWithAMeterOpensItAndQuitSavesItAndTheCalibrationStore) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());
    ASSERT_TRUE(account.acceptLicence());
    const QString session = account.folder("home") + "/meter.kosession";
    QVariantMap meter = sessionInstrument("KOSplController", "SPL Meter 1");
    meter.insert("SPL.Calib", 94.5);
    meter.insert("SPL.Weighting", qint64(0x635f7774)); // 'c_wt'
    const QVariantMap file{{"KORU.ActiveInstruments", QVariantList{meter}}};
    ASSERT_TRUE(PropertyList::write(session, file, PlistFormat::Xml));

    QProcess koru;
    koru.setProcessEnvironment(account.environment(display.name()));
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {session});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    bool shown = false;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!shown && !deadline.hasExpired()) {
        const auto [window, title] = windows.nextMappedWindow(int(deadline.remainingTime()));
        if (window == 0)
            break;
        shown = title == "SPL Meter 1";
    }
    EXPECT_TRUE(shown) << "KORU said:\n" << koru.readAll().toStdString();

    // Start-up is over (and SIGTERM handled) once the run has stored its identity.
    const QString started = account.waitForStartUp(koru);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();
    koru.terminate();
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU did not quit";
    const std::string output = koru.readAll().toStdString();
    EXPECT_EQ(koru.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(koru.exitCode(), 0) << output;

    const QString data = account.folder("data") + "/KORU";
    QStringList saved = filesBelow(data);
    saved.removeIf([](const QString& path) { return !path.endsWith(".kosession"); });
    ASSERT_EQ(saved.size(), 1) << saved.join(", ").toStdString();
    const auto read = PropertyList::read(saved.front());
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    const QVariantList open = read.value.toMap().value("KORU.ActiveInstruments").toList();
    ASSERT_EQ(open.size(), 1);
    const QVariantMap restored = open[0].toMap();
    EXPECT_EQ(restored.value("KOType").toString(), "KOSplController");
    EXPECT_EQ(restored.value("InstrumentController.Name").toString(), "SPL Meter 1");
    EXPECT_EQ(restored.value("SPL.Calib").toDouble(), 94.5);
    EXPECT_EQ(restored.value("SPL.Weighting").toLongLong(), 0x635f7774);

    const auto store = PropertyList::read(data + "/spl_calibration.bin");
    ASSERT_TRUE(store.ok()) << store.error.toStdString();
    EXPECT_EQ(store.value.typeId(), QMetaType::QVariantList);
}

} // namespace
