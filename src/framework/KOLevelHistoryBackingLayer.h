#pragma once

#include "KOFFTBackingLayer.h"

#include <QFont>

#include <array>
#include <optional>

// The background of the level plots: decibel lines with their labels on one or both sides and,
// for the SPL history, a dashed time axis counted back from the right edge. Drawn once per range
// or size change and composited on every redraw.
class KOLevelHistoryBackingLayer : public KOFFTBackingLayer {
public:
    enum LabelFlags : unsigned { kLabelsLeft = 1, kLabelsRight = 2 };
    // Full-scale ranges use the first seven, SPL ranges the last five; a value outside the
    // current range draws no visible line.
    static constexpr std::array<double, 12> kGridValues = {
        -72.0, -48.0, -30.0, -18.0, -12.0, -6.0, -3.0, 40.0, 60.0, 80.0, 100.0, 120.0};

    KOLevelHistoryBackingLayer(unsigned labelFlags, double width, double height, double minDB,
                               double maxDB, double exponent, double devicePixelRatio = 1.0);

    // Vertical lines every whole number of minutes (or hours), labelled with the time back from
    // the right edge; shrinks the plot rectangle to leave room for the labels below.
    void drawTimeAxis(double secondsPerPoint);

    unsigned labelFlags() const { return mLabelFlags; }

    // The height of a decibel line, or nothing when the value draws no line: the bottom of the
    // range, and every value of an empty, reversed or non-finite range.
    static std::optional<double> gridLineY(double value, double minDB, double maxDB,
                                           double exponent, double height);
    // Seconds between two time lines.
    static double timeAxisStep(double secondsPerPoint);

private:
    void drawGrid(unsigned labelFlags, double minDB, double maxDB, double exponent);
    void drawText(const QString& text, double left, double baseline);

    QFont mFont;
    unsigned mLabelFlags;
};
