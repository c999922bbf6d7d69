#include "CsvReader.h"
#include "FakeExportSource.h"
#include "support/TestSupport.h"

#include "app/DateValueFormatter.h"
#include "app/KODataExporter.h"
#include "app/NumberValueFormatter.h"
#include "platform/formatter/KOStandardNumberFormatters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

using koru::DateValueFormatter;
using koru::ExportTime;
using koru::ExportValue;
using koru::NumberValueFormatter;
using koru::test::FakeExportSource;
using koru::test::readCsv;

namespace {

using namespace std::chrono_literals;

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A number as written with `decimal`, read back without help from any locale.
std::optional<double> numberIn(QString field, const QString& decimal) {
    field.replace(decimal, QStringLiteral("."));
    const std::string text = field.toStdString();
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// 2024-12-10 10:20:30 UTC, a Tuesday.
const ExportTime kTuesday = ExportTime{} + std::chrono::seconds(1733826030);

// The smallest world that shows the format: a frequency and a level column with units and a
// text column without.
std::shared_ptr<FakeExportSource> traceSource() {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"f", "Mag", "Note"};
    source->units = {{"f", "Hz"}, {"Mag", "dB"}};
    source->addRow({20.0, -3.26, QStringLiteral("low")});
    source->addRow({1000.0, 0.04, QStringLiteral("mid")});
    source->addRow({12345.67, -120.0, QStringLiteral("high")});
    return source;
}

class ExportFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }
    QStringList entries() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

private:
    QTemporaryDir m_dir;
};

struct FormatCase {
    const char* separator;
    const char* decimal;
    const char* text;
};

class CsvFormat : public ExportFiles, public ::testing::WithParamInterface<const char*> {};

// Every separator and decimal choice, byte for byte, written under the test's locale and read
// back: the locale changes nothing.
TEST_P(CsvFormat, WritesEverySeparatorAndDecimalChoiceByteForByte) {
    koru::test::ScopedLocale locale(GetParam());
    if (!locale.active())
        GTEST_SKIP() << GetParam() << " is not installed";
    const FormatCase cases[] = {
        {",", ".", "f [Hz],Mag [dB],Note\n20.0,-3.3,low\n1000.0,0.0,mid\n12345.7,-120.0,high\n"},
        {";", ".", "f [Hz];Mag [dB];Note\n20.0;-3.3;low\n1000.0;0.0;mid\n12345.7;-120.0;high\n"},
        {";", ",", "f [Hz];Mag [dB];Note\n20,0;-3,3;low\n1000,0;0,0;mid\n12345,7;-120,0;high\n"},
        {"Tab", ".",
         "f [Hz]\tMag [dB]\tNote\n20.0\t-3.3\tlow\n1000.0\t0.0\tmid\n12345.7\t-120.0\thigh\n"},
        {"Tab", ",",
         "f [Hz]\tMag [dB]\tNote\n20,0\t-3,3\tlow\n1000,0\t0,0\tmid\n12345,7\t-120,0\thigh\n"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::string(c.separator) + " " + c.decimal);
        KODataExporter exporter(traceSource());
        exporter.setCsvSeparator(c.separator);
        exporter.setDecimalSeparator(c.decimal);
        ASSERT_EQ(exporter.csvSeparator(), c.separator);
        ASSERT_EQ(exporter.decimalSeparator(), c.decimal);

        const QString file = path(QStringLiteral("trace.csv"));
        ASSERT_FALSE(exporter.startExportCsvToURL(QUrl::fromLocalFile(file)).has_value());
        EXPECT_EQ(fileBytes(file), QByteArray(c.text));
        EXPECT_EQ(exporter.csvPreviewString(), QString::fromUtf8(c.text));

        const auto lines = readCsv(QString::fromUtf8(fileBytes(file)), exporter.realCsvSeparator());
        ASSERT_TRUE(lines.has_value());
        ASSERT_EQ(lines->size(), 4u);
        EXPECT_EQ(lines->at(0), (QStringList{"f [Hz]", "Mag [dB]", "Note"}));
        EXPECT_EQ(numberIn(lines->at(1)[1], c.decimal), -3.3);
        EXPECT_EQ(numberIn(lines->at(3)[0], c.decimal), 12345.7);
        EXPECT_EQ(lines->at(3)[2], "high");
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, CsvFormat, ::testing::Values("C", "de_DE.UTF-8"));

struct ClashCase {
    const char* separator;
    const char* decimal;
    bool decimalLast; // which setter runs second
    const char* expectedSeparator;
    const char* expectedDecimal;
};

TEST(KODataExporterSeparators, NeverEndUpEqual) {
    const ClashCase cases[] = {
        {",", ",", true, ";", ","},  {",", ",", false, ",", "."}, {";", ";", true, ";", "."},
        {";", ";", false, ";", "."}, {".", ".", false, ";", "."}, {"Tab", ",", true, "Tab", ","},
        {";", ",", false, ";", ","},
    };
    for (const ClashCase& c : cases) {
        KODataExporter exporter(traceSource());
        if (c.decimalLast) {
            exporter.setCsvSeparator(c.separator);
            exporter.setDecimalSeparator(c.decimal);
        } else {
            exporter.setDecimalSeparator(c.decimal);
            exporter.setCsvSeparator(c.separator);
        }
        EXPECT_EQ(exporter.csvSeparator(), c.expectedSeparator)
            << c.separator << " " << c.decimal << " " << c.decimalLast;
        EXPECT_EQ(exporter.decimalSeparator(), c.expectedDecimal)
            << c.separator << " " << c.decimal << " " << c.decimalLast;
    }
}

TEST(KODataExporterSeparators, StartAsCommaAndPointWithTabAsTheWord) {
    KODataExporter exporter(traceSource());
    EXPECT_EQ(exporter.csvSeparator(), ",");
    EXPECT_EQ(exporter.decimalSeparator(), ".");
    EXPECT_EQ(exporter.csvKeys(), (QStringList{"f", "Mag", "Note"}));
    exporter.setCsvSeparator("Tab");
    EXPECT_EQ(exporter.csvSeparator(), "Tab");
    EXPECT_EQ(exporter.realCsvSeparator(), "\t");
}

struct QuoteCase {
    const char* separator;
    const char* value;
    const char* field;
};

// A field is quoted only when it holds the field separator, a quote or a line end; it reads back
// as it was.
TEST(KODataExporterFields, QuoteOnlyWhatWouldBreakTheLine) {
    const QuoteCase cases[] = {
        {",", "plain", "plain"},
        {",", "a,b", "\"a,b\""},
        {";", "a,b", "a,b"},
        {";", "a;b", "\"a;b\""},
        {"Tab", "a\tb", "\"a\tb\""},
        {"Tab", "a;b,c", "a;b,c"},
        {",", "say \"hi\"", "\"say \"\"hi\"\"\""},
        {",", "two\nlines", "\"two\nlines\""},
        {",", "cr\rhere", "\"cr\rhere\""},
        {",", "", ""},
    };
    for (const QuoteCase& c : cases) {
        auto source = std::make_shared<FakeExportSource>();
        source->columns = {"Text", "n"};
        source->addRow({QString::fromUtf8(c.value), 1.0});
        KODataExporter exporter(source);
        exporter.setCsvSeparator(c.separator);

        const QString preview = exporter.csvPreviewString();
        const QString sep = exporter.realCsvSeparator();
        EXPECT_EQ(preview, "Text" + sep + "n\n" + QString::fromUtf8(c.field) + sep + "1.0\n")
            << c.value;
        const auto lines = readCsv(preview, sep);
        ASSERT_TRUE(lines.has_value()) << c.value;
        ASSERT_EQ(lines->size(), 2u) << c.value;
        EXPECT_EQ(lines->at(1), (QStringList{QString::fromUtf8(c.value), "1.0"}));
    }
}

TEST(KODataExporterFields, TitlesCarryTheirUnitsAndAreQuotedLikeFields) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"Time", "SPL", "Level, peak"};
    source->units = {{"SPL", "dB(A)"}, {"Level, peak", "dB"}};
    KODataExporter exporter(source);
    EXPECT_EQ(exporter.csvHeaderString(), "Time,SPL [dB(A)],\"Level, peak [dB]\"\n");
    exporter.setCsvSeparator("Tab");
    EXPECT_EQ(exporter.csvHeaderString(), "Time\tSPL [dB(A)]\tLevel, peak [dB]\n");
    exporter.setCsvKeys({"SPL"});
    EXPECT_EQ(exporter.csvHeaderString(), "SPL [dB(A)]\n");
    exporter.setCsvKeys({});
    EXPECT_EQ(exporter.csvHeaderString(), "");
}

struct CellCase {
    const char* what;
    ExportValue value;
    const char* field;
};

// No infinity or NaN ever reaches a file; cells the column's formatter cannot render are empty.
TEST(KODataExporterFields, CellsWithoutAFiniteNumberOrOfAnotherKind) {
    const double inf = std::numeric_limits<double>::infinity();
    const CellCase cases[] = {
        {"NaN", std::numeric_limits<double>::quiet_NaN(), "-144.0"},
        {"-inf", -inf, "-144.0"},
        {"+inf", inf, ""},
        {"below the floor", -200.0, "-200.0"},
        {"integer", std::int64_t{42}, "42.0"},
        {"negative integer", std::int64_t{-7}, "-7.0"},
        {"time in a number column", kTuesday, ""},
        {"missing", std::monostate{}, ""},
        {"text", QStringLiteral("n/a"), "n/a"},
    };
    for (const CellCase& c : cases) {
        auto source = std::make_shared<FakeExportSource>();
        source->columns = {"Level", "Next"};
        source->addRow({c.value, 1.5});
        KODataExporter exporter(source);
        EXPECT_EQ(exporter.csvPreviewString(), "Level,Next\n" + QString(c.field) + ",1.5\n")
            << c.what;
    }
}

TEST(KODataExporterFields, ALongDateKeepsItsColumnWithACommaSeparator) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"Time", "SPL"};
    auto dates = std::make_shared<DateValueFormatter>(
        QLocale(QLocale::English, QLocale::UnitedStates), DateValueFormatter::FullStyle);
    dates->setTimeZone("UTC");
    source->formatters = {{"Time", dates}};
    source->addRow({kTuesday, 85.25});
    KODataExporter exporter(source);

    const QString preview = exporter.csvPreviewString();
    EXPECT_EQ(preview, "Time,SPL\n\"Tuesday, December 10, 2024\",85.3\n");
    const auto lines = readCsv(preview, ",");
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(lines->at(1), (QStringList{"Tuesday, December 10, 2024", "85.3"}));
    exporter.setCsvSeparator(";");
    EXPECT_EQ(exporter.csvPreviewString(), "Time;SPL\nTuesday, December 10, 2024;85.3\n");
}

TEST(KODataExporterFormatters, CachedPerKeyAndTakeTheDecimalSeparator) {
    auto source = traceSource();
    auto own =
        std::make_shared<NumberValueFormatter>(KOStandardNumberFormatters::standardFormatter());
    own->numberFormatter().setMinimumFractionDigits(2);
    own->numberFormatter().setMaximumFractionDigits(2);
    source->formatters = {{"Mag", own}};
    KODataExporter exporter(source);

    EXPECT_EQ(exporter.formatterForKey("Mag"), own);
    const auto standard = exporter.formatterForKey("f");
    ASSERT_NE(dynamic_cast<NumberValueFormatter*>(standard.get()), nullptr);
    EXPECT_EQ(exporter.formatterForKey("f"), standard) << "made once, then kept";

    exporter.setCsvSeparator(";");
    exporter.setDecimalSeparator(",");
    const auto formatters = exporter.dataFormatters();
    ASSERT_EQ(formatters.size(), 3u);
    EXPECT_EQ(formatters[1], own);
    EXPECT_EQ(own->decimalSeparator(), ",") << "the source's own formatter is changed too";
    EXPECT_EQ(exporter.csvPreviewString(),
              "f [Hz];Mag [dB];Note\n20,0;-3,26;low\n1000,0;0,04;mid\n12345,7;-120,00;high\n");
}

TEST(KODataExporterPreview, ShowsTheTitleAndAtMostEightRows) {
    for (const int rows : {0, 3, 8, 20}) {
        auto source = std::make_shared<FakeExportSource>();
        source->columns = {"n"};
        for (int i = 0; i < rows; ++i)
            source->addRow({double(i)});
        KODataExporter exporter(source);

        QString expected = "n\n";
        for (int i = 0; i < std::min(rows, 8); ++i)
            expected += QString::number(i) + ".0\n";
        EXPECT_EQ(exporter.csvPreviewString(), expected) << rows;
        EXPECT_EQ(source->preparations, 1);
        EXPECT_EQ(source->finishes, 1) << "the source may drop its copy after a preview";
    }
}

TEST(KODataExporterPreview, IsEmptyWhenTheSourceRefuses) {
    auto source = traceSource();
    source->refusePreparation = true;
    KODataExporter exporter(source);
    EXPECT_EQ(exporter.csvPreviewString(), "");
    EXPECT_EQ(source->finishes, 0);
}

TEST_F(ExportFiles, NoColumnsGiveAnEmptyFile) {
    auto source = traceSource();
    KODataExporter exporter(source);
    exporter.setCsvKeys({});
    EXPECT_FALSE(exporter.startExportCsvToURL(url("none.csv")).has_value());
    ASSERT_TRUE(QFileInfo::exists(path("none.csv")));
    EXPECT_EQ(fileBytes(path("none.csv")), QByteArray());
    EXPECT_EQ(exporter.csvPreviewString(), "");
}

TEST_F(ExportFiles, ChosenColumnsInTheirOrderAndUtf8WithoutByteOrderMark) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"Größe", "Name", "Wert"};
    source->addRow({1.0, QStringLiteral("Schalldruck über Grenze \u2013 \u00B5Pa"), 2.0});
    KODataExporter exporter(source);
    exporter.setCsvKeys({"Wert", "Name"});
    ASSERT_FALSE(exporter.startExportCsvToURL(url("utf8.csv")).has_value());
    const QByteArray expected =
        QStringLiteral("Wert,Name\n2.0,Schalldruck über Grenze \u2013 \u00B5Pa\n").toUtf8();
    EXPECT_EQ(fileBytes(path("utf8.csv")), expected);
    EXPECT_FALSE(fileBytes(path("utf8.csv")).startsWith("\xEF\xBB\xBF"));
}

TEST_F(ExportFiles, RefusedPreparationCreatesNothingAndKeepsAnOldFile) {
    auto source = traceSource();
    source->refusePreparation = true;
    KODataExporter exporter(source);

    EXPECT_FALSE(exporter.startExportCsvToURL(url("new.csv")).has_value());
    EXPECT_TRUE(entries().isEmpty()) << entries().join(' ').toStdString();

    ASSERT_TRUE(writeBytes(path("old.csv"), "old content\n"));
    EXPECT_FALSE(exporter.startExportCsvToURL(url("old.csv")).has_value());
    EXPECT_EQ(fileBytes(path("old.csv")), "old content\n");
    EXPECT_EQ(entries(), QStringList{"old.csv"});
    EXPECT_EQ(source->finishes, 0);
}

TEST_F(ExportFiles, AnOlderLongerFileIsReplacedWhole) {
    ASSERT_TRUE(writeBytes(path("trace.csv"), QByteArray(100000, 'x')));
    KODataExporter exporter(traceSource());
    ASSERT_FALSE(exporter.startExportCsvToURL(url("trace.csv")).has_value());
    EXPECT_EQ(fileBytes(path("trace.csv")),
              "f [Hz],Mag [dB],Note\n20.0,-3.3,low\n1000.0,0.0,mid\n12345.7,-120.0,high\n");
    EXPECT_EQ(entries(), QStringList{"trace.csv"}) << "no temporary file left";
}

// Many rows: written in pieces, with the progress counted up to the total.
TEST_F(ExportFiles, LargeExportsReportProgressUpToTheTotal) {
    for (const bool knowsRowCount : {true, false}) {
        auto source = std::make_shared<FakeExportSource>();
        source->columns = {"i", "Level"};
        source->knowsRowCount = knowsRowCount;
        constexpr int kRows = 50000;
        for (int i = 0; i < kRows; ++i)
            source->addRow({std::int64_t{i}, -0.5 * i});
        KODataExporter exporter(source);

        std::vector<std::uint64_t> counts;
        std::optional<std::uint64_t> lastTotal;
        ASSERT_FALSE(
            exporter
                .startExportCsvToURL(url("large.csv"),
                                     [&](std::uint64_t rows, std::optional<std::uint64_t> total) {
                                         counts.push_back(rows);
                                         lastTotal = total;
                                     })
                .has_value());
        ASSERT_GT(counts.size(), 2u) << "progress comes in steps";
        EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
        EXPECT_EQ(counts.back(), std::uint64_t(kRows));
        EXPECT_EQ(lastTotal, knowsRowCount ? std::optional<std::uint64_t>(kRows) : std::nullopt);

        const auto lines = readCsv(QString::fromUtf8(fileBytes(path("large.csv"))), ",");
        ASSERT_TRUE(lines.has_value());
        ASSERT_EQ(lines->size(), std::size_t(kRows + 1));
        EXPECT_EQ(lines->at(kRows), (QStringList{"49999.0", "-24999.5"}));
        EXPECT_EQ(source->finishes, 1);
    }
}

class FailedExport : public ExportFiles {
protected:
    void SetUp() override {
        ASSERT_TRUE(writeBytes(path("kept.csv"), "precious\n"));
        source = traceSource();
        exporter = std::make_unique<KODataExporter>(source);
    }
    void expectNothingElseTouched() {
        EXPECT_EQ(fileBytes(path("kept.csv")), "precious\n");
        EXPECT_EQ(entries(), QStringList{"kept.csv"}) << entries().join(' ').toStdString();
    }

    std::shared_ptr<FakeExportSource> source;
    std::unique_ptr<KODataExporter> exporter;
};

TEST_F(FailedExport, APlaceThatCannotHoldAFileIsAnError) {
    struct Place {
        const char* what;
        QString path;
    };
    const Place places[] = {
        {"folder missing", path("missing/out.csv")},
        {"parent is a file", path("kept.csv/out.csv")},
        {"path is a folder", QDir(path("")).absolutePath()},
    };
    for (const Place& place : places) {
        const auto error = exporter->startExportCsvToURL(QUrl::fromLocalFile(place.path));
        ASSERT_TRUE(error.has_value()) << place.what;
        EXPECT_EQ(error->domain, KODataExporter::kErrorDomain);
        EXPECT_FALSE(error->description.isEmpty());
        EXPECT_FALSE(error->recoverySuggestion.isEmpty()) << "the system's reason";
        expectNothingElseTouched();
    }
    EXPECT_EQ(source->preparations, 0) << "nothing is prepared for a file that cannot be made";
}

TEST_F(FailedExport, AReadOnlyFolderIsAnError) {
    const QString folder = path("locked");
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "this user writes into read-only folders (root)";
    }
    const auto error = exporter->startExportCsvToURL(QUrl::fromLocalFile(folder + "/out.csv"));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->description.contains("out.csv")) << error->description.toStdString();
    EXPECT_TRUE(QDir(folder).isEmpty());
}

TEST_F(FailedExport, ARemoteAddressIsAnError) {
    const auto error = exporter->startExportCsvToURL(QUrl("https://example.com/trace.csv"));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, KODataExporter::kErrorDomain);
    expectNothingElseTouched();
}

// A disk that fills up part-way (a file-size limit, which binds root too) is a failure, never a
// success, and the file it would have replaced stays whole.
TEST_F(FailedExport, ADiskFullPartWayIsAnErrorAndKeepsTheOldFile) {
    source->rows.clear();
    for (int i = 0; i < 20000; ++i)
        source->addRow({double(i), -double(i), QStringLiteral("row")});
    auto limit = std::make_unique<koru::test::ScopedFileSizeLimit>(16 * 1024);
    ASSERT_TRUE(limit->active());

    std::uint64_t lastProgress = 0;
    const auto error = exporter->startExportCsvToURL(
        url("kept.csv"), [&](std::uint64_t rows, auto) { lastProgress = rows; });

    limit.reset();
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->description.contains("kept.csv")) << error->description.toStdString();
    EXPECT_LT(lastProgress, 20000u) << "the export stops at the failure";
    EXPECT_EQ(source->finishes, 1) << "the source still drops its copy";
    expectNothingElseTouched();
}

} // namespace
