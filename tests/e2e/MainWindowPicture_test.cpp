#include "DesktopSession.h"

#include "platform/plist/PropertyList.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace {

using namespace koru::test;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

bool isIcon(QRgb pixel) {
    return qBlue(pixel) > qRed(pixel) + 50;
}
// A table's base and its alternate rows; the window's own background is darker.
bool isWhite(QRgb pixel) {
    return qGray(pixel) >= 245;
}
bool isText(QRgb pixel) {
    return qGray(pixel) < 100;
}

// Counts the pixels of `rect` (clipped to the image) that `test` accepts.
template <typename Test> int count(const QImage& image, QRect rect, Test test) {
    rect &= image.rect();
    int found = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            found += test(image.pixel(x, y)) ? 1 : 0;
    return found;
}

// The table's viewport in `half` of the window: the tallest run of rows that are mostly white.
QRect whiteArea(const QImage& image, QRect half) {
    QRect best;
    QRect current;
    for (int y = half.top(); y <= half.bottom(); ++y) {
        const int whites = count(image, QRect(half.left(), y, half.width(), 1), isWhite);
        if (whites > half.width() / 2) {
            current = current.isNull() ? QRect(half.left(), y, half.width(), 1)
                                       : current.adjusted(0, 0, 0, 1);
            if (current.height() > best.height())
                best = current;
        } else {
            current = {};
        }
    }
    return best;
}

// The real program on its own X server: the main window shows its toolbar (the add-instrument
// item on the left, audio settings and preferences on the right) and the two tables, the open
// instruments listed by name.
TEST(MainWindowPicture, ShowsTheToolbarAndTheTwoTablesWithTheOpenInstruments) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    WindowWatcher windows(display.name());
    ASSERT_TRUE(windows.ready());
    TestAccount account;
    ASSERT_TRUE(account.valid());
    ASSERT_TRUE(account.acceptLicence());
    const QString session = account.folder("home") + "/two.kosession";
    ASSERT_TRUE(PropertyList::write(
        session,
        QVariantMap{{"KORU.ActiveInstruments",
                     QVariantList{sessionInstrument("KOFFTController", "Left", false),
                                  sessionInstrument("KOFFTController", "Right", false)}},
                    {"KORU.MainWindow.Visible", true}},
        PlistFormat::Xml));

    QProcess koru;
    koru.setProcessEnvironment(account.environment(display.name()));
    koru.setProcessChannelMode(QProcess::MergedChannels);
    koru.start(QStringLiteral(KORU_PROGRAM), {session});
    ASSERT_TRUE(koru.waitForStarted(kStartTimeoutMs));

    xcb_window_t main = 0;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (main == 0 && !deadline.hasExpired()) {
        const auto [window, title] = windows.nextMappedWindow(int(deadline.remainingTime()));
        if (title == QStringLiteral("KORU") && !windows.isDialog(window))
            main = window;
    }
    ASSERT_NE(main, 0u) << "no main window; KORU said:\n" << koru.readAll().toStdString();

    // The window is mapped before it is painted, and the session's rows come after start-up:
    // wait until both tables hold their rows, or give up at the start-up limit.
    QImage picture;
    QRect instruments;
    QRect history;
    const QDeadlineTimer painted(kStartTimeoutMs);
    for (;;) {
        picture = windows.grab(main);
        ASSERT_FALSE(picture.isNull());
        const int width = picture.width();
        const int height = picture.height();
        instruments = whiteArea(picture, QRect(0, height / 5, width / 2, height * 4 / 5));
        history = whiteArea(picture, QRect(width / 2, height / 5, width / 2, height * 4 / 5));
        if (!instruments.isNull() && count(picture, instruments, isText) > 40)
            break;
        ASSERT_FALSE(painted.hasExpired())
            << "the instrument table never showed its rows; KORU said:\n"
            << koru.readAll().toStdString();
        QThread::msleep(50);
    }
    const int width = picture.width();
    const int height = picture.height();

    // Toolbar: icons in the band under the menu bar, at both ends.
    const QRect band(0, 0, width, height / 6);
    EXPECT_GT(count(picture, band.adjusted(0, 0, -width * 3 / 4, 0), isIcon), 20)
        << "no add-instrument item at the left of the toolbar";
    EXPECT_GT(count(picture, band.adjusted(width * 3 / 4, 0, 0, 0), isIcon), 20)
        << "no settings items at the right of the toolbar";

    // Tables: a white viewport in each half, tall enough to be a table; rows of text only in the
    // instruments' (the history is empty), one name under the other.
    EXPECT_GT(instruments.height(), height / 3);
    EXPECT_GT(history.height(), height / 3);
    EXPECT_EQ(count(picture, history.adjusted(2, 2, -2, -2), isText), 0);
    int textRows = 0;
    bool inRow = false;
    for (int y = instruments.top(); y <= instruments.bottom(); ++y) {
        const bool text =
            count(picture, QRect(instruments.left(), y, instruments.width(), 1), isText) > 0;
        textRows += text && !inRow ? 1 : 0;
        inRow = text;
    }
    EXPECT_EQ(textRows, 2) << "expected the rows Left and Right";
    if (HasFailure())
        picture.save(account.folder("home") + "/main-window.png");

    koru.terminate();
    ASSERT_TRUE(koru.waitForFinished(kStartTimeoutMs)) << "KORU did not quit";
}

} // namespace
