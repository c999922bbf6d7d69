#include "KOFFTDrawingData.h"

#include "KOColorAdditions.h"
#include "ZOLogViewMath.h"
#include "engine/KOFloatBuffer.h"
#include "platform/fourcc/FourCC.h"

KOFFTDrawingData::KOFFTDrawingData(std::uint32_t drawMode, bool visible, double offset)
    : mColor(KOColorAdditions::nextColor().toRgb()), mDrawMode(drawMode),
      mAccumulation(koru::platform::fourCC("whit")), mOffset(offset), mVisible(visible),
      mLogViewMath(std::make_unique<ZOLogViewMath>(3, 50.0, 20000.0)) {}

KOFFTDrawingData::~KOFFTDrawingData() = default;

KOFFTDrawingData& KOFFTDrawingData::CopySettingsFrom(const KOFFTDrawingData& other) {
    setOffset(other.offset());
    setVisible(other.visible());
    setInvert(other.invert());
    setDrawMode(other.drawMode());
    setAccumulationMode(other.accumulationMode());
    mLogViewMath->setOctaveMode(other.LogViewMath().bandsPerOctave());
    return *this;
}

void KOFFTDrawingData::SetBuffer(KOFloatBuffer* buffer) {
    mBuffer.store(buffer);
    if (buffer != nullptr) {
        mLogViewMath->SetFFTSize(buffer->Length(), layerWidth());
    }
}

void KOFFTDrawingData::SetColor(const QColor& color) {
    std::lock_guard lock(mLock);
    mColor = color;
}

void KOFFTDrawingData::UpdateParameters(int octaves, double lowHz, double highHz, double width,
                                        double nyquist) {
    mLayerWidth.store(width, std::memory_order_relaxed);
    ZOLogViewMath& math = *mLogViewMath;
    if (nyquist > 0.0 && nyquist != math.nyquist()) {
        math.setNyquist(nyquist);
    }
    // Both bounds at once: applied one after the other, the old upper bound would hold a
    // raised lower bound back.
    if (lowHz != math.lowFrequency() || highHz != math.highFrequency()) {
        math.setFrequencyRange(lowHz, highHz);
    }
    if (math.width() != width) {
        const KOFloatBuffer* buffer = Buffer();
        math.SetFFTSize(buffer != nullptr ? buffer->Length() : math.fftSize(), width);
    }
    if (octaves != 0 && octaves != math.bandsPerOctave()) {
        math.setOctaveMode(octaves);
    }
}
