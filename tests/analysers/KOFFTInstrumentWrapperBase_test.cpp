#include "analysers/KOFFTInstrumentWrapperBase.h"

#include "SpectrumTestSupport.h"
#include "analysers/KOSpectrumAnalyzerSnapshot.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using koru::platform::fourCC;
using koru::platform::InternalInconsistencyException;

namespace {

// The model base as the windows see it, on a model that needs no audio device.
std::unique_ptr<KOFFTInstrumentWrapperBase> makeModel() {
    auto model = std::make_unique<KOSpectrumAnalyzerSnapshot>();
    model->initWithName(QStringLiteral("Trace"), 8192);
    return model;
}

TEST(KOFFTInstrumentWrapperBase, NewModelHasThreeTracesAtTheFloorAndIsShown) {
    const auto model = makeModel();
    EXPECT_TRUE(model->show());
    EXPECT_EQ(model->octaveMode(), 3);
    for (int trace = 0; trace < KOFFTInstrumentWrapperBase::kTraceCount; ++trace) {
        const KOFFTDrawingData& data = *model->drawingDataForTrace(trace);
        EXPECT_TRUE(data.visible()) << trace;
        EXPECT_EQ(data.offset(), -144.0) << trace;
        EXPECT_FALSE(data.showDetails()) << trace;
    }
    // The spectrum's peak trace draws peak bars, the others octave bars.
    EXPECT_EQ(model->drawingModeForTrace(0), KOFFTDrawingData::kOctaveBars);
    EXPECT_EQ(model->drawingModeForTrace(1), KOFFTDrawingData::kPeakBars);
    EXPECT_EQ(model->drawingModeForTrace(2), KOFFTDrawingData::kOctaveBars);
}

struct TraceOperation {
    const char* name;
    std::function<void(KOFFTInstrumentWrapperBase&, int)> run;
};

class TraceIndex : public ::testing::TestWithParam<TraceOperation> {};

TEST_P(TraceIndex, OutsideZeroToTwoIsAProgrammingError) {
    const auto model = makeModel();
    for (int index : {-1, 3}) {
        try {
            GetParam().run(*model, index);
            ADD_FAILURE() << GetParam().name << " accepted trace " << index;
        } catch (const InternalInconsistencyException& error) {
            EXPECT_EQ(error.reason(), QStringLiteral("traceIndex out of range"));
        }
    }
    EXPECT_NO_THROW(GetParam().run(*model, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, TraceIndex,
    ::testing::Values(
        TraceOperation{"setColor", [](auto& m, int i) { m.setColor(Qt::red, i); }},
        TraceOperation{"colorForTrace", [](auto& m, int i) { (void)m.colorForTrace(i); }},
        TraceOperation{"setDrawingMode", [](auto& m, int i) { m.setDrawingMode(1, i); }},
        TraceOperation{"drawingModeForTrace",
                       [](auto& m, int i) { (void)m.drawingModeForTrace(i); }},
        TraceOperation{"setDraws", [](auto& m, int i) { m.setDraws(false, i); }},
        TraceOperation{"drawsTraceNumber", [](auto& m, int i) { (void)m.drawsTraceNumber(i); }}),
    [](const auto& info) { return std::string(info.param.name); });

// The window redraws on colour and visibility changes; drawing modes reach the plot on its next
// rebuild without a call.
TEST(KOFFTInstrumentWrapperBase, TellsTheDelegateWhatTheWindowMustRedraw) {
    const auto model = makeModel();
    koru::test::RecordingFFTDelegate delegate;
    model->setDelegate(&delegate);
    int propertyChanges = 0;
    QObject::connect(model.get(), &KOFFTInstrumentWrapperBase::traceAttributesChanged,
                     [&] { ++propertyChanges; });

    // A colour without RGB components is stored by its RGB values.
    model->setColor(QColor::fromHsvF(0.5f, 1.0f, 1.0f), 1);
    EXPECT_EQ(model->colorForTrace(1).rgba(), QColor::fromRgbF(0.0f, 1.0f, 1.0f).rgba());
    EXPECT_EQ(model->property("color2").value<QColor>(), model->colorForTrace(1));
    EXPECT_EQ(delegate.colorChanges, 1);

    model->setProperty("drawTrace3", false);
    EXPECT_FALSE(model->drawsTraceNumber(2));
    EXPECT_EQ(delegate.drawingChanges, 1);

    model->setProperty("drawModeTrace1", int(KOFFTDrawingData::kFilled));
    EXPECT_EQ(model->drawingModeForTrace(0), KOFFTDrawingData::kFilled);
    EXPECT_EQ(delegate.drawingChanges, 1);
    EXPECT_EQ(propertyChanges, 3);

    model->setFFTSize(32768);
    EXPECT_EQ(delegate.sizes, std::vector<std::uint32_t>{32768});
    model->setWindowType(fourCC("rect"));
    EXPECT_EQ(delegate.windowTypes, std::vector<std::uint32_t>{fourCC("hann")});

    // The instruments table switches models on and off through the "show" property.
    model->setProperty("show", false);
    EXPECT_FALSE(model->show());
}

TEST(KOFFTInstrumentWrapperBase, AccumulationModeAppliesToAllTracesAndOctavesAreClamped) {
    const auto model = makeModel();
    model->setAccumulationMode(fourCC("peak"));
    for (int trace = 0; trace < 3; ++trace)
        EXPECT_EQ(model->drawingDataForTrace(trace)->accumulationMode(), fourCC("peak"));
    EXPECT_EQ(model->accumulationMode(), fourCC("peak"));
    model->setOctaveMode(12);
    EXPECT_EQ(model->octaveMode(), 12);
    model->setOctaveMode(40);
    EXPECT_EQ(model->octaveMode(), 24);
}

TEST(KOFFTInstrumentWrapperBase, ColumnsOtherThanFrequencyAreDecibels) {
    const auto model = makeModel();
    EXPECT_EQ(model->unitForHeader(QStringLiteral("f")), QStringLiteral("Hz"));
    EXPECT_EQ(model->unitForHeader(QStringLiteral("Peak")), QStringLiteral("dB"));
    EXPECT_NE(model->formatterForHeader(QStringLiteral("f")), nullptr);
    EXPECT_NE(model->formatterForHeader(QStringLiteral("Avg")), nullptr);
    EXPECT_TRUE(model->canExportData());
}

} // namespace
