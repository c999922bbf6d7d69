#include "app/KODataExporter.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "spl/ui/KOSPLHistoryView.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "spl/ui/KOSPLLoggingController.h"
#include "support/TestSupport.h"
#include "utility/VEDate.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using koru::test::ScopedLocale;

namespace {

constexpr std::uint32_t kSlow = 1936486263;
constexpr std::uint32_t kA = 1633646452;

bool isBlue(QRgb pixel) {
    const QColor colour(pixel);
    return colour.hsvHue() >= 190 && colour.hsvHue() <= 230 && colour.hsvSaturation() > 100;
}

int countIn(const QImage& image, const QRect& rect, bool (*test)(QRgb)) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.valid(x, y) && test(image.pixel(x, y)))
                ++count;
    return count;
}

std::shared_ptr<KOSPLLog> makeLog(const QString& name, int count, float spl) {
    auto log = std::make_shared<KOSPLLog>();
    log->setName(name);
    log->setWeight(kA);
    log->setSpeed(kSlow);
    for (int i = 0; i < count; ++i)
        log->addSPL(spl, spl - 5.0f, spl + 10.0f,
                    VEDate::dateWithTimeIntervalSinceReferenceDate(800000000.0 + i));
    return log;
}

class SplLoggingWindow : public ::testing::Test {
protected:
    QTemporaryDir mFolder;
    KOSPLLogStore mStore{mFolder.path()};
};

// The selected log is plotted: a log at 80 dB fills the history view's right end up to the 80-dB
// height and nothing above it; the newest log is selected when the window opens.
TEST_F(SplLoggingWindow, TheSelectedLogIsPlottedAtItsLevel) {
    mStore.addLog(makeLog(QStringLiteral("quiet"), 300, 50.0f));
    mStore.addLog(makeLog(QStringLiteral("loud"), 300, 80.0f));
    KOSPLLoggingController controller(mStore);
    controller.window()->resize(760, 300);
    controller.showWindow();
    ASSERT_EQ(controller.list()->count(), 2);
    ASSERT_EQ(controller.selectedLog(), mStore.logs()[1]);
    KOSPLHistoryView* view = controller.historyView();
    ASSERT_EQ(view->splLog(), mStore.logs()[1]);

    const auto plotted = [&] {
        return view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const int h = view->height();
    const auto y = [h](double db) { return int(h - (db - 30.0) * h / 100.0); };
    const int right = int(view->xForDataPosition(299)) - 5;
    QImage image = plotted();
    EXPECT_GT(countIn(image, QRect(right - 100, y(80) + 4, 100, y(30) - y(80) - 8), isBlue),
              100 * (y(30) - y(80) - 8) * 9 / 10);
    EXPECT_EQ(countIn(image, QRect(right - 100, y(90) + 4, 100, y(80) - y(90) - 8), isBlue), 0);

    controller.selectLogAtIndex(0);
    image = plotted();
    EXPECT_EQ(countIn(image, QRect(right - 100, y(70), 100, y(50) - y(70) - 4), isBlue), 0);
    EXPECT_GT(countIn(image, QRect(right - 100, y(50) + 4, 100, y(30) - y(50) - 8), isBlue), 0);
}

// Scrolling shows the part of the log scrolled to: a log whose first half is at 50 dB and second
// at 80 dB reads 80 dB at the right end and 50 dB at the left, one record per point, over the
// whole visible height (the view takes the viewport's height, scroll bar and all); zoomed out to
// the whole log, each point holds its records' maximum.
TEST_F(SplLoggingWindow, ScrollingAndZoomingPlotThePartOfTheLogInView) {
    auto log = makeLog(QStringLiteral("halves"), 0, 0.0f);
    for (int i = 0; i < 4000; ++i) {
        const float level = i < 2000 ? 50.0f : 80.0f;
        log->addSPL(level, level, level, VEDate::dateWithTimeIntervalSinceReferenceDate(8e8 + i));
    }
    mStore.addLog(log);
    KOSPLLoggingController controller(mStore);
    controller.window()->resize(760, 300);
    controller.showWindow();
    KOSPLHistoryView* view = controller.historyView();
    auto* area = qobject_cast<QScrollArea*>(view->parentWidget()->parentWidget());
    ASSERT_NE(area, nullptr);
    const int h = view->height();
    const auto y = [h](double db) { return int(h - (db - 30.0) * h / 100.0); };
    // Blue between two levels, over the visible part's middle.
    const auto blueBetween = [&](double low, double high) {
        QCoreApplication::processEvents();
        const QRectF visible = view->visibleRect();
        const QImage image = view->grab(visible.toRect()).toImage();
        const QRect band(int(visible.width() / 2) - 50, y(high) + 3, 100, y(low) - y(high) - 6);
        return countIn(image, band, isBlue) > band.width() * band.height() * 9 / 10;
    };
    area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum());
    EXPECT_TRUE(blueBetween(50.0, 80.0));
    area->horizontalScrollBar()->setValue(0);
    EXPECT_FALSE(blueBetween(50.0, 80.0));
    EXPECT_TRUE(blueBetween(40.0, 50.0)); // above the time axis' labels

    // The whole log in view: the middle of the plot straddles both halves, groups hold maxima.
    controller.zoomSlider()->setValue(180);
    ASSERT_LE(view->width(), area->viewport()->width());
    const QImage image = view->grab().toImage();
    const int rightEnd = int(view->xForDataPosition(3999)) - 3;
    EXPECT_TRUE(isBlue(image.pixel(rightEnd, y(75.0))));
    EXPECT_FALSE(isBlue(image.pixel(rightEnd, y(85.0))));
}

// Deleting in the window removes the log from the list and from the store at once.
TEST_F(SplLoggingWindow, DeletingInTheWindowReachesTheStore) {
    for (const char* name : {"a", "b", "c"})
        mStore.addLog(makeLog(QString::fromLatin1(name), 70, 70.0f));
    KOSPLLoggingController controller(mStore);
    controller.selectLogAtIndex(1);
    controller.deleteSelectedLogs();
    ASSERT_EQ(controller.list()->count(), 2);
    ASSERT_TRUE(mStore.waitUntilSaved());
    const auto after = KOSPLLogStore(mFolder.path()).logs();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0]->name(), QStringLiteral("a"));
    EXPECT_EQ(after[1]->name(), QStringLiteral("c"));
    EXPECT_NE(controller.historyView()->splLog(), nullptr);
}

// The zoom slider sets records per point (speed 1/value) and follows zooms made in the view.
TEST_F(SplLoggingWindow, TheZoomSliderAndTheViewsSpeedFollowEachOther) {
    mStore.addLog(makeLog(QStringLiteral("z"), 4000, 70.0f));
    KOSPLLoggingController controller(mStore);
    controller.window();
    for (int value : {1, 10, 60, 180}) {
        SCOPED_TRACE(value);
        controller.zoomSlider()->setValue(value);
        EXPECT_DOUBLE_EQ(controller.historyView()->speed(), 1.0 / value);
    }
    controller.historyViewDidChangeSpeed(0.25f);
    EXPECT_EQ(controller.zoomSlider()->value(), 4);
}

// A log's CSV export, byte for byte, in the locale the exporter formats with: the time in its long
// time style, the levels always with a decimal point (the comma separates the columns).
TEST_F(SplLoggingWindow, ACsvExportIsByteForByteWhatTheLogHolds) {
    qputenv("TZ", "UTC");
    tzset();
    auto log = std::make_shared<KOSPLLog>();
    log->setWeight(kA);
    log->setSpeed(kSlow);
    const QDateTime start(QDate(2026, 12, 11), QTime(21, 5, 0), Qt::UTC);
    const float levels[] = {85.25f, 91.5f, 88.0f, 79.75f};
    for (int i = 0; i < 4; ++i)
        log->addSPL(levels[i], 80.0f + float(i), 90.0f, start.addSecs(i));
    log->setSelectionRange(0, 4);
    const std::pair<const char*, std::string> cases[] = {
        {"C", "Time,SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]\n"
              "9:05:01\xE2\x80\xAFPM UTC,91.5,81.0,90.0\n"
              "9:05:03\xE2\x80\xAFPM UTC,88.0,83.0,90.0\n"},
        {"de_DE.UTF-8", "Time,SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]\n"
                        "21:05:01 UTC,91.5,81.0,90.0\n"
                        "21:05:03 UTC,88.0,83.0,90.0\n"},
    };
    for (const auto& [locale, expected] : cases) {
        SCOPED_TRACE(locale);
        ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        auto source = std::make_shared<KOSPLLogExportSource>(log);
        source->setExportOptions({{"exportRange", 2}});
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("log.csv"));
        ASSERT_FALSE(KODataExporter::exporterWithDataSource(source)->startExportCsvToURL(
            QUrl::fromLocalFile(path)));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().toStdString(), expected);
    }
}

// The window opens at once over a store that still loads, says so, and lists the logs once
// they arrive; the newest is shown.
TEST(SplLoggingWindowLoading, TheLogsAppearWhenTheStoreHasLoaded) {
    QTemporaryDir folder;
    {
        KOSPLLogStore store(folder.path());
        store.addLog(makeLog(QStringLiteral("old"), 5000, 60.0f));
        store.addLog(makeLog(QStringLiteral("new"), 100, 70.0f));
    }
    KOSPLLogStore store(folder.path(), KOSPLLogStore::Loading::InBackground);
    KOSPLLoggingController controller(store);
    controller.window();
    store.waitUntilLoaded();
    ASSERT_TRUE(store.waitUntilSaved());
    // The announcement crosses to this thread as an event.
    QCoreApplication::processEvents();
    ASSERT_EQ(controller.list()->count(), 2);
    EXPECT_TRUE(controller.loadingLabel()->isHidden());
    ASSERT_NE(controller.selectedLog(), nullptr);
    EXPECT_EQ(controller.selectedLog()->name(), QStringLiteral("new"));
    EXPECT_EQ(controller.historyView()->splLog(), controller.selectedLog());
}

} // namespace
