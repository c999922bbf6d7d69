#include "UtilityTestSupport.h"

#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "utility/VEBoolImageTransformer.h"
#include "utility/VEDecibelTransformer.h"
#include "utility/VEFrequencyFormatter.h"
#include "utility/ValueBinding.h"

#include <QObject>

#include <spdlog/sinks/base_sink.h>

#include <cmath>
#include <limits>

namespace {

using koru::test::LocaleTest;
using koru::utility::ValueBinding;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class TransformerTextTest : public LocaleTest {};

TEST_P(TransformerTextTest, DecibelsOfAGainAndBack) {
    const VEDecibelTransformer transformer;
    const struct {
        QVariant gain;
        const char* text;
    } forward[] = {
        {1.0, "0.0 dB"},         {0.5, "-6.0 dB"},
        {0.0, "-inf dB"},        {10.0, "20.0 dB"},
        {-0.5, "-6.0 dB"},       {kNaN, "--.- dB"},
        {QVariant(), "--.- dB"}, {QStringLiteral("0.5"), "--.- dB"},
    };
    for (const auto& c : forward)
        EXPECT_EQ(transformer.transformedValue(c.gain).toString(), QString::fromLatin1(c.text))
            << c.text;

    EXPECT_TRUE(transformer.allowsReverseTransformation());
    const struct {
        QVariant decibels;
        double gain;
    } reverse[] = {
        {-20.0, 0.1},
        {0.0, 1.0},
        {QStringLiteral("-6.0 dB"), 0.50118723},
        {QStringLiteral("-6,0 dB"), 0.50118723}, // the leading number stops at the comma
        {QStringLiteral("loud"), 1.0},
    };
    for (const auto& c : reverse)
        EXPECT_NEAR(transformer.reverseTransformedValue(c.decibels).toDouble(), c.gain, 1e-8)
            << c.decibels.toString().toStdString();
}

TEST_P(TransformerTextTest, CompactFrequenciesBothWays) {
    const struct {
        double hertz;
        const char* text;
    } shown[] = {{1250, "1k25Hz"},   {440, "440Hz"},   {1009, "1kHz"},
                 {12500, "12k50Hz"}, {20000, "20kHz"}, {2.5, "2Hz"}};
    for (const auto& c : shown)
        EXPECT_EQ(VEFrequencyFormatter::stringFromNumber(c.hertz), QString::fromLatin1(c.text));
    EXPECT_EQ(VEFrequencyFormatter::stringForObjectValue(QVariant(1250)), "1k25Hz");
    EXPECT_TRUE(VEFrequencyFormatter::stringForObjectValue(QStringLiteral("1250")).isNull());

    const struct {
        const char* text;
        double hertz;
    } read[] = {
        {"1k25", 1250},   {"1k5", 1500},  {"2k", 2000},   {"1k25Hz", 1250},
        {"12k50", 12500}, {"440Hz", 440}, {"1k2k3", 1},   {" 3 k 15 ", 3150},
        {"k5", 500},      {"", 0},        {"2,5k", 2000}, {"1K5", 1},
    };
    for (const auto& c : read) {
        EXPECT_DOUBLE_EQ(VEFrequencyFormatter::numberFromString(QString::fromLatin1(c.text)),
                         c.hertz)
            << c.text;
        QVariant value;
        EXPECT_TRUE(VEFrequencyFormatter::getObjectValue(value, QString::fromLatin1(c.text)));
        EXPECT_DOUBLE_EQ(value.toDouble(), c.hertz);
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, TransformerTextTest, koru::test::kLocales,
                         koru::test::localeName);

TEST(VEBoolImageTransformer, GreenDotForYesRedDotForNo) {
    const VEBoolImageTransformer transformer;
    const QImage yes = transformer.transformedValue(true).value<QImage>();
    const QImage no = transformer.transformedValue(false).value<QImage>();
    ASSERT_EQ(yes.size(), QSize(16, 16));
    const QColor centreYes = yes.pixelColor(8, 8);
    const QColor centreNo = no.pixelColor(8, 8);
    EXPECT_GT(centreYes.green(), 2 * centreYes.red());
    EXPECT_GT(centreNo.red(), 2 * centreNo.green());
    EXPECT_EQ(yes.pixelColor(0, 0).alpha(), 0) << "outside the dot stays clear";
    EXPECT_TRUE(transformer.allowsReverseTransformation());
}

// --- Bindings -------------------------------------------------------------------------------

class Model : public QObject {
    Q_OBJECT
    Q_PROPERTY(double gain MEMBER gain)
public:
    double gain = -1.0;
};

class LineSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<std::string> lines;

protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        lines.emplace_back(message.payload.data(), message.payload.size());
    }
    void flush_() override {}
};

class BindingTest : public testing::Test {
protected:
    BindingTest() { koru::log::logger().sinks().push_back(sink); }
    ~BindingTest() override {
        auto& sinks = koru::log::logger().sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
    }
    std::shared_ptr<LineSink> sink = std::make_shared<LineSink>();
    QObject control;
    Model model;
};

// Forward-only: refuses the reverse way.
class ForwardOnly : public koru::utility::ValueTransformer {
public:
    QVariant transformedValue(const QVariant& v) const override { return v; }
};

TEST_F(BindingTest, AValueGoesToTheModelReverseTransformed) {
    new ValueBinding(control, "value", &model, "gain", std::make_shared<VEDecibelTransformer>());
    ValueBinding::propagateValue(control, "value", -20.0, "test");
    EXPECT_NEAR(model.gain, 0.1, 1e-12);
    ValueBinding::propagateValue(control, "other", -40.0, "test");
    EXPECT_NEAR(model.gain, 0.1, 1e-12) << "no binding of that name: nothing happens";
    EXPECT_TRUE(sink->lines.empty());
}

TEST_F(BindingTest, ProblemsAreLoggedAndNothingIsWritten) {
    auto* binding =
        new ValueBinding(control, "value", &model, "gain", std::make_shared<ForwardOnly>());
    ValueBinding::propagateValue(control, "value", 3.0, "op");
    EXPECT_EQ(model.gain, 3.0) << "untransformed when the reverse way is refused";
    ASSERT_EQ(sink->lines.size(), 1u);
    EXPECT_EQ(sink->lines[0], "WARNING: binding \"value\" has value transformer, but it doesn't "
                              "allow reverse transformations in op");

    binding->setKeyPath({});
    ValueBinding::propagateValue(control, "value", 4.0, "op");
    EXPECT_EQ(sink->lines.back(),
              "ERROR: NSObservedKeyPathKey was nil for binding \"value\" in op");
    binding->setObservedObject(nullptr);
    ValueBinding::propagateValue(control, "value", 5.0, "op");
    EXPECT_EQ(sink->lines.back(), "ERROR: NSObservedObjectKey was nil for binding \"value\" in op");
    EXPECT_EQ(model.gain, 3.0);

    EXPECT_THROW(ValueBinding::propagateValue(control, QString(), 1.0, "op"),
                 koru::platform::InternalInconsistencyException);
}

} // namespace

#include "ValueTransformers_test.moc"
