#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/ZOLogViewMath.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

using koru::platform::fourCC;

TEST(KOFFTDrawingData, StartsFromItsArgumentsAndDefaults) {
    const KOFFTDrawingData data(KOFFTDrawingData::kFilled, true, -144.0);
    EXPECT_EQ(data.drawMode(), KOFFTDrawingData::kFilled);
    EXPECT_TRUE(data.visible());
    EXPECT_EQ(data.offset(), -144.0);
    EXPECT_EQ(data.accumulationMode(), fourCC("whit"));
    EXPECT_EQ(data.layerWidth(), 250.0);
    EXPECT_FALSE(data.invert());
    EXPECT_FALSE(data.showDetails());
    EXPECT_EQ(data.Buffer(), nullptr);
    EXPECT_EQ(data.LogViewMath().bandsPerOctave(), 3);
    EXPECT_EQ(data.LogViewMath().lowFrequency(), 50.0);
    EXPECT_EQ(data.LogViewMath().highFrequency(), 20000.0);
    EXPECT_GE(data.Color().blueF(), 0.5f - 1e-4f);
}

class DrawingDataWithBuffer : public testing::Test {
protected:
    DrawingDataWithBuffer() { data.SetBuffer(&buffer); }
    KOFloatBuffer buffer{8192};
    KOFFTDrawingData data{KOFFTDrawingData::kContinuous, true, -144.0};
};

TEST_F(DrawingDataWithBuffer, BufferSizesTheAxisAtTheLayerWidth) {
    const ZOLogViewMath& math = data.LogViewMath();
    EXPECT_EQ(math.fftSize(), 8192u);
    EXPECT_EQ(math.width(), 250.0);
    EXPECT_GT(math.numLayerPoints(), 0);

    const KOFloatBuffer* positions = math.binPositions();
    data.SetBuffer(nullptr);
    EXPECT_EQ(data.Buffer(), nullptr);
    EXPECT_EQ(math.binPositions(), positions); // nothing else changed
}

TEST_F(DrawingDataWithBuffer, UnchangedParametersRecomputeNothing) {
    data.UpdateParameters(6, 20.0, 20000.0, 1200.0, 24000.0);
    const ZOLogViewMath& math = data.LogViewMath();
    EXPECT_EQ(math.width(), 1200.0);
    EXPECT_EQ(math.bandsPerOctave(), 6);
    EXPECT_EQ(math.nyquist(), 24000.0);
    const KOFloatBuffer* positions = math.binPositions();
    data.UpdateParameters(6, 20.0, 20000.0, 1200.0, 24000.0);
    EXPECT_EQ(math.binPositions(), positions);
}

TEST_F(DrawingDataWithBuffer, ZeroOctavesKeepTheBandSetting) {
    data.UpdateParameters(12, 50.0, 20000.0, 800.0);
    data.UpdateParameters(0, 50.0, 20000.0, 800.0);
    EXPECT_EQ(data.LogViewMath().bandsPerOctave(), 12);
}

TEST_F(DrawingDataWithBuffer, FollowsARangeMovedUpwards) {
    data.UpdateParameters(3, 50.0, 5000.0, 800.0);
    data.UpdateParameters(3, 2000.0, 20000.0, 800.0);
    EXPECT_EQ(data.LogViewMath().lowFrequency(), 2000.0);
    EXPECT_EQ(data.LogViewMath().highFrequency(), 20000.0);
}

TEST(KOFFTDrawingData, CopiedSettingsLeaveColourDetailsWidthAndBuffer) {
    KOFloatBuffer buffer(8192);
    KOFFTDrawingData live(KOFFTDrawingData::kPeakBars, false, -120.0);
    live.setInvert(true);
    live.setAccumulationMode(fourCC("peak"));
    live.LogViewMath().setOctaveMode(12);
    KOFFTDrawingData snapshot(KOFFTDrawingData::kContinuous, true, -144.0);
    snapshot.SetBuffer(&buffer);
    snapshot.setShowDetails(true);
    const QColor colour = snapshot.Color();

    snapshot.CopySettingsFrom(live);
    EXPECT_EQ(snapshot.drawMode(), KOFFTDrawingData::kPeakBars);
    EXPECT_FALSE(snapshot.visible());
    EXPECT_EQ(snapshot.offset(), -120.0);
    EXPECT_TRUE(snapshot.invert());
    EXPECT_EQ(snapshot.accumulationMode(), fourCC("peak"));
    EXPECT_EQ(snapshot.LogViewMath().bandsPerOctave(), 12);
    EXPECT_EQ(snapshot.Color(), colour);
    EXPECT_TRUE(snapshot.showDetails());
    EXPECT_EQ(snapshot.Buffer(), &buffer);
}

TEST(KOFFTDrawingData, DrawingOnlyTriesTheLockButColourWaitsForIt) {
    KOFFTDrawingData data(KOFFTDrawingData::kContinuous, true, -144.0);
    ASSERT_TRUE(data.TryLock());
    auto other = std::async(std::launch::async, [&] { return data.TryLock(); });
    EXPECT_FALSE(other.get());

    const QColor red(Qt::red);
    std::promise<void> started;
    std::atomic<bool> setterDone{false};
    auto setter = std::async(std::launch::async, [&] {
        started.set_value();
        data.SetColor(red);
        setterDone = true;
    });
    started.get_future().wait();
    // A setter that did not wait for the drawing's lock would be done in the meantime.
    bool doneWhileLocked = false;
    for (int i = 0; i < 20000 && !doneWhileLocked; ++i) {
        doneWhileLocked = setterDone.load();
        std::this_thread::yield();
    }
    data.Unlock();
    setter.get();
    EXPECT_FALSE(doneWhileLocked);
    EXPECT_EQ(data.Color(), red);
}

} // namespace
