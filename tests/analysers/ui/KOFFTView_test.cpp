#include "analysers/KOSpectrumAnaWrapperBase.h"
#include "analysers/ui/KOFFTView.h"
#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/exceptions/InternalInconsistencyException.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using koru::platform::InternalInconsistencyException;

namespace {

constexpr double kNyquist = 24000.0;

// A spectrum model whose instantaneous spectrum is one flat level, drawn as a line.
class FlatSpectrum : public KOSpectrumAnaWrapperBase {
public:
    QString archiveClassName() const override { return QStringLiteral("FlatSpectrum"); }
    void setLevel(float linear, const QColor& colour) {
        {
            const std::lock_guard lock(modelLock());
            KOFloatBuffer* inst = instData();
            for (std::uint32_t i = 0; i < inst->Length(); ++i)
                inst->Data()[i] = linear;
        }
        setColor(colour, kInstantaneousTrace);
        setDrawingMode(KOFFTDrawingData::kContinuous, kInstantaneousTrace);
        setDraws(false, kPeakTrace);
        setDraws(false, kAverageTrace);
    }
};

std::shared_ptr<FlatSpectrum> flat(float linear, const QColor& colour) {
    auto model = std::make_shared<FlatSpectrum>();
    model->initWithName(QStringLiteral("Flat"), 16384);
    model->setLevel(linear, colour);
    return model;
}

class SpectrumPlot : public ::testing::Test {
protected:
    SpectrumPlot() {
        view.resize(400, 200);
        view.awakeFromNib();
        view.setFFTSize(16384);
        view.show();
    }
    // The strongest red and green seen in the plot's middle column around the row of `decibels`.
    std::pair<int, int> redAndGreenNear(double decibels) {
        const QImage image = view.grab().toImage();
        const double row = image.height() * (1.0 - (decibels + 96.0) / 96.0);
        int red = 0;
        int green = 0;
        for (int y = int(row) - 3; y <= int(row) + 3; ++y) {
            const QColor seen = image.pixelColor(image.width() / 2, y);
            red = std::max(red, seen.red() - seen.green());
            green = std::max(green, seen.green() - seen.red());
        }
        return {red, green};
    }

    KOFFTView view{nullptr, kNyquist};
};

TEST_F(SpectrumPlot, ShownModelsAreDrawnInOrderAndHiddenOnesNot) {
    const QColor red(255, 0, 0);
    const QColor green(0, 255, 0);
    auto under = flat(0.1f, red); // -20 dB
    auto over = flat(0.1f, green);
    std::vector<std::shared_ptr<KOInstrumentWrapper>> models{under, over};

    ASSERT_TRUE(view.buildLayerWithWrappers(models));
    EXPECT_TRUE(view.viewIsDirty());
    EXPECT_FALSE(view.buildLayerWithWrappers(models)) << "rebuilt before the frame was shown";
    view.redrawTimer();
    auto [reddish, greenish] = redAndGreenNear(-20.0);
    EXPECT_GT(greenish, 100) << "the later model is not on top";
    EXPECT_LT(reddish, 20);

    over->setShow(false);
    ASSERT_TRUE(view.buildLayerWithWrappers(models));
    view.redrawTimer();
    std::tie(reddish, greenish) = redAndGreenNear(-20.0);
    EXPECT_GT(reddish, 100);
    EXPECT_LT(greenish, 20);

    // Models of another kind are passed over.
    under->setShow(false);
    models.push_back(nullptr);
    ASSERT_TRUE(view.buildLayerWithWrappers(models));
    view.redrawTimer();
    std::tie(reddish, greenish) = redAndGreenNear(-20.0);
    EXPECT_LT(reddish, 20);
    EXPECT_LT(greenish, 20);
}

TEST_F(SpectrumPlot, OctaveResolutionIsOneToTwentyFourAndSavedWithTheBounds) {
    EXPECT_EQ(view.getLowerFBound(), 50.0f);
    EXPECT_EQ(view.getUpperFBound(), float(kNyquist));
    EXPECT_EQ(view.getLowerMagBound(), -96.0f);
    EXPECT_EQ(view.getUpperMagBound(), 0.0f);
    for (int mode : {1, 3, 6, 12, 24, 5}) {
        view.setOctaveMode(mode);
        EXPECT_EQ(view.octaveMode(), mode);
    }
    struct Case {
        int mode;
        const char* message;
    };
    for (const Case& c : {Case{0, "octave Mode is < 0"}, Case{-3, "octave Mode is < 0"},
                          Case{25, "invalid octave Mode"}, Case{30, "invalid octave Mode"}}) {
        try {
            view.setOctaveMode(c.mode);
            ADD_FAILURE() << c.mode << " was taken";
        } catch (const InternalInconsistencyException& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(view.octaveMode(), 5);
    }

    view.setOctaveMode(6);
    view.setLoMagLimit(-80.0f);
    const QVariantMap saved = view.settingsAsDictionary();
    EXPECT_EQ(saved.value("FFTView.octaveMode").toInt(), 6);
    KOFFTView other{nullptr, kNyquist};
    other.restoreSettingsFromDictionary(saved);
    EXPECT_EQ(other.settingsAsDictionary(), saved);

    // A missing or impossible resolution keeps the current one and raises nothing.
    for (const QVariant& bad : {QVariant(), QVariant(0), QVariant(30), QVariant("fine")}) {
        QVariantMap damaged = saved;
        if (bad.isValid())
            damaged.insert("FFTView.octaveMode", bad);
        else
            damaged.remove("FFTView.octaveMode");
        other.setOctaveMode(12);
        EXPECT_NO_THROW(other.restoreSettingsFromDictionary(damaged));
        EXPECT_EQ(other.octaveMode(), 12) << bad.toString().toStdString();
        EXPECT_EQ(other.getLowerMagBound(), -80.0f);
    }
}

} // namespace
