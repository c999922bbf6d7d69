#include "FakeExportSource.h"
#include "ScriptedUiPrompter.h"
#include "SplLikeSource.h"
#include "support/TestSupport.h"

#include "app/ExporterPanelModel.h"
#include "app/KODataExporter.h"
#include "platform/dispatch/KOBackgroundQueue.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>

using koru::DateValueFormatter;
using koru::ExporterPanelModel;
using koru::test::FakeExportSource;
using koru::test::ScopedScriptedPrompter;
using koru::test::spinUntil;
using koru::test::splLikeSource;
using Style = DateValueFormatter::Style;

namespace {

const ExporterPanelModel::Clock kNoon = [] {
    return koru::ExportTime{} + std::chrono::seconds(1733832000); // 2024-12-10 12:00:00 UTC
};

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString line(const QString& text, int index) {
    return text.split(u'\n').value(index);
}

TEST(ExporterPanelModel, StartsFromTheSourceAndTheExportersDefaults) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"f", "Mag"};
    ExporterPanelModel model(source);

    EXPECT_EQ(model.keyObjects(), (QStringList{"f", "Mag"}));
    EXPECT_EQ(model.availableHeaders(), (QStringList{"f", "Mag"}));
    EXPECT_EQ(model.separatorItem(), ",");
    EXPECT_EQ(model.decimalSeparator(), ".");
    EXPECT_EQ(ExporterPanelModel::availableSeparators(), (QStringList{",", ";", "Tab"}));
    EXPECT_EQ(ExporterPanelModel::availableDecimalSeparators(), (QStringList{".", ","}));
    EXPECT_FALSE(model.showExportRanges());
    EXPECT_EQ(model.exportRange(), 0xFFFFFFFFu) << "a source without ranges reads as UINT_MAX";
    EXPECT_EQ(model.dataExporter()->dataSource(), source);
}

// Every control the preview depends on announces a change once, and only a real change.
TEST(ExporterPanelModel, EveryChangeOfThePreviewIsAnnouncedOnce) {
    auto source = splLikeSource();
    ExporterPanelModel model(source);
    QSignalSpy changes(&model, &ExporterPanelModel::previewChanged);
    const QString before = model.previewString();

    struct Step {
        const char* what;
        std::function<void()> change;
        std::function<bool(const QString&)> shows;
    };
    const Step steps[] = {
        {"columns",
         [&] {
             model.setKeyObjects({"LEQ", "SPL"});
         },
         [](const QString& p) { return line(p, 0) == "LEQ [dB(A)],SPL [dB(A)]"; }},
        {"separator", [&] { model.setSeparatorItem("Tab"); },
         [](const QString& p) { return line(p, 0) == "LEQ [dB(A)]\tSPL [dB(A)]"; }},
        {"decimal", [&] { model.setDecimalSeparator(","); },
         [](const QString& p) { return line(p, 1) == "82,0\t80,0"; }},
        {"range", [&] { model.setExportRange(10); },
         [](const QString& p) { return line(p, 2) == "92,0\t82,6"; }},
    };
    int expected = 0;
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(changes.count(), ++expected) << step.what;
        EXPECT_TRUE(step.shows(model.previewString()))
            << step.what << ": " << model.previewString().toStdString();
        step.change(); // the same value again
        EXPECT_EQ(changes.count(), expected) << step.what << " unchanged";
    }
    EXPECT_NE(model.previewString(), before);
    EXPECT_EQ(source->range, 10u) << "the range lives in the source's options";
}

TEST(ExporterPanelModel, SeparatorsFollowTheClashRule) {
    ExporterPanelModel model(splLikeSource());
    model.setDecimalSeparator(",");
    EXPECT_EQ(model.separatorItem(), ";");
    EXPECT_EQ(model.decimalSeparator(), ",");
    model.setSeparatorItem(",");
    EXPECT_EQ(model.separatorItem(), ",");
    EXPECT_EQ(model.decimalSeparator(), ".");
}

TEST(ExporterPanelModel, OffersTheSourcesRanges) {
    auto source = splLikeSource();
    ExporterPanelModel model(source);
    ASSERT_TRUE(model.showExportRanges());
    std::vector<std::pair<QString, quint32>> ranges;
    for (const koru::ExportRange& range : model.exportRanges())
        ranges.emplace_back(range.name, range.value);
    EXPECT_EQ(ranges,
              (std::vector<std::pair<QString, quint32>>{
                  {"1sec", 1}, {"10sec", 10}, {"30sec", 30}, {"1min", 60}, {"10min", 600}}));
    EXPECT_EQ(model.exportRange(), 1u);
}

struct CompletionCase {
    const char* typed;
    QStringList offered;
};

TEST(ExporterPanelModel, CompletesPrefixesIgnoringCaseAndAccents) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"Time", "SPL", "Écart", "ecart max", "Taux", "Ström"};
    ExporterPanelModel model(source);
    const CompletionCase cases[] = {
        {"t", {"Time", "Taux"}},
        {"T", {"Time", "Taux"}},
        {"ti", {"Time"}},
        {"spl", {"SPL"}},
        {"ec", {"Écart", "ecart max"}},
        {"ÉC", {"Écart", "ecart max"}},
        {"stro", {"Ström"}},
        {"x", {}},
        {"", {"Time", "SPL", "Écart", "ecart max", "Taux", "Ström"}},
    };
    for (const CompletionCase& c : cases)
        EXPECT_EQ(model.completionsForSubstring(QString::fromUtf8(c.typed)), c.offered) << c.typed;
}

TEST(ExporterPanelModel, DateColumnsOfferFiveDateAndFiveTimeStyles) {
    ExporterPanelModel model(splLikeSource());
    model.setClock(kNoon);
    EXPECT_TRUE(model.hasMenuForRepresentedObject("Time"));
    EXPECT_FALSE(model.hasMenuForRepresentedObject("SPL"));
    EXPECT_TRUE(model.styleMenuForKey("SPL").dateItems.empty());

    const ExporterPanelModel::StyleMenu menu = model.styleMenuForKey("Time");
    const std::vector<Style> order = {
        DateValueFormatter::ShortStyle, DateValueFormatter::MediumStyle,
        DateValueFormatter::LongStyle, DateValueFormatter::FullStyle, DateValueFormatter::NoStyle};
    ASSERT_EQ(menu.dateItems.size(), 5u);
    ASSERT_EQ(menu.timeItems.size(), 5u);
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(menu.dateItems[i].style, order[i]);
        EXPECT_EQ(menu.timeItems[i].style, order[i]);
        EXPECT_EQ(menu.dateItems[i].checked, order[i] == DateValueFormatter::NoStyle) << i;
        EXPECT_EQ(menu.timeItems[i].checked, order[i] == DateValueFormatter::LongStyle) << i;
        DateValueFormatter expected(QLocale(), order[i]);
        EXPECT_EQ(menu.dateItems[i].title, expected.stringFromDate(kNoon())) << i;
    }
    EXPECT_TRUE(menu.dateItems[4].title.isEmpty()) << "no style writes nothing";
    EXPECT_EQ(ExporterPanelModel::kDateMenuTitle, "Date Format");
    EXPECT_EQ(ExporterPanelModel::kTimeMenuTitle, "Time Format");
    EXPECT_EQ(ExporterPanelModel::kDateMenuTag, 0x64617465u); // 'date'
    EXPECT_EQ(ExporterPanelModel::kTimeMenuTag, 0x74696d65u); // 'time'
}

TEST(ExporterPanelModel, AStyleChangeShowsInThePreviewAndHoldsForTheExport) {
    koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ExporterPanelModel model(splLikeSource(2));
    model.setKeyObjects({"Time"});
    EXPECT_EQ(model.previewString(), "Time\n10:20:30 UTC\n10:20:31 UTC\n");
    QSignalSpy changes(&model, &ExporterPanelModel::previewChanged);

    model.changeDateFormatterStyle("Time", ExporterPanelModel::kTimeMenuTag,
                                   DateValueFormatter::MediumStyle);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model.previewString(), "Time\n10:20:30\n10:20:31\n");
    model.changeDateFormatterStyle("Time", ExporterPanelModel::kDateMenuTag,
                                   DateValueFormatter::ShortStyle);
    EXPECT_EQ(model.previewString(), "Time\n\"10.12.24, 10:20:30\"\n\"10.12.24, 10:20:31\"\n")
        << "quoted: the combined style holds the field separator";
    EXPECT_EQ(model.styleMenuForKey("Time").timeItems[1].checked, true);

    model.changeDateFormatterStyle("SPL", ExporterPanelModel::kDateMenuTag,
                                   DateValueFormatter::ShortStyle);
    model.changeDateFormatterStyle("Time", 0, DateValueFormatter::ShortStyle);
    EXPECT_EQ(changes.count(), 2) << "no menu for a number column; an unknown tag does nothing";
}

class PanelExport : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Runs the export and waits for its end on the main thread.
    bool exportTo(ExporterPanelModel& model, const QString& file, bool* succeeded = nullptr) {
        QSignalSpy ended(&model, &ExporterPanelModel::exportEnded);
        if (!model.beginExport(file))
            return false;
        EXPECT_TRUE(model.isExporting());
        if (!spinUntil([&] { return ended.count() > 0; }, 30000))
            return false;
        if (succeeded)
            *succeeded = ended.constFirst().constFirst().toBool();
        return true;
    }

    ScopedScriptedPrompter prompter;

private:
    QTemporaryDir m_dir;
};

TEST_F(PanelExport, WritesOnTheBackgroundQueueWithTheChosenSettings) {
    auto source = splLikeSource(3000);
    ExporterPanelModel model(source);
    model.setKeyObjects({"SPL", "LEQ"});
    model.setSeparatorItem(";");
    model.setDecimalSeparator(",");
    QSignalSpy progress(&model, &ExporterPanelModel::exportProgressed);
    std::atomic<bool> onQueue{true};
    source->onRow = [&](std::uint64_t) {
        if (!KOBackgroundQueue()->isCurrentThread())
            onQueue = false;
    };

    bool succeeded = false;
    ASSERT_TRUE(exportTo(model, path("spl.csv"), &succeeded));
    EXPECT_TRUE(succeeded);
    EXPECT_FALSE(model.isExporting());
    EXPECT_TRUE(onQueue);
    const QByteArray bytes = fileBytes(path("spl.csv"));
    EXPECT_TRUE(bytes.startsWith("SPL [dB(A)];LEQ [dB(A)]\n80,0;82,0\n80,3;83,0\n"));
    EXPECT_EQ(bytes.count('\n'), 3001);
    ASSERT_GT(progress.count(), 0);
    EXPECT_EQ(progress.last().at(0).toULongLong(), 3000u);
    EXPECT_EQ(progress.last().at(1).toULongLong(), 3000u);
    EXPECT_TRUE(prompter.prompter.alerts.empty());
}

TEST_F(PanelExport, AFailureIsShownThroughThePrompter) {
    ExporterPanelModel model(splLikeSource());
    bool succeeded = true;
    ASSERT_TRUE(exportTo(model, path("missing/spl.csv"), &succeeded));
    EXPECT_FALSE(succeeded);
    ASSERT_EQ(prompter.prompter.alerts.size(), 1u);
    EXPECT_EQ(prompter.prompter.alerts[0].messageText,
              "The file \u201Cspl.csv\u201D could not be saved.");
    EXPECT_FALSE(prompter.prompter.alerts[0].informativeText.isEmpty());
    EXPECT_FALSE(QFile::exists(path("missing/spl.csv")));
}

TEST_F(PanelExport, TheSavePanelChoosesTheFileAndCancellingWritesNothing) {
    ExporterPanelModel model(splLikeSource());
    EXPECT_FALSE(model.exportWithSavePanel()) << "no answer: the user cancelled";
    ASSERT_EQ(prompter.prompter.savePanels.size(), 1u);
    EXPECT_FALSE(model.isExporting());
    EXPECT_TRUE(QDir(path("")).isEmpty());

    QSignalSpy ended(&model, &ExporterPanelModel::exportEnded);
    prompter.prompter.panelAnswers.push_back(path("chosen.csv"));
    ASSERT_TRUE(model.exportWithSavePanel());
    ASSERT_TRUE(spinUntil([&] { return ended.count() > 0; }));
    EXPECT_TRUE(
        fileBytes(path("chosen.csv")).startsWith("Time,SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]\n"));
}

// While the file is being written the source's one copy belongs to the export: no preview may
// prepare a new one, and no second export may start.
TEST_F(PanelExport, NothingElseTouchesTheSourceWhileAnExportRuns) {
    auto source = splLikeSource();
    ExporterPanelModel model(source);
    const QString preview = model.previewString();
    std::promise<void> reached;
    std::promise<void> release;
    auto released = release.get_future().share();
    source->onRow = [&, released](std::uint64_t row) {
        if (row == 1) {
            reached.set_value();
            released.wait();
        }
    };
    QSignalSpy ended(&model, &ExporterPanelModel::exportEnded);
    ASSERT_TRUE(model.beginExport(path("held.csv")));
    reached.get_future().wait();

    const int preparations = source->preparations;
    model.setSeparatorItem(";");
    EXPECT_EQ(model.previewString(), preview) << "the last preview stays";
    EXPECT_EQ(source->preparations, preparations);
    EXPECT_FALSE(model.beginExport(path("second.csv")));
    EXPECT_FALSE(model.exportWithSavePanel());

    release.set_value();
    ASSERT_TRUE(spinUntil([&] { return ended.count() > 0; }));
    EXPECT_FALSE(QFile::exists(path("second.csv")));
    EXPECT_TRUE(prompter.prompter.savePanels.empty());
}

} // namespace
