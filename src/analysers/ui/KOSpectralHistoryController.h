#pragma once

#include "analysers/ui/KOSpectralHistoryView.h"
#include "analysers/ui/ViewBoundsLink.h"
#include "framework/KOInstrumentControllerWithoutPanel.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"

#include <QPointer>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class KOInstrumentControllerDelegate;
class KOSpectrumAnalyzerWrapper;
class QComboBox;
class QMenu;

// The spectral history window ("spectralhistory"): one live spectrum measurement on one input
// channel, drawn as a scrolling spectrogram. Pop-ups in the plot's control area and the window
// menu choose the channel, the FFT size (16384, 32768, 65536), the window, the accumulation mode
// and the octave smoothing; the frequency and magnitude bounds are linked with other windows as
// in the spectrum window; the settings and the archived measurement are saved with the window.
//
// Made with create<KOSpectralHistoryController>("spectralhistory", dictionary, delegate).
// Restoring never fails on a damaged entry: a missing or unreadable measurement is a new one of
// 16384 points, an FFT size the analyser cannot compute keeps the measurement's size, and an
// unknown window, accumulation mode or smoothing takes the default; each is logged.
//
// The spectrogram never reads the measurement's buffers itself: the collector thread hands it a
// copy of the newest spectrum, taken under the measurement's lock.
class KOSpectralHistoryController : public KOInstrumentControllerWithoutPanel,
                                    public KOLogarithmicInstrumentViewDelegate {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "spectralhistory";
    static constexpr const char* kInputChannelKey = "SpectralHistory.InputChannel";
    static constexpr const char* kViewSettingsKey = "FFTBase.View.Settings";
    static constexpr const char* kAnalyzerKey = "analyzer";
    static constexpr const char* kAccumulationModeKey = "FFT.accumulationMode";
    static constexpr const char* kOctaveModeKey = "FFTInstrumentBase.OcatveMode";
    static constexpr std::uint32_t kFFTSize = 16384;
    static constexpr unsigned kDefaultOctaveSmoothing = 12;
    static constexpr float kLowerMagLimit = -80.0f;
    static constexpr float kUpperMagLimit = -10.0f;
    static constexpr unsigned kRedrawRate = 15;
    static constexpr QSize kMinimumSize{242, 128};
    static constexpr double kControlAreaExtraWidth = 60.0;
    static constexpr double kControlAreaHeight = 150.0;
    // Window-menu tags.
    static constexpr qint64 kFFTSizeMenuTag = 4660;
    static constexpr qint64 kWindowTypeMenuTag = 4661;
    static constexpr qint64 kOctaveSmoothingMenuTag = 4662;
    static constexpr qint64 kAccumulationMenuTag = 4663;

    explicit KOSpectralHistoryController(KOInstrumentControllerDelegate* delegate = nullptr);
    ~KOSpectralHistoryController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;
    void audioPropertiesChanged() override;

    KOSpectralHistoryView* historyView() const { return mView; }
    std::shared_ptr<KOSpectrumAnalyzerWrapper> spectrumAnalyzer() const { return mSpectrumAnlyzer; }
    QComboBox* fftSizeButton() const { return mFFTSizeMenu; }
    QComboBox* windowTypeButton() const { return mFFTWindowTypeMenu; }
    QComboBox* accumulationModeButton() const { return mAccumulationModePopUpButton; }
    QComboBox* octaveSmoothingButton() const { return mOctaveSmoothingPopUpButton; }

    void resetView();

    // Powers of two from 8192 to 65536, the sizes the analyser computes; others are ignored
    // with a log line. Under the data-collection lock.
    void setFFTSize(std::uint32_t size);
    std::uint32_t FFTSize() const;
    void changeFFTSize(QAction* item);
    void setWindowType(std::uint32_t type);
    std::uint32_t windowType() const;
    void setWindowTypeAction(QAction* item);
    // 'whit', 'pink' or 'peak'; others are ignored with a log line.
    void setAccumulationMode(std::uint32_t mode);
    std::uint32_t accumulationMode() const;
    void setAccumulationModeAction(QAction* item);
    // 1 to 24 (the menu offers 1, 3, 6, 12, 24); others are ignored with a log line.
    void setOctaveSmoothing(unsigned denominator);
    unsigned octaveSmoothing() const;
    void setOctaveSmoothingAction(QAction* item);

    qint64 inputChannel() const override;
    void setInputChannel(qint64 channel) override;
    void setPause(bool pause) override;
    bool drawPauseIcon() const override { return true; }

    // 16384, 32768, 65536.
    std::unique_ptr<QMenu> fftSizeMenu();
    std::unique_ptr<QMenu> fftWindowMenu();
    std::unique_ptr<QMenu> accumulationMenu();
    std::unique_ptr<QMenu> octaveSmoothingMenu();
    QMenu* instrumentMenu() override;
    void updateInstrumentMenu(QMenu* menu);

    QStringList linkableViewParameters() const override;
    void viewDidChangeFrequencyBounds(float lower, float upper) override;
    void viewDidChangeMagnitudeBounds(float lower, float upper) override;
    void changeParameterWithName(const QString& name, const QVariant& value) override;
    void postParameters() override;
    koru::analysers::ViewBoundsLink& boundsLink() const { return *mBoundsLink; }

    // True while a collected spectrum waits to be handed to the spectrogram.
    bool hasUnprocessedData() const { return mHasUnprocessedData.load(); }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    void awakeFromNib();
    // The archived measurement of a saved window, or null (logged) when there is none to read.
    std::shared_ptr<KOSpectrumAnalyzerWrapper> restoredAnalyzer(const QVariantMap& dictionary);
    void selectPopUps();

    QPointer<KOSpectralHistoryView> mView;
    std::shared_ptr<KOSpectrumAnalyzerWrapper> mSpectrumAnlyzer;
    // Written by the collector thread.
    std::atomic<bool> mHasUnprocessedData{false};
    // The newest spectrum's bins, kept between cycles (collector thread only).
    std::vector<float> mSpectrum;
    QPointer<QComboBox> mFFTSizeMenu;
    QPointer<QComboBox> mFFTWindowTypeMenu;
    QPointer<QComboBox> mAccumulationModePopUpButton;
    QPointer<QComboBox> mOctaveSmoothingPopUpButton;
    std::unique_ptr<koru::analysers::ViewBoundsLink> mBoundsLink;
};
