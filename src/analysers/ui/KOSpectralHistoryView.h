#pragma once

#include "SpectralHistoryImage.h"

#include "framework/KOLogarithmicInstrumentView.h"

#include <QPointF>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class KOFFTBackingLayer;

namespace koru::platform {
class SerialQueue;
}

// The spectral history: a scrolling spectrogram over the logarithmic frequency grid. Every
// other spectrum handed in becomes one row of colour-coded pixels (newest at the bottom); the
// magnitude slider sets the colour range (see SpectralHistoryColourMap), which may be narrower
// than 10 dB and is what the magnitude-bound getters, setters and settings of the base mean
// here. The axes are neither zoomed nor scrolled here: wheel, keys, pinch and drags leave
// them alone.
//
// Rows and images are built on the view's own serial queue "spechistory.imagecreate", so
// neither the collector nor the main thread pays for them. Queued work holds only a shared
// state object, never the view: work still queued when the view dies runs harmlessly, and the
// pixel buffers go with the last of it.
//
// The controller feeds it from its data collection (collector thread), in the cycle after a
// new spectrum was collected:
//
//     std::vector<float> spectrum;
//     {
//         const std::lock_guard lock(<the model's lock>);
//         const KOFloatBuffer& inst = <the model's instantaneous buffer>;
//         spectrum.assign(inst.Data(), inst.Data() + inst.Length() / 2); // linear, bins 0..N/2-1
//     }
//     hasUnprocessedData = mView->buildLayerWithSpectrum(std::move(spectrum),
//                                                        audioDevice.nyquistFrequency());
//
// The copy is the caller's because the model rewrites (and on a size change frees) its buffer
// on the next collection, while the row is reduced later on the queue. The span overload copies
// only when a row is due; call it with the model's lock held. The controller stops feeding (it
// leaves the collector thread) before the view is destroyed; what is already queued may then
// still run, without the view.
class KOSpectralHistoryView : public KOLogarithmicInstrumentView {
    Q_OBJECT
public:
    static constexpr const char* kImageQueueLabel = "spechistory.imagecreate";
    // The image sits this far above the bottom edge, clear of the frequency labels.
    static constexpr double kImageOffset = 12.0;
    static constexpr float kMagSliderMinimum = -96.0f;
    static constexpr float kMagSliderMaximum = 0.0f;
    static constexpr unsigned kDefaultOctaveMode = 12;

    explicit KOSpectralHistoryView(QWidget* parent = nullptr,
                                   double nyquist = ZOLogViewMath::kDefaultNyquist);
    ~KOSpectralHistoryView() override;

    // Collector thread. Queues an image of the rows so far when a row is waiting for one,
    // otherwise a row of this spectrum: the first N/2 linear amplitudes of an N-point FFT,
    // measured at `nyquist` Hz (0 or less: the axis' Nyquist frequency). Answers false once work
    // is queued (the caller clears its "unprocessed data" flag with it); true for an empty
    // spectrum, which queues nothing, so the caller tries again.
    bool buildLayerWithSpectrum(std::vector<float> spectrum, double nyquist);
    bool buildLayerWithSpectrum(std::span<const float> spectrum, double nyquist);

    // The colour range in dB. Unchanged or non-finite values are ignored; otherwise the colour
    // map is rebuilt, the slider knob follows, the info panel shows the limit and the delegate
    // hears of it. No span is enforced.
    void setLoMagLimit(float decibels) override;
    void setHiMagLimit(float decibels) override;
    float getLowerMagBound() const override { return float(mMagLow.load()); }
    float getUpperMagBound() const override { return float(mMagHi.load()); }
    koru::analysers::SpectralHistoryColourMap colourMap() const;

    // The reduction of each spectrum to a row: 'whit', 'pink' or 'peak', and the smoothing
    // fraction's denominator (12 = 1/12 octave; the axis' own octave setting is untouched).
    void setAccumulationMode(std::uint32_t mode) { mAccumulationMode = mode; }
    std::uint32_t accumulationMode() const { return mAccumulationMode.load(); }
    void setOctaveMode(unsigned denominator);
    unsigned octaveMode() const { return mOctaveMode.load(); }

    // "FFTView.minMag"/"FFTView.maxMag" are the colour range; the frequencies are the axis'.
    // Keys that are missing or no finite numbers leave their value as it is.
    QVariantMap settingsAsDictionary() const override;
    void restoreSettingsFromDictionary(const QVariantMap& dictionary) override;

    // The grid without decibel lines.
    void createBackingLayer() override;
    void setFrequencyDetailsSize(int points);
    // No zooming or scrolling of the axes in this view.
    void zoomIn() override {}
    void zoomOut() override {}
    void moveUp() {}
    void moveDown() {}

    // Queues the buffer set-up for the view's current size (after every resize).
    void initializeBuffers();
    // Grid, image and read-out, as a repaint draws them over the backing colour.
    void drawContent(QPainter& painter);

    // For tests and benchmarks: the queue (to wait for queued work) and the pixels. The pixels
    // outlive the view while work for them is queued.
    koru::platform::SerialQueue& imageQueue() { return *mCalcQueue; }
    std::shared_ptr<const koru::analysers::SpectralHistoryImage> historyImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct State;
    bool queueWork(std::span<const float> spectrum, std::vector<float>* owned, double nyquist);
    koru::analysers::SpectralHistoryRowSettings rowSettings(double nyquist);
    void magLimitChanged(const QString& label, double decibels);
    void drawReadOut(QPainter& painter);

    std::shared_ptr<State> mState;
    std::unique_ptr<koru::platform::SerialQueue> mCalcQueue;
    std::atomic<double> mMagLow{kMagSliderMinimum};
    std::atomic<double> mMagHi{kMagSliderMaximum};
    std::atomic<std::uint32_t> mAccumulationMode;
    std::atomic<unsigned> mOctaveMode{kDefaultOctaveMode};
    // Under objectLock().
    std::unique_ptr<KOFFTBackingLayer> mGrid;
    QPointF mLastPointer{-10.0, -10.0};
    int mDetailsSize = 0;
};
