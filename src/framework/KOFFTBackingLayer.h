#pragma once

#include "KOGraphicLayer.h"

#include <optional>

class ZOLogViewMath;

// The background of a logarithmic plot: third-octave and octave lines with their labels, the
// decibel lines with right-aligned labels in a margin column, and the rectangle the traces are
// clipped to.
class KOFFTBackingLayer : public KOGraphicLayer {
public:
    static constexpr double kMargin = 35.0;
    static constexpr double kFrequencyLabelHeight = 14.0;
    static constexpr double kThirdOctaveDetailsMinimumWidth = 820.0;
    static inline const QString kAllowThirdOctaveDetailsKey =
        QStringLiteral("Appearance.AllowDrawingOfThirdOctaveDetails");

    explicit KOFFTBackingLayer(const QRectF& rect, double devicePixelRatio = 1.0);
    KOFFTBackingLayer(double width, double height, double devicePixelRatio = 1.0);
    // The grid. allowThirdOctaveDetails defaults to the user's setting.
    KOFFTBackingLayer(const ZOLogViewMath& math, double width, double height, double lowerMag,
                      double upperMag, double devicePixelRatio = 1.0,
                      std::optional<bool> allowThirdOctaveDetails = std::nullopt);

    const QRectF& plotRect() const { return mPlotRect; }
    double margin() const { return mMargin; }
    QColor strokeColour() const { return mStroke; }
    QColor fillColour() const { return mFill; }

protected:
    void setPlotRect(const QRectF& rect) { mPlotRect = rect; }

private:
    void drawFrequencyLines(const ZOLogViewMath& math, bool details);
    void drawFrequencyLine(double x, bool octave, const QString& label, bool details);
    void drawDecibelLines(double lowerMag, double upperMag);
    void drawLabel(const QString& text, QPointF bottomLeft);

    QRectF mPlotRect;
    double mMargin = kMargin;
    QColor mStroke;
    QColor mFill;
    QFont mFont;
};
