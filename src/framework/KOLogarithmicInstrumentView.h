#pragma once

#include "KOInstrumentBackgroundView.h"
#include "KOZoomableInstrumentView.h"
#include "ZOLogViewMath.h"

#include <QPointF>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class KOFFTBackingLayer;
class KOFFTLayer;
class KOGraphicLayer;
class KOLogarithmicInstrumentViewDelegate;

namespace koru {
class RangeSlider;
}

// Level in dB over frequency on a logarithmic axis: the displayed axis, the axis of the
// frequency-range slider, the decibel range with its outer limits and a 10 dB minimum span, the
// grid, a cursor read-out, mouse/wheel/key/pinch control of the decibel range and a settings
// dictionary. Every bound change rebuilds the grid at once and tells the delegate.
//
// Traces are built on the collector thread by buildTraceLayer (objectLock, then layerMutex)
// and composited in paintEvent; the bounds and the frame size it reads are atomics.
class KOLogarithmicInstrumentView : public KOInstrumentBackgroundView,
                                    public KOZoomableInstrumentView {
    Q_OBJECT
public:
    static constexpr float kMinimumMagSpan = 10.0f;
    static constexpr float kLowestFrequency = 10.0f;
    static constexpr float kLowestUpperFrequency = 1000.0f;
    static constexpr int kEdgeStrip = 15;
    static constexpr double kReadOutMinimumX = 36.0;
    static inline const QString kMinMagKey = QStringLiteral("FFTView.minMag");
    static inline const QString kMaxMagKey = QStringLiteral("FFTView.maxMag");
    static inline const QString kMinFrequencyKey = QStringLiteral("FFTView.minFrequency");
    static inline const QString kMaxFrequencyKey = QStringLiteral("FFTView.maxFrequency");

    // nyquist: the audio device's Nyquist frequency (the slider axis ends there).
    explicit KOLogarithmicInstrumentView(QWidget* parent = nullptr,
                                         double nyquist = ZOLogViewMath::kDefaultNyquist);
    ~KOLogarithmicInstrumentView() override;

    ZOLogViewMath& logViewMath() { return *mf; }
    const ZOLogViewMath& logViewMath() const { return *mf; }
    const ZOLogViewMath& sliderAxis() const { return *mMinMaxTool; }
    koru::RangeSlider* frequencySlider() const { return mFrequencySlider; }
    koru::RangeSlider* magSlider() const { return mMagSlider; }
    void setDelegate(KOLogarithmicInstrumentViewDelegate* delegate) { mDelegate = delegate; }
    KOLogarithmicInstrumentViewDelegate* delegate() const { return mDelegate; }

    void setFFTSize(std::uint32_t size);
    std::uint32_t fftSize() const { return mFFTSize; }
    void createBackingLayer() override;
    // The grid (null before the view has a size); hold objectLock() while using it.
    const KOFFTBackingLayer* backingLayer() const { return mBackingLayer.get(); }
    // Moves the displayed upper bound to the new Nyquist frequency; the knobs follow the bounds.
    void setNyquistFrequency(float hertz);

    void setLowFrequencyBound(float hertz);
    void setHiFrequencyBound(float hertz);
    // Upper first, then lower; no clamping, no slider or grid update.
    void setFrequencyBounds(float lower, float upper);
    // Slider action: the bounds from the knobs' positions on the slider axis.
    void setFrequencyRange();
    float getLowerFBound() const;
    float getUpperFBound() const;

    void setMagLimits(float lower, float upper);
    // Virtual, with the bounds' getters and the settings: a view whose decibel range means
    // something else (a colour range) keeps its own, and the slider and callers follow it.
    virtual void setLoMagLimit(float decibels);
    virtual void setHiMagLimit(float decibels);
    // Slider action.
    void setMagRange();
    virtual float getLowerMagBound() const { return mLowerMagBound.load(); }
    virtual float getUpperMagBound() const { return mUpperMagBound.load(); }
    float magMin() const { return mMagMin.load(); }
    float magMax() const { return mMagMax.load(); }

    void zoomIn() override;
    void zoomOut() override;
    void moveUp();
    void moveDown();
    void magnify(double magnification);

    // Font size of the in-plot read-out and its distance from the top; 0 hides it.
    void setFrequencyDetailsSize(int points);
    // "%@Hz  %.1f dB" of the point (y-down view coordinates).
    QString readOutText(QPointF point, const QString& separator) const;
    double readOutX(double pointerX, double textWidth) const;

    virtual QVariantMap settingsAsDictionary() const;
    virtual void restoreSettingsFromDictionary(const QVariantMap& dictionary);

    // Collector thread. Skipped (false) while the last frame is still pending; otherwise builds
    // a trace layer the size of the view, lets `draw` fill it, swaps it in and marks the view
    // dirty.
    bool buildTraceLayer(const std::function<void(KOFFTLayer&)>& draw);
    std::mutex& layerMutex() { return mLayerMutex; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    enum class Strip { Bottom, Top, Middle };
    Strip stripAt(double y) const;
    float levelAt(double y) const;
    void shiftMagBounds(float lowerDelta, float upperDelta);
    void updateFrequencyKnobs();
    void fBoundsChanged();
    void magBoundsChanged();
    void drawReadOut(QPainter& painter);

    std::unique_ptr<ZOLogViewMath> mf;
    std::unique_ptr<ZOLogViewMath> mMinMaxTool;
    std::uint32_t mFFTSize = 8192;
    // Guards mTraceLayer and the axis layout. Taken after objectLock().
    std::mutex mLayerMutex;
    koru::RangeSlider* mFrequencySlider = nullptr;
    koru::RangeSlider* mMagSlider = nullptr;
    std::atomic<float> mLowerMagBound{-96.0f};
    std::atomic<float> mUpperMagBound{0.0f};
    std::atomic<float> mMagMin{-144.0f};
    std::atomic<float> mMagMax{0.0f};
    // Read by the collector.
    std::atomic<double> mLayerWidth{0.0};
    std::atomic<double> mLayerHeight{0.0};
    std::atomic<double> mDevicePixelRatio{1.0};
    std::unique_ptr<KOFFTBackingLayer> mBackingLayer;
    std::unique_ptr<KOGraphicLayer> mTraceLayer;
    QPointF mLastMousePosition{-10.0, -10.0};
    int mFrequencyDetailsSize = 0;
    float mDragMagStart = 0.0f;
    bool mDragChangesUpperLimit = false;
    bool mDragChangesLowerLimit = false;
    bool mDragging = false;
    KOLogarithmicInstrumentViewDelegate* mDelegate = nullptr;
};
