#include "ZOLogViewMath.h"

#include "engine/KOFloatBuffer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array<double, 10> kR10 = {1.0, 1.25, 1.6, 2.0, 2.5, 3.15, 4.0, 5.0, 6.3, 8.0};
// Knob values come back from float and from 10^x: without slack, 50 read as 49.999999 would
// snap down to 40.
constexpr double kR10Tolerance = 1e-6;
constexpr int kMaximumBandsPerOctave = 24;

int clampedBands(int bandsPerOctave) {
    return std::clamp(bandsPerOctave, 1, kMaximumBandsPerOctave);
}

double sanitisedNyquist(double hertz) {
    if (!std::isfinite(hertz) || hertz <= 0.0) {
        return ZOLogViewMath::kDefaultNyquist;
    }
    return hertz;
}

} // namespace

ZOLogViewMath::ZOLogViewMath(int bandsPerOctave, double lowerHz, double upperHz, double nyquist)
    : mNyquist(sanitisedNyquist(nyquist)) {
    updateLogarithms();
    setLowFrequency(lowerHz);
    setHighFrequency(upperHz);
    mBandsPerOctave = clampedBands(bandsPerOctave);
}

ZOLogViewMath::~ZOLogViewMath() = default;

double ZOLogViewMath::sanitisedFrequency(double hertz) {
    if (std::isnan(hertz) || hertz <= 0.0) {
        return kMinimumFrequency;
    }
    return std::min(std::max(hertz, kMinimumFrequency), kMaximumFrequency);
}

double ZOLogViewMath::snapToR10(double hertz) {
    if (!(hertz > 0.0) || !std::isfinite(hertz)) {
        return kMinimumFrequency;
    }
    double decade = std::pow(10.0, std::floor(std::log10(hertz)));
    // log10 may round up at a decade (999.9999999 -> 3), leaving a mantissa below 1.
    if (hertz / decade < 1.0) {
        decade /= 10.0;
    } else if (hertz / decade >= 10.0) {
        decade *= 10.0;
    }
    const double mantissa = (hertz / decade) * (1.0 + kR10Tolerance);
    if (mantissa >= 10.0) {
        return 10.0 * decade; // a hair below the next decade
    }
    for (auto entry = kR10.rbegin(); entry != kR10.rend(); ++entry) {
        if (*entry <= mantissa) {
            return *entry * decade;
        }
    }
    return decade;
}

void ZOLogViewMath::applyLowFrequency(double hertz) {
    double requested = sanitisedFrequency(hertz);
    if (mHighFrequency != 0.0) {
        requested = std::min(requested, mHighFrequency / 10.0);
    }
    mLowFrequency = snapToR10(requested);
    updateLogarithms();
}

void ZOLogViewMath::applyHighFrequency(double hertz) {
    double requested = sanitisedFrequency(hertz);
    // Above 100 Hz the plot always spans a decade; below it an upper bound at or under the
    // lower one would leave an empty (or negative) range, so it gets the same decade.
    if (mLowFrequency > 100.0 || requested <= mLowFrequency) {
        requested = std::max(10.0 * mLowFrequency, requested);
    }
    mHighFrequency = requested;
    updateLogarithms();
}

void ZOLogViewMath::updateLogarithms() {
    mLogHigh = std::log10(mHighFrequency);
    mLogLow = std::log10(mLowFrequency);
    mLogRange = mLogHigh - mLogLow;
}

void ZOLogViewMath::setLowFrequency(double hertz) {
    std::lock_guard lock(mMutex);
    applyLowFrequency(hertz);
    relayout();
}

void ZOLogViewMath::setHighFrequency(double hertz) {
    std::lock_guard lock(mMutex);
    applyHighFrequency(hertz);
    relayout();
}

void ZOLogViewMath::setFrequencyRange(double lowerHz, double upperHz) {
    std::lock_guard lock(mMutex);
    // The lower bound is limited by the upper one and the upper by the lower: take the new
    // upper as it comes first, so the old range has no say in where the new one lands.
    mHighFrequency = sanitisedFrequency(upperHz);
    applyLowFrequency(lowerHz);
    applyHighFrequency(upperHz);
    relayout();
}

void ZOLogViewMath::relayout() {
    SetFFTSize(mFFTSize, mWidth);
}

double ZOLogViewMath::binPosition(std::uint32_t bin, std::uint32_t size) const {
    if (bin == 0) {
        return 0.0;
    }
    const double hertz = double(bin) * mNyquist / double(size / 2);
    return std::max(0.0, (std::log10(hertz) - mLogLow) / mLogRange);
}

void ZOLogViewMath::SetFFTSize(std::uint32_t size, double width) {
    if (size < 128 || !(width >= 1.0)) {
        return;
    }
    std::lock_guard lock(mMutex);
    mFFTSize = size;
    const double step = 1.0 / width;
    mLayerPoints.clear();
    mPoints.clear();
    double last = 0.0;
    for (std::uint32_t bin = 0; bin < size / 2; ++bin) {
        const double x = binPosition(bin, size);
        if (x > last + step) {
            mLayerPoints.push_back({bin, x});
            mPoints.emplace_back(x, 0.0);
            last = x;
        }
        if (x > 1.0) {
            break;
        }
    }
    // No bin more than a pixel right of the lower bound (a one-pixel plot, a range above the
    // Nyquist frequency) leaves an empty layout: the trace draws nothing.
    mWidth = width;
    computeBinPositions();
    computeBands();
}

void ZOLogViewMath::setOctaveMode(int bandsPerOctave) {
    std::lock_guard lock(mMutex);
    mBandsPerOctave = clampedBands(bandsPerOctave);
    computeBands();
}

void ZOLogViewMath::setNyquist(double hertz) {
    std::lock_guard lock(mMutex);
    mNyquist = sanitisedNyquist(hertz);
    if (mWidth >= 1.0) {
        relayout();
        return;
    }
    computeBinPositions();
}

void ZOLogViewMath::computeBinPositions() {
    auto positions = std::make_unique<KOFloatBuffer>(mFFTSize);
    float* data = positions->Data();
    for (std::uint32_t bin = 0; bin < mFFTSize; ++bin) {
        data[bin] = float(binPosition(bin, mFFTSize));
    }
    mBinPositions = std::move(positions);
}

void ZOLogViewMath::computeBands() {
    mOctaves.clear();
    const int n = mBandsPerOctave;
    const float span =
        float(n) * (std::log2(float(mHighFrequency)) - std::log2(float(mLowFrequency)));
    const float expected = std::ceil(span);
    if (!(mHighFrequency > mLowFrequency) || !(expected > 0.0f)) {
        return;
    }
    // Float rounding of the count may disagree with the walk below by one band; the walk is
    // bounded by the room the count gives, as the bars are drawn from this array.
    const std::size_t capacity = std::size_t(expected) + 1;
    mOctaves.reserve(capacity);
    const double ratio = std::pow(2.0, 1.0 / n);
    const double halfBand = std::pow(2.0, 1.0 / (2.0 * n));
    const double half = double(mFFTSize / 2);
    const double binsPerHertz = half / mNyquist;
    const double gap = mWidth >= 1.0 ? 1.0 / mWidth : 0.0;
    for (double centre = mLowFrequency; centre < mHighFrequency && mOctaves.size() < capacity;
         centre *= ratio) {
        KOFFTLayerOctave band;
        band.firstBin = std::uint32_t(std::min(centre / halfBand * binsPerHertz, half));
        band.endBin = std::uint32_t(std::min(centre * halfBand * binsPerHertz, half));
        if (band.firstBin >= std::uint32_t(half)) {
            band.binCount = 0; // wholly above the Nyquist frequency: no data
        } else {
            band.binCount = band.endBin > band.firstBin ? band.endBin - band.firstBin : 1;
        }
        band.xL = frequencyToPosition(centre / halfBand);
        band.xR = frequencyToPosition(centre * halfBand) - gap;
        band.centre = float(centre);
        mOctaves.push_back(band);
    }
}

double ZOLogViewMath::frequencyToPosition(double hertz) const {
    std::lock_guard lock(mMutex);
    if (!(hertz > 0.0)) {
        return 0.0;
    }
    return std::max(0.0, (std::log10(hertz) - mLogLow) / mLogRange);
}

double ZOLogViewMath::positionToFrequency(double x) const {
    std::lock_guard lock(mMutex);
    return std::pow(10.0, x * mLogRange + mLogLow);
}

double ZOLogViewMath::lowFrequency() const {
    std::lock_guard lock(mMutex);
    return mLowFrequency;
}

double ZOLogViewMath::highFrequency() const {
    std::lock_guard lock(mMutex);
    return mHighFrequency;
}

double ZOLogViewMath::nyquist() const {
    std::lock_guard lock(mMutex);
    return mNyquist;
}

double ZOLogViewMath::width() const {
    std::lock_guard lock(mMutex);
    return mWidth;
}

std::uint32_t ZOLogViewMath::fftSize() const {
    std::lock_guard lock(mMutex);
    return mFFTSize;
}

int ZOLogViewMath::bandsPerOctave() const {
    std::lock_guard lock(mMutex);
    return mBandsPerOctave;
}

int ZOLogViewMath::numLayerPoints() const {
    std::lock_guard lock(mMutex);
    return int(mLayerPoints.size());
}

int ZOLogViewMath::numOctaves() const {
    std::lock_guard lock(mMutex);
    return int(mOctaves.size());
}
