#include "app/ExporterPanelModel.h"
#include "app/KODataExporter.h"
#include "spl/KOSPLLog.h"
#include "spl/ui/KOSPLLogExportSource.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>

#include <gtest/gtest.h>

#include <ctime>

namespace {

QString csvOf(const std::shared_ptr<KODataExporting>& source) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("log.csv"));
    auto exporter = KODataExporter::exporterWithDataSource(source);
    if (exporter->startExportCsvToURL(QUrl::fromLocalFile(path)))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A C-weighted log of 25 seconds: the whole log in groups of 10 gives three rows of maxima under
// "dB(C)" columns, the first group's latest time in the long time style; a selection limits it.
TEST(SplLogExport, RowsAreGroupMaximaOfTheSelectionInTheLogsWeighting) {
    auto log = std::make_shared<KOSPLLog>();
    log->setWeight(0x635f7774); // 'c_wt'
    const QDateTime start(QDate(2026, 5, 6), QTime(7, 8, 9), QTimeZone::systemTimeZone());
    for (int i = 0; i < 25; ++i)
        log->addSPL(float(70 + i % 10) + 0.375f, 60.5f, float(90 - i), start.addSecs(i));
    auto source = std::make_shared<KOSPLLogExportSource>(log);
    EXPECT_TRUE(source->canExportData());
    EXPECT_EQ(source->exportOptions()->value("exportRange").toUInt(), 1u);
    ASSERT_EQ(source->availableExportRanges()->size(), 5u);
    EXPECT_EQ(source->availableExportRanges()->at(4).name, "10min");
    source->setExportOptions({{"exportRange", 10}});

    const QStringList lines = csvOf(source).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "Time,SPL [dB(C)],AVG [dB(C)],LEQ [dB(C)]");
    // The group's latest time, in the exporter's long time style.
    EXPECT_TRUE(lines[1].section(',', 0, 0).contains(start.addSecs(9).toString("h:mm:ss")))
        << lines[1].toStdString();
    EXPECT_EQ(lines[1].section(',', 1), "79.4,60.5,90.0");
    EXPECT_TRUE(lines[3].endsWith(",74.4,60.5,70.0")) << lines[3].toStdString();

    log->setSelectionRange(20, 3);
    source->setExportOptions({{"exportRange", 1}});
    const QStringList selected = csvOf(source).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(selected.size(), 4);
    EXPECT_TRUE(selected[1].endsWith(",70.4,60.5,70.0")) << selected[1].toStdString();
}

// A day of one-second records through the exporter panel: the file is written on the background
// queue while the panel hears the progress, in "10min" rows of maxima, the first and last row as
// the log holds them.
TEST(SplLogExport, ADayLongLogIsExportedInTheBackgroundWithProgress) {
    qputenv("TZ", "UTC");
    tzset();
    auto log = std::make_shared<KOSPLLog>();
    log->setWeight(0x615f7774); // 'a_wt'
    const QDateTime start(QDate(2026, 12, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < 86400; ++i)
        log->addSPL(60.0f + float(i % 600) / 20.0f, 55.5f, 70.3f, start.addSecs(i));
    log->setSelectionRange(0, 86400);
    koru::ExporterPanelModel panel(std::make_shared<KOSPLLogExportSource>(log));
    panel.setExportRange(600);
    quint64 lastRows = 0;
    quint64 total = 0;
    bool ended = false;
    bool succeeded = false;
    QObject::connect(&panel, &koru::ExporterPanelModel::exportProgressed,
                     [&](quint64 rows, quint64 all) {
                         lastRows = rows;
                         total = all;
                     });
    QObject::connect(&panel, &koru::ExporterPanelModel::exportEnded, [&](bool ok) {
        ended = true;
        succeeded = ok;
    });
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("day.csv"));
    ASSERT_TRUE(panel.beginExport(path));
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    ASSERT_TRUE(succeeded);
    EXPECT_EQ(total, 144u);
    EXPECT_EQ(lastRows, 144u);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 145);
    EXPECT_EQ(lines[0], "Time,SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]");
    EXPECT_TRUE(lines[1].endsWith(",89.9,55.5,70.3")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].startsWith("12:09:59")) << lines[1].toStdString();
    EXPECT_TRUE(lines[144].startsWith("11:59:59")) << lines[144].toStdString();
}

} // namespace
