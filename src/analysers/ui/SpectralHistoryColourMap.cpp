#include "SpectralHistoryColourMap.h"

#include <algorithm>
#include <limits>

namespace koru::analysers {

namespace {

// A NaN component (a NaN or infinite level meeting a flat piece) is 0, not the undefined
// conversion of NaN to an integer.
std::uint32_t byteOf(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= 1.0) {
        return 255;
    }
    return std::uint32_t(value * 255.0);
}

} // namespace

SpectralHistoryColourMap::SpectralHistoryColourMap(double magLow, double magHi)
    : mMagLow(magLow), mMagHi(magHi) {
    createColorCurves();
}

void SpectralHistoryColourMap::setLimits(double magLow, double magHi) {
    mMagLow = magLow;
    mMagHi = magHi;
    createColorCurves();
}

double SpectralHistoryColourMap::Segment::at(double level) const {
    if (run == 0.0) {
        return 0.0;
    }
    return base + (level - anchor) / run;
}

// Each piece is kept as an anchor and a run rather than a slope and an offset, so a level on a
// middle point or a limit lands exactly on 0 or full colour instead of a rounding below it.
void SpectralHistoryColourMap::createColorCurves() {
    const double span = std::max(mMagHi - mMagLow, kMinimumSpan) / 2.0;
    mMagMidHi = mMagHi - span;
    mMagMidLo = mMagLow + span;
    const double middle = mMagMidHi - mMagMidLo;
    mRising[0] = {mMagMidHi, 0.0, span};
    mFalling[0] = mRising[0];
    mRising[1] = {mMagMidHi, 1.0, middle};
    mFalling[1] = {mMagMidHi, 1.0, -span};
    mRising[2] = {mMagMidLo, 1.0, span};
    mFalling[2] = {mMagMidLo, 1.0, -middle};
}

std::uint32_t SpectralHistoryColourMap::pixel(float level) const {
    // Silence (zero amplitude) and NaN are black even where a range under 10 dB would carry
    // them onto a rising piece.
    if (!(level > -std::numeric_limits<float>::infinity())) {
        return 0xFF000000u;
    }
    const double l = level;
    const double r = mRising[0].at(l);
    const double g = l > mMagMidHi ? mFalling[1].at(l) : mRising[1].at(l);
    const double b = l > mMagMidLo ? mFalling[2].at(l) : mRising[2].at(l);
    return 0xFF000000u | (byteOf(r) << 16) | (byteOf(g) << 8) | byteOf(b);
}

} // namespace koru::analysers
