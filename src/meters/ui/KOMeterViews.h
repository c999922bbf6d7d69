#pragma once

#include "framework/KOInstrumentBackgroundView.h"
#include "meters/KOGoniometerInstrument.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <atomic>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class QPainter;

// One meter per engine channel: a gradient RMS bar, a two-point peak line and a latching clip
// box at the top, over a decibel scale with its ticks on the left and the channel names along
// the bottom. A view wider than tall turns the meters horizontal (the top then lies on the
// right). Levels arrive in decibels on the main thread.
class KODeviceInPPMView : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    struct Meter {
        float rms = -144.0f;
        float peak = -144.0f;
        bool clipped = false;
        QString name;
    };
    static constexpr int kClipBoxHeight = 8;
    // Left of the meters: the tick labels; below them: the channel names.
    static constexpr double kScaleMargin = 22.0;
    static constexpr double kNameMargin = 18.0;
    static constexpr double kSpacing = 1.0;
    static constexpr double kMaxMeterWidth = 32.0 + kSpacing;
    // Names need a meter at least this long.
    static constexpr double kNamesMinimumLength = 180.0;
    // A click this close to the top (the right end of horizontal meters) clears the clip boxes.
    static constexpr double kClipResetBand = 20.0;
    static constexpr float kTicks[] = {-72.0f, -48.0f, -30.0f, -18.0f, -12.0f, -6.0f, -3.0f, 0.0f};

    explicit KODeviceInPPMView(QWidget* parent = nullptr);
    void setMeters(std::vector<Meter> meters);
    const std::vector<Meter>& meters() const { return mMeters; }
    void setDrawLabels(bool draw);
    bool drawLabels() const { return mDrawLabels; }
    bool rotated() const { return width() > height(); }

    // Across the meters, for `count` meters shown: what the window would like, and the least.
    static double preferredWidth(std::size_t count);
    static double minWidth(std::size_t count);
    // Width of one meter's column in a view of `size`.
    static double meterWidth(QSize size, std::size_t count);
    // Whether a click at `point` (widget coordinates) asks for the clip boxes to be cleared.
    static bool isClipResetPoint(QPointF point, QSize size);

    // Draws the meters over `size` into a y-down painter.
    void drawContent(QPainter& painter, QSize size) const;

signals:
    void clipResetRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::vector<Meter> mMeters;
    bool mDrawLabels = true;
};

// The goniometer picture (A up-left, B up-right, mono vertical) under its scale (axes,
// diagonals, two circles, "L", "R", "C"), with the correlation meter along its bottom edge when
// it is shown. The collector draws each block into a fading image; the main thread shows it.
class KOGoniometerView : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    static constexpr int kCorrelationBand = 20;
    static constexpr unsigned kRedrawRate = 15;

    explicit KOGoniometerView(QWidget* parent = nullptr);
    // Collector thread: fades the picture and draws the block into it at `size`.
    void drawBlock(const KOGoniometerInstrument::Block& block, QSize size);
    float correlation() const;
    float gain() const;
    QImage picture() const;
    bool drawCorrelation() const { return mDrawCorrelation.load(std::memory_order_relaxed); }
    void setDrawCorrelation(bool draw);
    void drawContent(QPainter& painter, QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex mLock; // guards the picture, the gain and the correlation
    QImage mPicture;
    float mGain = 1.0f;
    float mCorrelation = 0.0f; // NaN while either channel is silent
    std::atomic<bool> mDrawCorrelation{false};
};

// Two traces over a grid of 50-point divisions and tenths of the amplitude; the trace values
// are one per point of the width, in full-scale units, from the left edge (a capture shorter
// than the view covers only its part of it).
class KOOscilloscopeView : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    static constexpr double kDivision = 50.0;

    explicit KOOscilloscopeView(QWidget* parent = nullptr);
    // Any thread.
    void setTraces(std::vector<float> a, std::vector<float> b);
    void setColours(const QColor& a, const QColor& b);
    QColor colourA() const;
    QColor colourB() const;
    // The whole points of the width, for the collector's snapshots.
    double pointWidth() const { return mPointWidth.load(std::memory_order_relaxed); }
    void drawContent(QPainter& painter, QSize size) const;
    std::vector<float> traceA() const;
    std::vector<float> traceB() const;
    // Called with the pointer's position in y-up view coordinates as it moves over the view.
    void setPointerObserver(std::function<void(QPointF)> observer) {
        mPointerObserver = std::move(observer);
    }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    mutable std::mutex mLock; // guards the traces and the colours
    std::vector<float> mA;
    std::vector<float> mB;
    std::atomic<double> mPointWidth{0.0};
    QColor mColourA;
    QColor mColourB;
    std::function<void(QPointF)> mPointerObserver;
};
