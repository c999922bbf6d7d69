#pragma once

#include "meters/KOGoniometerInstrument.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <atomic>

#include <cstdint>
#include <mutex>
#include <vector>

class QPainter;

// One meter per engine channel: a gradient RMS bar, a two-point peak line and a latching clip
// box at the top. Levels arrive in decibels on the main thread.
class KODeviceInPPMView : public QWidget {
    Q_OBJECT
public:
    struct Meter {
        float rms = -144.0f;
        float peak = -144.0f;
        bool clipped = false;
    };
    static constexpr int kClipBoxHeight = 8;

    explicit KODeviceInPPMView(QWidget* parent = nullptr);
    void setMeters(std::vector<Meter> meters);
    const std::vector<Meter>& meters() const { return mMeters; }
    // Draws the meters over `size`, vertically, into a y-down painter.
    void drawContent(QPainter& painter, QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Meter> mMeters;
};

// The goniometer picture (A up-left, B up-right, mono vertical) with the correlation meter
// along its bottom edge. The collector draws each block into a fading image; the main thread
// shows it.
class KOGoniometerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCorrelationBand = 20;

    explicit KOGoniometerView(QWidget* parent = nullptr);
    // Collector thread: fades the picture and draws the block into it at `size`.
    void drawBlock(const KOGoniometerInstrument::Block& block, QSize size);
    float correlation() const;
    float gain() const;
    QImage picture() const;
    void drawContent(QPainter& painter, QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex mLock; // guards the picture, the gain and the correlation
    QImage mPicture;
    float mGain = 1.0f;
    float mCorrelation = 0.0f; // NaN while either channel is silent
};

// Two traces over a grid of 50-point divisions and tenths of the amplitude; the trace values
// are one per point of the width, in full-scale units.
class KOOscilloscopeView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kDivision = 50.0;

    explicit KOOscilloscopeView(QWidget* parent = nullptr);
    // Any thread.
    void setTraces(std::vector<float> a, std::vector<float> b);
    void setColours(const QColor& a, const QColor& b);
    // The whole points of the width, for the collector's snapshots.
    double pointWidth() const { return mPointWidth.load(std::memory_order_relaxed); }
    void drawContent(QPainter& painter, QSize size) const;
    std::vector<float> traceA() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    mutable std::mutex mLock; // guards the traces
    std::vector<float> mA;
    std::vector<float> mB;
    std::atomic<double> mPointWidth{0.0};
    QColor mColourA{Qt::green};
    QColor mColourB{Qt::yellow};
};
