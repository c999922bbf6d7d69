#pragma once

#include <QPointF>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class KOFloatBuffer;

// One FFT bin that earns a point on the plot.
struct KOFFTLayerPoint {
    std::uint32_t bin = 0;
    double x = 0.0;
};

// One fractional-octave band: its bins, its bar (normalised x, with a pixel gap on the right)
// and its centre frequency. A band above the Nyquist frequency has binCount 0.
struct KOFFTLayerOctave {
    std::uint32_t firstBin = 0;
    std::uint32_t endBin = 0;
    std::uint32_t binCount = 0;
    double xL = 0.0;
    double xR = 0.0;
    float centre = 0.0f;
};

// Axis mathematics of a logarithmic frequency plot: frequency <-> normalised x (0 at the lower
// bound, 1 at the upper), the lower bound kept on the R10 series, the FFT bins worth a point at
// a given pixel width, and the fractional-octave bands of the displayed range.
//
// Every member locks mutex() (recursive), so the layout never changes under a reader that holds
// it while walking layerPoints()/points()/octaves(). Lock order: view lock -> layer mutex -> this.
class ZOLogViewMath {
public:
    static constexpr double kDefaultNyquist = 22050.0;
    // Requests at or below zero (or NaN) become this; +inf becomes kMaximumFrequency.
    static constexpr double kMinimumFrequency = 1.0;
    static constexpr double kMaximumFrequency = 1.0e6;

    // The Nyquist frequency comes from the caller (the audio device's rate / 2); a missing or
    // invalid one falls back to kDefaultNyquist.
    ZOLogViewMath(int bandsPerOctave, double lowerHz, double upperHz,
                  double nyquist = kDefaultNyquist);
    ~ZOLogViewMath();
    ZOLogViewMath(const ZOLogViewMath&) = delete;
    ZOLogViewMath& operator=(const ZOLogViewMath&) = delete;

    void setLowFrequency(double hertz);
    void setHighFrequency(double hertz);
    // Lands on the same bounds whatever the previous range was.
    void setFrequencyRange(double lowerHz, double upperHz);
    void SetFFTSize(std::uint32_t size, double width);
    void setOctaveMode(int bandsPerOctave);
    void setNyquist(double hertz);

    double frequencyToPosition(double hertz) const;
    double positionToFrequency(double x) const;
    // The R10 value at or below hertz (1, 1.25, 1.6, 2, 2.5, 3.15, 4, 5, 6.3, 8 x 10^d). Values a
    // hair below a step (rounding of a round trip through x or float) keep that step.
    static double snapToR10(double hertz);

    double lowFrequency() const;
    double highFrequency() const;
    double nyquist() const;
    double width() const;
    std::uint32_t fftSize() const;
    int bandsPerOctave() const;
    int numLayerPoints() const;
    int numOctaves() const;

    // Hold mutex() while reading these.
    const std::vector<KOFFTLayerPoint>& layerPoints() const { return mLayerPoints; }
    const std::vector<QPointF>& points() const { return mPoints; }
    const std::vector<KOFFTLayerOctave>& octaves() const { return mOctaves; }
    // Normalised position of every bin 0 .. fftSize-1; null before the first layout.
    const KOFloatBuffer* binPositions() const { return mBinPositions.get(); }
    std::recursive_mutex& mutex() const { return mMutex; }

private:
    static double sanitisedFrequency(double hertz);
    void applyLowFrequency(double hertz);
    void applyHighFrequency(double hertz);
    void updateLogarithms();
    void relayout();
    double binPosition(std::uint32_t bin, std::uint32_t size) const;
    void computeBinPositions();
    void computeBands();

    mutable std::recursive_mutex mMutex;
    std::unique_ptr<KOFloatBuffer> mBinPositions;
    double mNyquist = kDefaultNyquist;
    double mWidth = 0.0;
    std::uint32_t mFFTSize = 16384;
    double mHighFrequency = 20000.0;
    double mLowFrequency = 50.0;
    double mLogHigh = 0.0;
    double mLogLow = 0.0;
    double mLogRange = 0.0;
    std::vector<KOFFTLayerPoint> mLayerPoints;
    std::vector<QPointF> mPoints;
    int mBandsPerOctave = 3;
    std::vector<KOFFTLayerOctave> mOctaves;
};
