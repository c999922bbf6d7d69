#include "engine/SDFloatVector.h"
#include "framework/KOFloatVectorView.h"
#include "framework/KOTimeRulerView.h"
#include "platform/notifications/NotificationCenter.h"
#include "utility/KODistanceFormatter.h"
#include "utility/SampleRateSource.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

struct FixedRate : koru::utility::SampleRateSource {
    double currentSampleRate() const override { return rate; }
    double rate = 48000.0;
};

KODistanceFormatter& formatter() {
    return KODistanceFormatter::sharedDistanceFormatter();
}

void postReload() {
    koru::platform::NotificationCenter::defaultCenter().post(
        QString::fromLatin1(KODistanceFormatter::kReloadAudioPropNotification));
}

std::vector<QString> texts(const std::vector<KOTimeRulerView::Label>& labels) {
    std::vector<QString> result;
    for (const auto& label : labels) {
        result.push_back(label.text);
    }
    return result;
}

// Records the marker drags and lets markers stop on whole samples only; the zero marker stays.
class MarkerClient : public KOFloatVectorView {
public:
    using KOFloatVectorView::KOFloatVectorView;
    bool rulerShouldMoveMarker(const koru::framework::RulerMarker& marker) override {
        return marker.identifier != QStringLiteral("KOTimRuler.ZeroPoint");
    }
    double rulerWillMoveMarker(const koru::framework::RulerMarker&, double location) override {
        proposed.push_back(location);
        return std::trunc(location);
    }
    void rulerDidMoveMarker(const koru::framework::RulerMarker& marker) override {
        moved.push_back(marker.identifier);
    }
    std::vector<double> proposed;
    std::vector<QString> moved;
};

// A ruler over a vector view of two seconds at 48 kHz, both 600 points wide.
class RulerTest : public testing::Test {
protected:
    RulerTest() {
        formatter().setSampleRateSource(&rate);
        host.resize(600, 122);
        client = new MarkerClient(&host);
        client->setGeometry(0, KOTimeRulerView::kRuleThickness, 600, 100);
        client->setVector(SDFloatVector::vectorWithLength(96000));
        ruler = new KOTimeRulerView(client, Qt::Horizontal, &host);
        ruler->setGeometry(0, 0, 600, KOTimeRulerView::kRuleThickness);
        host.show();
    }
    ~RulerTest() override { formatter().setSampleRateSource(nullptr); }

    FixedRate rate;
    QWidget host;
    MarkerClient* client = nullptr;
    KOTimeRulerView* ruler = nullptr;
};

TEST_F(RulerTest, SpacingKeepsMarksAndLabelsApart) {
    struct Case {
        const char* unit;
        double zoom;
        double markDistance;
        std::int64_t mid, big, label;
        const char* format;
    };
    const double meter = 48000.0 / 343.0;
    const Case cases[] = {
        {"meter", 1.0, meter / 10.0, 5, 10, 5, "%.1f"},
        {"meter", 0.1, meter / 20.0, 2, 4, 20, "%1.f"},
        {"samples", 1.0, 10.0, 10, 20, 10, "%1.f"},
        {"samples", 5.0, 5.0, 2, 10, 10, "%1.f"}, // exactly 5 points: neither search moves
        {"msec", 1.0, 24.0, 2, 4, 2, "%1.f"},
        {"msec", 100.0, 24.0, 2, 20, 2, "%.2f"},
        {"feet", 1.0, 48000.0 / 1125.0 / 2.0, 2, 4, 2, "%1.f"},
    };
    for (const Case& c : cases) {
        ruler->setMeasurementUnits(QString::fromLatin1(c.unit));
        client->setZoom(c.zoom);
        EXPECT_NEAR(ruler->markDistance(), c.markDistance, 1e-3) << c.unit << " " << c.zoom;
        EXPECT_GE(ruler->markDistance(), KOTimeRulerView::kMinimumMarkDistance - 1e-9);
        EXPECT_GE(ruler->labelDistance(), KOTimeRulerView::kMinimumLabelDistance - 1e-9);
        EXPECT_EQ(ruler->marksToMidMark(), c.mid) << c.unit << " " << c.zoom;
        EXPECT_EQ(ruler->marksToBigMark(), c.big) << c.unit << " " << c.zoom;
        EXPECT_EQ(ruler->marksToLabel(), c.label) << c.unit << " " << c.zoom;
        EXPECT_EQ(ruler->labelFormat(), QString::fromLatin1(c.format)) << c.unit;
    }
}

TEST_F(RulerTest, StepsCycleUpAndDown) {
    const std::pair<std::int64_t, double> cases[] = {{1, 2}, {2, 5},  {3, 10},  {4, 2},
                                                     {0, 2}, {-1, 5}, {-2, 10}, {-3, 2}};
    for (const auto& [index, step] : cases) {
        EXPECT_DOUBLE_EQ(ruler->stepForIndex(index), step) << index;
    }
}

TEST_F(RulerTest, LabelsCountFromTheDocumentOrigin) {
    struct Case {
        double scroll, offset;
        std::vector<QString> labels;
        double firstX;
    };
    const Case cases[] = {
        {0, 0, {"0.0", "0.5", "1.0", "1.5", "2.0"}, 0.0},
        {100, 0, {"0.5", "1.0", "1.5", "2.0", "2.5"}, 48000.0 / 343.0 / 2.0 - 100.0},
        // The label before the shifted zero would stand left of the document: it is left out.
        {0, 35, {"0.0", "0.5", "1.0", "1.5"}, 35.0},
    };
    for (const Case& c : cases) {
        client->setScrollOrigin(c.scroll);
        ruler->setOriginOffset(c.offset);
        const auto labels = ruler->labelsBetween(0.0, 300.0);
        EXPECT_EQ(texts(labels), c.labels) << c.scroll << " " << c.offset;
        ASSERT_FALSE(labels.empty());
        EXPECT_NEAR(labels.front().x, c.firstX, 1e-4);
    }
}

TEST_F(RulerTest, MarkLengthsFollowTheirIndex) {
    const auto marks = ruler->marksBetween(0.0, 100.0);
    ASSERT_EQ(marks.size(), 8u); // 0 ... 7 x 13.99 points
    for (std::size_t k = 0; k < marks.size(); ++k) {
        EXPECT_EQ(marks[k].x, std::round(double(k) * 48000.0 / 3430.0) + 0.5) << k;
        EXPECT_EQ(marks[k].length, k % 5 == 0 ? 16.0 : 2.0) << k;
    }
    ruler->setMeasurementUnits(QStringLiteral("msec"));
    const auto msec = ruler->marksBetween(0.0, 100.0); // every 24 points, mid 2, big 4, label 2
    ASSERT_EQ(msec.size(), 5u);
    EXPECT_EQ(msec[1].length, 2.0);
    EXPECT_EQ(msec[2].length, 16.0);
}

TEST_F(RulerTest, RendersLongMarksAtTheLabels) {
    const QImage image = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb foreground = QColor(Qt::lightGray).rgb();
    // y-up baseline at 1: long marks reach y-up 17 (row 5), short ones y-up 3 (row 19).
    EXPECT_EQ(image.pixel(70, 10), foreground) << "the 0.5 m mark";
    EXPECT_EQ(image.pixel(140, 10), foreground) << "the 1.0 m mark";
    EXPECT_NE(image.pixel(42, 10), foreground) << "a short mark stays short";
    EXPECT_EQ(image.pixel(42, 20), foreground);
    EXPECT_EQ(image.pixel(300, 20), foreground) << "the baseline";
    int labelPixels = 0;
    for (int x = 72; x < 100; ++x) {
        for (int y = 3; y < 18; ++y) {
            labelPixels += image.pixel(x, y) != image.pixel(60, 3) ? 1 : 0;
        }
    }
    EXPECT_GT(labelPixels, 5) << "\"0.5\" beside its mark";
}

TEST_F(RulerTest, ZoomAndUnitChangesRecomputeTheSpacing) {
    EXPECT_NEAR(ruler->unitToRuler(), 48000.0 / 343.0, 1e-3);
    client->setZoom(2.0);
    EXPECT_FALSE(ruler->cacheIsValid());
    EXPECT_NEAR(ruler->unitToRuler(), 2.0 * 48000.0 / 343.0, 1e-3);
    client->setScrollOrigin(500.0);
    EXPECT_TRUE(ruler->cacheIsValid()) << "scrolling keeps the spacing";
    ruler->setMeasurementUnits(QStringLiteral("samples"));
    EXPECT_FALSE(ruler->cacheIsValid());
    EXPECT_EQ(ruler->unitToRuler(), 2.0);
}

TEST_F(RulerTest, UnitsFollowTheSampleRate) {
    EXPECT_NEAR(ruler->unitToRuler(), 48000.0 / 343.0, 1e-3);
    rate.rate = 96000.0;
    postReload();
    EXPECT_NEAR(ruler->unitToRuler(), 96000.0 / 343.0, 1e-3);
    rate.rate = 0.0; // no device: the formatter's fallback rate, never a zero factor
    postReload();
    EXPECT_NEAR(ruler->unitToRuler(), KODistanceFormatter::kFallbackSampleRate / 343.0, 1e-3);
    rate.rate = 48000.0;
    postReload();
    EXPECT_NEAR(ruler->unitToRuler(), 48000.0 / 343.0, 1e-3);
}

TEST_F(RulerTest, ClientWithoutADocumentDrawsNothing) {
    client->setVector(nullptr);
    EXPECT_TRUE(ruler->marksBetween(0.0, 600.0).empty());
    EXPECT_TRUE(ruler->labelsBetween(0.0, 600.0).empty());
    host.grab();
}

TEST_F(RulerTest, RefusesWhatItCannotMeasure) {
    QWidget plain;
    auto message = [](auto&& make) -> std::string {
        try {
            make();
        } catch (const std::invalid_argument& error) {
            return error.what();
        }
        return "no error";
    };
    EXPECT_EQ(message([&] { KOTimeRulerView r(client, Qt::Vertical); }),
              "Invalid parameter not satisfying: orientation == Qt::Horizontal");
    EXPECT_EQ(message([&] { KOTimeRulerView r(&plain, Qt::Horizontal); }),
              "Invalid parameter not satisfying: scrollView");
    EXPECT_EQ(message([&] { KOTimeRulerView r(nullptr, Qt::Horizontal); }),
              "Invalid parameter not satisfying: scrollView");
    EXPECT_EQ(message([&] { ruler->setMeasurementUnits(QStringLiteral("parsec")); }),
              "unit is nil");
    EXPECT_EQ(ruler->measurementUnits(), QStringLiteral("meter"));
}

TEST_F(RulerTest, MarkersAreDraggedAsTheClientAllows) {
    using koru::framework::RulerMarker;
    client->setZoom(2.0);
    client->setScrollOrigin(10.0);
    ruler->setMarkers({{QStringLiteral("KOTimRuler.ZeroPoint"), 20.0, Qt::green, true},
                       {QStringLiteral("KOTimRuler.DelayTime"), 100.0, Qt::red, true},
                       {QStringLiteral("fixed"), 150.0, Qt::yellow, false}});
    EXPECT_EQ(ruler->rulerX(100.0), 180.0);
    auto drag = [&](double fromX, int toX) {
        QTest::mousePress(ruler, Qt::LeftButton, {}, QPoint(int(fromX), 10));
        QTest::mouseMove(ruler, QPoint(toX, 10));
        QTest::mouseRelease(ruler, Qt::LeftButton, {}, QPoint(toX, 10));
    };
    drag(ruler->rulerX(100.0) + 3, 301); // to sample 10 + 301 / 2 = 160.5
    EXPECT_EQ(client->proposed, std::vector<double>{160.5});
    EXPECT_EQ(ruler->markers()[1].location, 160.0) << "where the client put it";
    EXPECT_EQ(client->moved, std::vector<QString>{QStringLiteral("KOTimRuler.DelayTime")});
    drag(ruler->rulerX(20.0), 100);  // refused by the client
    drag(ruler->rulerX(150.0), 400); // not movable
    drag(50.0, 400);                 // no marker there
    EXPECT_EQ(ruler->markers()[0].location, 20.0);
    EXPECT_EQ(ruler->markers()[2].location, 150.0);
    EXPECT_EQ(client->moved.size(), 1u);

    const QImage image = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int tip = int(ruler->rulerX(160.0));
    EXPECT_EQ(image.pixel(tip, 22 - 8), QColor(Qt::red).rgb()) << "the triangle above its place";
}

TEST_F(RulerTest, AnotherClientViewIsFollowed) {
    MarkerClient other(&host);
    other.setGeometry(100, 50, 300, 50);
    other.setVector(SDFloatVector::vectorWithLength(1000));
    other.show();
    ruler->setClientView(&other);
    EXPECT_EQ(ruler->clientView(), &other);
    EXPECT_EQ(ruler->documentLeft(), 100.0);
    EXPECT_EQ(ruler->documentRight(), 1100.0);
    other.setZoom(0.5);
    EXPECT_FALSE(ruler->cacheIsValid());
    EXPECT_NEAR(ruler->unitToRuler(), 0.5 * 48000.0 / 343.0, 1e-3);
    QWidget plain;
    EXPECT_THROW(ruler->setClientView(&plain), std::invalid_argument);
    EXPECT_EQ(ruler->clientView(), &other);
    ruler->setClientView(client);
}

TEST(KOTimeRulerUnit, RefusesUnitsThatCouldNotBeSpaced) {
    struct Case {
        const char* name;
        const char* abbreviation;
        double factor;
        std::vector<double> up, down;
        const char* condition;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"", "x", 1.0, {2}, {0.5}, "unitName"},
        {"x", "", 1.0, {2}, {0.5}, "abbreviation"},
        {"x", "x", 0.0, {2}, {0.5}, "isnormal(conversionFactor)"},
        {"x", "x", nan, {2}, {0.5}, "isnormal(conversionFactor)"},
        {"x", "x", -3.0, {2}, {0.5}, "isnormal(conversionFactor)"},
        {"x", "x", 1.0, {2}, {}, "stepDownCycle"},
        {"x", "x", 1.0, {2}, {1.0}, "stepDownCycle"},
        {"x", "x", 1.0, {}, {0.5}, "stepUpCycle"},
        {"x", "x", 1.0, {2, 1}, {0.5}, "stepUpCycle"},
    };
    for (const Case& c : cases) {
        try {
            KOTimeRulerUnit unit(QString::fromLatin1(c.name), QString::fromLatin1(c.abbreviation),
                                 c.factor, c.up, c.down);
            ADD_FAILURE() << c.condition << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()),
                      std::string("Invalid parameter not satisfying: ") + c.condition);
        }
    }
}

TEST(KOTimeRulerUnit, RegistrationReplacesAUnitOfTheSameName) {
    KOTimeRulerView::registerUnitWithName(QStringLiteral("furlong"), QStringLiteral("fur"), 10.0,
                                          {2, 5, 10}, {0.5, 0.2, 0.1});
    KOTimeRulerView::registerUnitWithName(QStringLiteral("furlong"), QStringLiteral("fur"), 20.0,
                                          {2, 5, 10}, {0.5, 0.2, 0.1});
    ASSERT_NE(KOTimeRulerView::unitWithName(QStringLiteral("furlong")), nullptr);
    EXPECT_EQ(KOTimeRulerView::unitWithName(QStringLiteral("furlong"))->conversionFactor(), 20.0);
    EXPECT_EQ(KOTimeRulerView::unitWithName(QStringLiteral("fathom")), nullptr);
}

} // namespace
