#pragma once

#include <cstdint>

namespace koru::analysers {

// The spectrogram's colours over a decibel range: black at and below the lower limit, blue
// rising to full at the middle, then through yellow to red at the upper limit. Ranges under
// 10 dB are treated as 10 dB wide around their ends, so the two middle points part and every
// component still stays within a byte.
class SpectralHistoryColourMap {
public:
    static constexpr double kMinimumSpan = 10.0;

    SpectralHistoryColourMap() { createColorCurves(); }
    SpectralHistoryColourMap(double magLow, double magHi);

    void setLimits(double magLow, double magHi);
    double magLow() const { return mMagLow; }
    double magHi() const { return mMagHi; }
    double magMidHi() const { return mMagMidHi; }
    double magMidLo() const { return mMagMidLo; }

    // 0xFFRRGGBB. NaN and -inf are black.
    std::uint32_t pixel(float level) const;
    static std::uint8_t red(std::uint32_t pixel) { return std::uint8_t(pixel >> 16); }
    static std::uint8_t green(std::uint32_t pixel) { return std::uint8_t(pixel >> 8); }
    static std::uint8_t blue(std::uint32_t pixel) { return std::uint8_t(pixel); }

private:
    // One straight piece of a component: base + (level - anchor) / run. A run of 0 makes the
    // whole piece 0 (the middle segment of a range whose middle points meet).
    struct Segment {
        double anchor = 0.0;
        double base = 0.0;
        double run = 0.0;
        double at(double level) const;
    };
    void createColorCurves();

    double mMagLow = -96.0;
    double mMagHi = 0.0;
    double mMagMidHi = 0.0;
    double mMagMidLo = 0.0;
    // Index 0 red, 1 green, 2 blue: the rising piece (red's only one) at and below the
    // component's break point (midHi for green, midLo for blue), the falling piece above it.
    Segment mRising[3];
    Segment mFalling[3];
};

} // namespace koru::analysers
