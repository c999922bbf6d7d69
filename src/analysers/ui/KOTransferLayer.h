#pragma once

#include <cstdint>
#include <vector>

class KOFFTDrawingData;
class KOFFTLayer;
class KOFloatBuffer;

// Draws transfer measurements into a plot layer: the magnitude in dB against the level axis with
// an opacity that follows the coherence, the phase across the full height (-3.14 at the bottom,
// +3.14 at the top) and the coherence in a band along the top edge (0 at 0.85·h - 20, 1 at
// h - 20). Runs on the collector thread; every trace is only tried, a busy one is skipped.
class KOTransferLayer {
public:
    static constexpr double kPhaseRange = 3.14;
    static constexpr double kLevelLimit = 144.0;
    static constexpr int kPhasePositions = 16384;
    static constexpr int kPhasePoints = 512;

    // A band of bins reduced to one value: v = Σ(M·C) / ΣC of the dB values M weighted by the
    // coherence C, w = ΣC / count; then the offset added and the sign turned when inverted. A
    // band without coherence, or a value beyond ±144 dB, reads the offset with weight 0.
    struct Band {
        double value = 0.0;
        double weight = 0.0;
    };
    static Band bandValue(const KOFloatBuffer& magnitude, const KOFloatBuffer& coherence,
                          std::uint32_t first, std::uint32_t count, double offset, bool invert);

    KOTransferLayer(KOFFTLayer& layer, double height);

    // Magnitude, then phase, then coherence, each when shown; the coherence trace supplies the
    // weights of the magnitude.
    void draw(KOFFTDrawingData& magnitude, KOFFTDrawingData& phase, KOFFTDrawingData& coherence);

    // Pixel rows (y-up) of the phase and coherence mappings.
    double yForPhase(double radians) const;
    double yForCoherence(double coherence) const;
    // Whether the coherence band and its label were drawn (once per layer).
    bool coherenceBackgroundDrawn() const { return mCoherenceBackground; }

private:
    void drawMagnitude(KOFFTDrawingData& data, const KOFloatBuffer& coherence);
    void drawMagnitudeBars(KOFFTDrawingData& data, const KOFloatBuffer& coherence);
    void drawPhase(KOFFTDrawingData& data);
    void drawCoherence(KOFFTDrawingData& data);
    void drawCoherenceBackground();
    // Values of `buffer` at `count` evenly spaced normalised x positions, interpolated between
    // the bins' log-x positions (caller holds the axis mutex).
    void interpolateOnAxis(const KOFloatBuffer& buffer, KOFFTDrawingData& data, int count,
                           std::vector<double>& out);

    KOFFTLayer& mLayer;
    double mHeight;
    double mWidth;
    bool mCoherenceBackground = false;
    std::vector<double> mValues;
    std::vector<double> mWeights;
};
