#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using namespace koru::test;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

// On a real X server, Ctrl+Shift+1 reaches the program as Ctrl+Shift+'!' on a US keyboard: the
// workspace stored with key "1" and Ctrl+Shift must still be recalled, from an instrument window.
TEST(WorkspaceShortcut, CtrlShiftDigitRecallsTheWorkspaceFromAnInstrumentWindow) {
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());
    ASSERT_TRUE(account.acceptLicence());

    const QVariantMap left =
        sessionInstrument("KOFFTController", "Left", true, "8C1E4A52-0000-4000-8000-000000000001");
    const QVariantMap right =
        sessionInstrument("KOFFTController", "Right", true, "8C1E4A52-0000-4000-8000-000000000002");
    const QVariantMap workspace{
        {"Workspace.Name", "Only Left"},
        {"Workspace.Key", "1"},
        {"Workspace.Modifier", qint64(Qt::ControlModifier | Qt::ShiftModifier)},
        {"Workspace.KeyCode", qint64(Qt::Key_1)},
        {"Workspace.Session", QVariantMap{{"KORU.ActiveInstruments", QVariantList{left}}}},
    };
    const QString session = account.folder("home") + "/stage.kosession";
    ASSERT_TRUE(
        PropertyList::write(session,
                            QVariantMap{{"KORU.ActiveInstruments", QVariantList{left, right}},
                                        {"KORU.Workspaces", QVariantList{workspace}},
                                        {"KORU.MainWindow.Visible", true}},
                            PlistFormat::Xml));

    QProcess koru;
    koru.setProcessEnvironment(account.environment(display.name()));
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {session});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    // Waits for a window of that title to be mapped; false when none came.
    const auto waitForWindow = [&](const QString& wanted) {
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired()) {
            const auto [window, title] = windows.nextMappedWindow(int(deadline.remainingTime()));
            if (window == 0)
                return false;
            if (title == wanted)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitForWindow("Right")) << koru.readAll().toStdString();
    // Start-up is over (and SIGTERM handled) once the run has stored its identity.
    const QString started = account.waitForStartUp(koru);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();

    // Click into the "Right" window (with no window manager the keyboard follows the pointer),
    // then press the shortcut through the X server's test extension, as a keyboard would.
    const auto run = [&](const QStringList& arguments) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display.name());
        tool.setProcessEnvironment(environment);
        tool.start(xdotool, arguments);
        EXPECT_TRUE(tool.waitForFinished(kStartTimeoutMs));
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    };
    const QString rightWindow = run({"search", "--name", "^Right$"}).section('\n', 0, 0);
    ASSERT_FALSE(rightWindow.isEmpty());
    run({"mousemove", "--window", rightWindow, "40", "40", "click", "1"});
    run({"key", "ctrl+shift+1"});

    // The recall closes both and restores "Left" from the workspace: its window comes again.
    EXPECT_TRUE(waitForWindow("Left")) << "the shortcut recalled nothing; KORU said:\n"
                                       << koru.readAll().toStdString();

    koru.terminate();
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU did not quit";
    QStringList saved = filesBelow(account.folder("data") + "/KORU");
    saved.removeIf([](const QString& path) { return !path.endsWith(".kosession"); });
    ASSERT_EQ(saved.size(), 1) << saved.join(", ").toStdString();
    const QVariantMap written = PropertyList::read(saved.front()).value.toMap();
    QStringList open;
    for (const QVariant& entry : written.value("KORU.ActiveInstruments").toList())
        open << entry.toMap().value("InstrumentController.Name").toString();
    EXPECT_EQ(open, QStringList({"Left"}));
    EXPECT_EQ(written.value("KORU.Workspace.Current").toInt(), 0);
}

} // namespace
