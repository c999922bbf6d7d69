#include "spl/KOSPLLog.h"
#include "spl/KOSplDocuments.h"
#include "support/TestSupport.h"
#include "utility/VEDate.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

using koru::test::ScopedLocale;

namespace {

constexpr std::uint32_t kA = 1633646452;    // 'a_wt'
constexpr std::uint32_t kC = 1667200884;    // 'c_wt'
constexpr std::uint32_t kSlow = 1936486263; // 'slow'
constexpr std::uint32_t kFast = 1717662580; // 'fast'
// 2026-12-11 10:00:00 UTC, 11:00:00 in the fixed zone the tests use.
constexpr double kNow = 818676000.0;
const std::string kDeclaration = R"x(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)x";

// Local times in a zone one hour east of UTC, whatever the machine's.
class SplDocuments : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            mPreviousTZ = tz;
        setenv("TZ", "CET-1", 1);
        tzset();
    }
    void TearDown() override {
        if (mPreviousTZ)
            setenv("TZ", mPreviousTZ->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> mPreviousTZ;
};

KOSplMeterSnapshot meter(std::shared_ptr<KOSPLLog> log = nullptr) {
    KOSplMeterSnapshot m;
    m.weighting = kA;
    m.speed = kSlow;
    m.spl = 73.46f;
    m.avg = 70.04f;
    m.leq = 71.96f;
    m.avgTime = 5.0;
    m.leqDuration = 1800.0;
    m.leqRunningSeconds = 65.7;
    m.log = std::move(log);
    return m;
}

KOSplOpenInstrument analyser(const QString& name) {
    return {name, QStringLiteral("FFT-ID"), std::nullopt};
}

// `count` records a second apart from kNow, levels rising by 0.3 dB a record.
std::shared_ptr<KOSPLLog> logOf(int count, std::uint32_t weighting = kA) {
    auto log = std::make_shared<KOSPLLog>();
    log->setWeight(weighting);
    log->setSpeed(kSlow);
    const QDateTime start = VEDate::dateWithTimeIntervalSinceReferenceDate(kNow);
    for (int i = 0; i < count; ++i)
        log->addSPL(60.0f + 0.3f * float(i), 50.0f + 0.3f * float(i), 55.0f, start.addSecs(i));
    return log;
}

std::string text(const std::optional<QByteArray>& bytes) {
    return bytes ? bytes->toStdString() : std::string("(none)");
}

int countOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

// The meter document, whole, in every locale: levels with a point, the averaging and LEQ
// periods in whole seconds, the LEQ's running time as a duration text.
TEST_F(SplDocuments, TheMeterDocumentHoldsTheMetersValuesInOrder) {
    const std::vector<KOSplOpenInstrument> open{analyser(QStringLiteral("FFT 1")),
                                                {QStringLiteral("SPL Meter 1"), "ID-1", meter()}};
    const std::string expected =
        kDeclaration +
        R"x(<root id="ID-1" name="SPL Meter 1" time="2026-12-11T11:00:00">)x"
        R"x(<spl unit="dB(A)">73.5</spl><avg unit="dB(A)">70.0</avg><leq unit="dB(A)">72.0</leq>)x"
        R"x(<weighting>A-Weighted</weighting><speed>Slow</speed><avgtime>5</avgtime>)x"
        R"x(<leqDuration>1800</leqDuration><leqRunningSince>1min 05sec</leqRunningSince></root>)x";
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        EXPECT_EQ(text(KOSplDocuments::meterDocument(open, QStringLiteral("SPL Meter 1"), kNow)),
                  expected);
    }
}

TEST_F(SplDocuments, TheMeterDocumentFollowsTheMetersSettings) {
    KOSplMeterSnapshot fast = meter();
    fast.weighting = kC;
    fast.speed = kFast;
    fast.leqDuration = -1.0; // no reset
    fast.leqRunningSeconds = 3725.0;
    fast.avgTime = 0.5;
    fast.spl = -0.04f;
    const std::vector<KOSplOpenInstrument> open{{QStringLiteral("m"), "ID", fast}};
    const std::string document = text(KOSplDocuments::meterDocument(open, "m", kNow));
    for (const char* part :
         {R"x(<spl unit="dB(C)">-0.0</spl>)x", "<weighting>C-Weighted</weighting>",
          "<speed>Fast</speed>", "<avgtime>0</avgtime>", "<leqDuration>-1</leqDuration>",
          "<leqRunningSince>1h 02min 05sec</leqRunningSince>"}) {
        EXPECT_NE(document.find(part), std::string::npos) << part << "\n" << document;
    }
}

// Names are found exactly, the first open instrument of a name wins, and only an SPL meter
// gives a document.
TEST_F(SplDocuments, OnlyTheFirstInstrumentOfANameCountsAndOnlyAMeterAnswers) {
    const std::vector<KOSplOpenInstrument> open{analyser(QStringLiteral("Twin")),
                                                {QStringLiteral("Twin"), "ID-2", meter()},
                                                {QStringLiteral("SPL Meter 1"), "ID-1", meter()}};
    const struct {
        const char* name;
        bool found;
    } cases[] = {{"SPL Meter 1", true}, {"Twin", false},         {"spl meter 1", false},
                 {"SPL Meter", false},  {"SPL Meter 1 ", false}, {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KOSplDocuments::meterDocument(open, QString::fromUtf8(c.name), kNow).has_value(),
                  c.found);
        EXPECT_EQ(KOSplDocuments::logDocument(open, {{"instrumentName", c.name}}, kNow).has_value(),
                  c.found);
    }
}

// User-edited names reach attributes and text: markup is escaped, and characters XML 1.0
// cannot hold at all are left out.
TEST_F(SplDocuments, NamesAreEscapedAndControlCharactersLeftOut) {
    const QString name = QStringLiteral("A&B <\"1\">\x01\x1b end");
    const std::vector<KOSplOpenInstrument> open{{name, "ID", meter()}};
    const std::string list = KOSplDocuments::meterListDocument(open, kNow).toStdString();
    EXPECT_EQ(list, kDeclaration +
                        R"x(<splinstruments time="2026-12-11T11:00:00">)x"
                        R"x(<instrument id="ID">A&amp;B &lt;&quot;1&quot;&gt; end</instrument>)x"
                        R"x(</splinstruments>)x");
    const std::string document = text(KOSplDocuments::meterDocument(open, name, kNow));
    EXPECT_NE(document.find(R"x(name="A&amp;B &lt;&quot;1&quot;&gt; end")x"), std::string::npos)
        << document;
}

TEST_F(SplDocuments, TheMeterListHoldsTheMetersInWindowOrder) {
    const std::vector<KOSplOpenInstrument> open{{QStringLiteral("Stage"), "ID-S", meter()},
                                                analyser(QStringLiteral("FFT 1")),
                                                {QStringLiteral("Desk"), "ID-D", meter()}};
    EXPECT_EQ(KOSplDocuments::meterListDocument(open, kNow).toStdString(),
              kDeclaration + R"x(<splinstruments time="2026-12-11T11:00:00">)x"
                             R"x(<instrument id="ID-S">Stage</instrument>)x"
                             R"x(<instrument id="ID-D">Desk</instrument></splinstruments>)x");
    EXPECT_EQ(KOSplDocuments::meterListDocument({analyser("FFT 1")}, kNow).toStdString(),
              kDeclaration + R"x(<splinstruments time="2026-12-11T11:00:00"/>)x");
}

// A whole log document: groups of the resolution, the last one short, each with its index,
// its distance in records from the range's start, its latest record's time and its maxima; the
// unit with a lower-case d.
TEST_F(SplDocuments, TheLogDocumentHoldsOneElementPerGroup) {
    const std::vector<KOSplOpenInstrument> open{{QStringLiteral("M"), "ID", meter(logOf(5))}};
    const auto document = KOSplDocuments::logDocument(
        open, {{"instrumentName", "M"}, {"start", "1"}, {"resolution", "3"}}, kNow);
    const auto group = [](int index, int relative, const char* time, const char* spl,
                          const char* avg) {
        return std::string(R"x(<log index=")x") + std::to_string(index) + R"x(" relativeTime=")x" +
               std::to_string(relative) + R"x(" timestamp=")x" + time + R"x(">)x" +
               R"x(<spl unit="db(A)">)x" + spl + R"x(</spl><avg unit="db(A)">)x" + avg +
               R"x(</avg><leq unit="db(A)">55.0</leq></log>)x";
    };
    EXPECT_EQ(text(document), kDeclaration +
                                  R"x(<root id="ID" name="M" time="2026-12-11T11:00:00">)x" +
                                  group(0, 0, "2026-12-11T11:00:03", "60.9", "50.9") +
                                  group(1, 3, "2026-12-11T11:00:04", "61.2", "51.2") + "</root>");
}

TEST_F(SplDocuments, LogRequestsSelectTheirRangeOrFindNothing) {
    const auto log = logOf(125);
    const std::vector<KOSplOpenInstrument> open{{QStringLiteral("M"), "ID", meter(log)},
                                                {QStringLiteral("Idle"), "ID2", meter()}};
    struct Case {
        const char* what;
        QMap<QString, QString> parameters;
        int elements; // -1: no document
        const char* lastRelativeTime;
    };
    const Case cases[] = {
        {"the whole log in minutes", {{"instrumentName", "M"}}, 3, "120"},
        {"one element per record", {{"instrumentName", "M"}, {"resolution", "1"}}, 125, "124"},
        {"a range",
         {{"instrumentName", "M"}, {"start", "100"}, {"end", "110"}, {"resolution", "4"}},
         3,
         "8"},
        {"lenient numbers",
         {{"instrumentName", "M"}, {"start", " +120abc"}, {"resolution", "x"}},
         1,
         "0"},
        {"end below start", {{"instrumentName", "M"}, {"start", "10"}, {"end", "5"}}, -1, ""},
        {"start past the end", {{"instrumentName", "M"}, {"start", "126"}}, -1, ""},
        {"a negative start is a huge one", {{"instrumentName", "M"}, {"start", "-1"}}, -1, ""},
        {"a range past the records", {{"instrumentName", "M"}, {"end", "126"}}, 0, ""},
        {"an empty range", {{"instrumentName", "M"}, {"start", "125"}}, 0, ""},
        {"a meter that never logged", {{"instrumentName", "Idle"}}, 0, ""},
        {"a meter that never logged, from 1", {{"instrumentName", "Idle"}, {"start", "1"}}, -1, ""},
        {"no name", {{"start", "0"}}, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto document = KOSplDocuments::logDocument(open, c.parameters, kNow);
        if (c.elements < 0) {
            EXPECT_FALSE(document) << text(document);
            continue;
        }
        ASSERT_TRUE(document);
        const std::string xml = document->toStdString();
        EXPECT_EQ(countOf(xml, "<log "), c.elements);
        if (c.elements > 0) {
            EXPECT_NE(xml.find("index=\"" + std::to_string(c.elements - 1) + "\" relativeTime=\"" +
                               c.lastRelativeTime + "\""),
                      std::string::npos)
                << xml.substr(xml.size() - 300);
        }
    }
}

// A request for more elements than a reply should carry is refused, not built.
TEST_F(SplDocuments, OversizedLogDocumentsAreRefused) {
    const auto log = logOf(int(KOSplDocuments::kMaxLogElements) + 1);
    const std::vector<KOSplOpenInstrument> open{{QStringLiteral("M"), "ID", meter(log)}};
    EXPECT_FALSE(
        KOSplDocuments::logDocument(open, {{"instrumentName", "M"}, {"resolution", "1"}}, kNow));
    const auto two = KOSplDocuments::logDocument(
        open, {{"instrumentName", "M"}, {"resolution", "1"}, {"start", "1"}}, kNow);
    ASSERT_TRUE(two);
    EXPECT_EQ(countOf(two->toStdString(), "<log "), int(KOSplDocuments::kMaxLogElements));
}

TEST(SplDocumentNumbers, ReadLikeTheLenientIntegerConversion) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    const std::pair<const char*, std::int64_t> cases[] = {
        {"", 0},
        {"abc", 0},
        {"42", 42},
        {"  \t\n42", 42},
        {"+3", 3},
        {"-7x", -7},
        {"4 2", 4},
        {"- 4", 0},
        {"0x10", 0},
        {"12.9", 12},
        {"9223372036854775807", max},
        {"9223372036854775808", max},
        {"99999999999999999999999", max},
        {"-9223372036854775808", min},
        {"-99999999999999999999999", min},
        {"007", 7},
    };
    for (const auto& [input, value] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(KOSplDocuments::integerValue(QString::fromLatin1(input)), value);
    }
}

TEST_F(SplDocuments, TimesAreLocalAndZeroMeansNow) {
    EXPECT_EQ(KOSplDocuments::stringFromTimeinterval(kNow + 0.9), "2026-12-11T11:00:00");
    EXPECT_EQ(KOSplDocuments::stringFromTimeinterval(1.0), "2001-01-01T01:00:01");
    const QString now = KOSplDocuments::stringFromTimeinterval(0.0);
    EXPECT_TRUE(QRegularExpression(R"x(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$)x").match(now).hasMatch());
    EXPECT_NE(now, "2001-01-01T01:00:00");
}

} // namespace
