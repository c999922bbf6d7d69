#pragma once

#include "KOGraphicLayer.h"

#include <QTransform>

#include <vector>

class KOFFTDrawingData;
class KOFloatBuffer;
class ZOLogViewMath;

// A spectrum trace layer: maps (normalised frequency x, dB) to pixels with one transform and
// draws traces as a line, a filled area, fractional-octave bars or peak markers. Built on the
// collector thread; a trace whose lock is busy is skipped for this frame, never waited for.
class KOFFTLayer : public KOGraphicLayer {
public:
    KOFFTLayer(const ZOLogViewMath* math, double width, double height, double lowerMag,
               double upperMag, double devicePixelRatio = 1.0);

    virtual void draw(KOFFTDrawingData* data);
    // The line or area of one trace (the caller holds the trace's lock).
    virtual void drawPath(const KOFloatBuffer& buffer, KOFFTDrawingData& data);
    void drawOctaveBars(const KOFloatBuffer& buffer, KOFFTDrawingData& data);

    const QTransform& transform() const { return mTransform; }
    double upperMag() const { return mUpperMag; }
    double lowerMag() const { return mLowerMag; }
    double yScale() const { return mYScale; }
    double yOffset() const { return mYOffset; }
    double width() const { return mWidth; }
    // Pixel row (y-up) of a level.
    double yForLevel(double decibels) const { return decibels * mYScale + mYOffset; }

protected:
    // The trace's buffer reduced to `count` log-spaced values in dB; levels that cannot be
    // drawn (silence gives -inf) come back as the trace's base level.
    std::vector<double>& reducedLevels(const KOFloatBuffer& buffer, KOFFTDrawingData& data,
                                       std::uint32_t count);

private:
    void drawBarLabels(KOFFTDrawingData& data, const std::vector<double>& levels);

    QTransform mTransform;
    double mUpperMag = 0.0;
    double mLowerMag = 0.0;
    double mYScale = 1.0;
    double mYOffset = 0.0;
    double mWidth = 0.0;
    std::vector<double> mLevels;
    std::vector<QPointF> mPoints;
};
