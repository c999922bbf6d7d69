#pragma once

#include <QColor>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class KOFloatBuffer;
class ZOLogViewMath;

// How one spectrum or transfer trace is drawn: colour, draw mode, accumulation, base level,
// the buffer of values (not owned) and the trace's own log axis. The model fills the buffer and
// the plot draws it on the collector thread, the interface changes the settings on main: the
// scalars are atomics, the colour is replaced under the trace lock, and drawing only tries that
// lock, so a busy trace is skipped for a frame rather than waited for.
class KOFFTDrawingData {
public:
    // Draw modes (the draw-mode pop-up's tags).
    static constexpr std::uint32_t kContinuous = 0;
    static constexpr std::uint32_t kFilled = 1;
    static constexpr std::uint32_t kOctaveBars = 2;
    static constexpr std::uint32_t kPeakBars = 3;
    static constexpr double kInitialLayerWidth = 250.0;

    // offset is the trace's base level in dB: the floor of its line, area and bars.
    KOFFTDrawingData(std::uint32_t drawMode, bool visible, double offset);
    ~KOFFTDrawingData();
    KOFFTDrawingData(const KOFFTDrawingData&) = delete;
    KOFFTDrawingData& operator=(const KOFFTDrawingData&) = delete;

    // Offset, visibility, inversion, draw and accumulation mode and band setting; colour,
    // details, width and buffer stay.
    KOFFTDrawingData& CopySettingsFrom(const KOFFTDrawingData& other);
    ZOLogViewMath& LogViewMath() { return *mLogViewMath; }
    const ZOLogViewMath& LogViewMath() const { return *mLogViewMath; }

    bool TryLock() { return mLock.try_lock(); }
    void Unlock() { mLock.unlock(); }

    // Also sizes the axis to the buffer's length at the current layer width (when not null).
    void SetBuffer(KOFloatBuffer* buffer);
    KOFloatBuffer* Buffer() const { return mBuffer.load(); }
    // Waits for the trace lock, so a colour never changes while the trace is being drawn.
    void SetColor(const QColor& color);
    // Read by the owner of the trace lock, or on main (the only writer).
    QColor Color() const { return mColor; }

    // Brings the trace's axis up to the plot's settings before a redraw; every unchanged value
    // is skipped. octaves 0 leaves the band setting; nyquist 0 leaves the Nyquist frequency.
    void UpdateParameters(int octaves, double lowHz, double highHz, double width,
                          double nyquist = 0.0);

    std::uint32_t drawMode() const { return mDrawMode.load(std::memory_order_relaxed); }
    void setDrawMode(std::uint32_t mode) { mDrawMode.store(mode, std::memory_order_relaxed); }
    std::uint32_t accumulationMode() const { return mAccumulation.load(std::memory_order_relaxed); }
    void setAccumulationMode(std::uint32_t mode) {
        mAccumulation.store(mode, std::memory_order_relaxed);
    }
    double offset() const { return mOffset.load(std::memory_order_relaxed); }
    void setOffset(double offset) { mOffset.store(offset, std::memory_order_relaxed); }
    bool visible() const { return mVisible.load(std::memory_order_relaxed); }
    void setVisible(bool visible) { mVisible.store(visible, std::memory_order_relaxed); }
    bool invert() const { return mInvert.load(std::memory_order_relaxed); }
    void setInvert(bool invert) { mInvert.store(invert, std::memory_order_relaxed); }
    bool showDetails() const { return mShowDetails.load(std::memory_order_relaxed); }
    void setShowDetails(bool show) { mShowDetails.store(show, std::memory_order_relaxed); }
    double layerWidth() const { return mLayerWidth.load(std::memory_order_relaxed); }

private:
    QColor mColor;
    std::atomic<std::uint32_t> mDrawMode;
    std::atomic<std::uint32_t> mAccumulation;
    std::atomic<double> mOffset;
    std::atomic<bool> mVisible;
    std::atomic<bool> mInvert{false};
    std::atomic<bool> mShowDetails{false};
    std::atomic<double> mLayerWidth{kInitialLayerWidth};
    std::atomic<KOFloatBuffer*> mBuffer{nullptr};
    std::unique_ptr<ZOLogViewMath> mLogViewMath;
    std::mutex mLock;
};
