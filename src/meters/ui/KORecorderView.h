#pragma once

#include "framework/KOInstrumentBackgroundView.h"
#include "zotools/ZORingBuffer.h"

#include <QImage>
#include <QPainterPath>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The recorder's strips: one per recorded channel, each the recent peak amplitude as an
// envelope mirrored about the strip's centre, newest at the right edge, two points per value.
// Peaks arrive on the collector thread, one per channel per buffer; every third buffer the
// strips are drawn into an image there, which the next repaint shows and drops. While an image
// waits, no new one is drawn, so the collector never draws faster than the screen shows.
//
// Of three buffers only one is drawn, but the value pushed is the largest peak of the three:
// a clip inside a buffer that is not drawn must still show.
//
// objectLock() guards the rings, the pending peaks and the image.
class KORecorderView : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    static constexpr std::size_t kRingLength = 800;
    static constexpr int kStripHeight = 35;
    static constexpr int kMaxHeight = 550;
    static constexpr double kPointsPerValue = 2.0;
    using Ring = ZORingBuffer<float, kRingLength>;

    explicit KORecorderView(QWidget* parent = nullptr);

    // Main thread. New rings of zeros; the height becomes min(35 n, 550). n = 0 throws a
    // FrameworkException named "Num Channels is 0" and leaves no rings.
    void setNumChannels(std::uint32_t n);
    std::uint32_t numChannels() const;

    // Collector thread: one linear peak per channel (missing ones read as silence).
    void setPeakSamples(const float* peaks, std::uint32_t count);

    // The display value of a peak: its square root, never below that of 1e-6.
    static float displayValue(float peak);
    // Adds channel k's envelope (k counted from the top of n strips) over a w × h y-up surface.
    static void drawPath(QPainterPath& path, const Ring& ring, std::uint32_t k, std::uint32_t n,
                         double w, double h);

    // Channel k's display value `age` pushes before the newest; 0 for a channel it lacks.
    float ringValue(std::uint32_t k, std::size_t age) const;
    // For tests: whether an image waits for the next repaint, and a copy of it.
    bool hasPendingLayer() const;
    QImage pendingLayer() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void renderLayer(double w, double h);

    std::vector<std::unique_ptr<Ring>> mRingBuffers;
    std::vector<float> mPendingPeaks; // the largest peak per channel since the last push
    QImage mWaveformLayer;            // null while none waits
    std::uint32_t mDeadCounter = 0;
    std::atomic<double> mWidth{0.0}; // the collector reads the size without touching the widget
    std::atomic<double> mHeight{0.0};
};
