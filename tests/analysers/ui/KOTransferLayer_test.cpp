#include "analysers/ui/KOTransferLayer.h"

#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/ZOLogViewMath.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

struct BandCase {
    const char* name;
    std::vector<float> magnitude; // decibels unless `linear`
    std::vector<float> coherence;
    bool linear;
    double offset;
    bool invert;
    double value;
    double weight;
};

class TransferBand : public ::testing::TestWithParam<BandCase> {};

TEST_P(TransferBand, IsTheCoherenceWeightedMeanOrTheOffset) {
    const BandCase& c = GetParam();
    KOFloatBuffer magnitude(c.magnitude.data(), std::uint32_t(c.magnitude.size()), !c.linear);
    KOFloatBuffer coherence(c.coherence.data(), std::uint32_t(c.coherence.size()), true);
    const auto band = KOTransferLayer::bandValue(
        magnitude, coherence, 0, std::uint32_t(c.magnitude.size()), c.offset, c.invert);
    EXPECT_NEAR(band.value, c.value, 1e-5);
    EXPECT_NEAR(band.weight, c.weight, 1e-9);
    // The buffer is read, never converted in place.
    EXPECT_EQ(magnitude.IsDecibel(), !c.linear);
}

const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Bands, TransferBand,
    ::testing::Values(
        BandCase{"Weighted", {0.0f, -20.0f}, {1.0f, 0.25f}, false, 0.0, false, -4.0, 0.625},
        BandCase{"NoCoherence", {-3.0f, -6.0f}, {0.0f, 0.0f}, false, 0.0, false, 0.0, 0.0},
        BandCase{"NoCoherenceWithOffset", {-3.0f}, {0.0f}, false, 5.0, false, 5.0, 0.0},
        BandCase{"TooLoud", {150.0f}, {1.0f}, false, 0.0, false, 0.0, 0.0},
        BandCase{"OffsetThenInvert", {-10.0f}, {1.0f}, false, 6.0, true, 4.0, 1.0},
        BandCase{"LinearPowerRatio", {0.01f, 0.01f}, {0.5f, 0.5f}, true, 0.0, false, -20.0, 0.5},
        // Silence in a coherent bin lands on the floor instead of -inf.
        BandCase{"LinearSilence", {0.0f}, {1.0f}, true, 0.0, false, -144.0, 1.0},
        BandCase{"NotFinite", {-kInf, 0.0f}, {1.0f, 1.0f}, false, 0.0, false, -72.0, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

// A 0 dB transfer with full coherence over a 400 x 300 layer: the magnitude line on its row, the
// phase at mid height, the coherence band (drawn once for two measurements) along the top.
TEST(KOTransferLayer, DrawsMagnitudePhaseAndOneCoherenceBand) {
    constexpr std::uint32_t kSize = 16384;
    constexpr int kWidth = 400;
    constexpr int kHeight = 300;
    KOFloatBuffer magnitude(kSize), phase(kSize), coherence(kSize);
    magnitude.Fill(1.0f); // |H|² = 1: 0 dB
    coherence.Fill(1.0f);
    coherence.SetDecibel(true);
    phase.Fill(1.0f);
    phase.SetDecibel(true);
    KOFFTDrawingData mag(KOFFTDrawingData::kContinuous, true, 0.0);
    KOFFTDrawingData phi(KOFFTDrawingData::kContinuous, true, 0.0);
    KOFFTDrawingData coh(KOFFTDrawingData::kContinuous, true, 0.0);
    for (auto [data, buffer] :
         {std::pair{&mag, &magnitude}, std::pair{&phi, &phase}, std::pair{&coh, &coherence}}) {
        data->SetBuffer(buffer);
        data->UpdateParameters(3, 50.0, 20000.0, kWidth, 24000.0);
        data->SetColor(Qt::white);
    }
    KOFFTLayer layer(&mag.LogViewMath(), kWidth, kHeight, -30.0, 30.0);
    KOTransferLayer transfer(layer, kHeight);
    transfer.draw(mag, phi, coh);
    transfer.draw(mag, phi, coh);
    ASSERT_TRUE(transfer.coherenceBackgroundDrawn());
    const QImage image = layer.image().copy();

    const auto alphaAt = [&image](int x, int yUp) {
        return qAlpha(image.pixel(x, image.height() - 1 - yUp));
    };
    // 0 dB on a -30..30 plot: the middle row; nothing well away from it in that column.
    const int middle = kHeight / 2;
    const int column = kWidth / 2;
    EXPECT_GT(std::max({alphaAt(column, middle), alphaAt(column, middle - 1),
                        alphaAt(column, middle + 1)}),
              200);
    EXPECT_EQ(alphaAt(column, middle - 40), 0);
    EXPECT_EQ(alphaAt(column, middle + 40), 0);
    // A phase of 1 rad at (1 + 3.14) / 6.28 of the height.
    const int phaseRow = int(std::round(transfer.yForPhase(1.0)));
    EXPECT_GT(std::max({alphaAt(column, phaseRow), alphaAt(column, phaseRow - 1),
                        alphaAt(column, phaseRow + 1)}),
              100);
    // The coherence band: half-transparent black between its two lines, clear below.
    const int bandMiddle = int(transfer.yForCoherence(0.5));
    EXPECT_NEAR(alphaAt(column, bandMiddle), 128, 2);
    EXPECT_EQ(qRed(image.pixel(column, image.height() - 1 - bandMiddle)), 0);
    EXPECT_EQ(alphaAt(column, int(transfer.yForCoherence(0.0)) - 5), 0);
    // The coherence trace itself at 1: on the band's upper line.
    const int top = int(std::round(transfer.yForCoherence(1.0)));
    EXPECT_GT(std::max({alphaAt(column, top), alphaAt(column, top - 1), alphaAt(column, top + 1)}),
              150);
    // Phase mapping: ±3.14 at the edges, 0 in the middle.
    EXPECT_DOUBLE_EQ(transfer.yForPhase(-3.14), 0.0);
    EXPECT_DOUBLE_EQ(transfer.yForPhase(3.14), kHeight);
    EXPECT_DOUBLE_EQ(transfer.yForPhase(0.0), kHeight / 2.0);
    EXPECT_DOUBLE_EQ(transfer.yForCoherence(0.0), 0.85 * kHeight - 20.0);
    EXPECT_DOUBLE_EQ(transfer.yForCoherence(1.0), kHeight - 20.0);
}

// Where the coherence is 0 the magnitude fades out entirely.
TEST(KOTransferLayer, MagnitudeWithoutCoherenceIsInvisible) {
    constexpr std::uint32_t kSize = 16384;
    KOFloatBuffer magnitude(kSize), coherence(kSize);
    magnitude.Fill(1.0f);
    coherence.SetDecibel(true);
    KOFFTDrawingData mag(KOFFTDrawingData::kContinuous, true, 0.0);
    KOFFTDrawingData phi(KOFFTDrawingData::kContinuous, false, 0.0);
    KOFFTDrawingData coh(KOFFTDrawingData::kContinuous, false, 0.0);
    mag.SetBuffer(&magnitude);
    coh.SetBuffer(&coherence);
    for (KOFFTDrawingData* data : {&mag, &coh})
        data->UpdateParameters(3, 50.0, 20000.0, 400, 24000.0);
    mag.SetColor(Qt::white);
    KOFFTLayer layer(&mag.LogViewMath(), 400, 300, -30.0, 30.0);
    KOTransferLayer(layer, 300).draw(mag, phi, coh);
    const QImage image = layer.image().copy();
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_EQ(painted, 0);
}

} // namespace
