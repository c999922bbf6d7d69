#pragma once

#include "analysers/ui/DoubleSlider.h"
#include "analysers/ui/KOFFTBase.h"

#include <QPointer>
#include <QSize>

#include <cstdint>

class KOFFTView;
class KOInstrumentControllerDelegate;
class KOSpectrumAnaWrapperBase;
class KOSpectrumAnalyzerWrapper;
class QComboBox;

// The spectrum analyser window ("Spectrum Analyzer"): live analysers, each on its own channel
// with its own FFT size and window, and frozen snapshots, drawn in one plot. Two sliders set the
// averaging weight (10^x, x from 1.0 to 2.5) and the peak fall (-2..0 dB per collection) of every
// model; a pop-up chooses how octave bands weigh the bins (white or pink noise flat, or peak).
//
// Made with create<KOFFTController>("fft", dictionary, delegate): without a dictionary one new
// analyser of 16384 points in the standard blue, pink noise flat; with one, the saved models,
// plot and "FFT.accumulationMode" (white noise flat when absent or damaged); a saved window none
// of whose models can be restored gets the new window's analyser.
//
// New analysers take the window's averaging weight, peak fall and accumulation mode, so every
// trace is measured the way the controls show.
class KOFFTController : public KOFFTBase {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "fft";
    static constexpr const char* kWindowName = "Spectrum Analyzer";
    static constexpr const char* kAccumulationModeKey = "FFT.accumulationMode";
    static constexpr const char* kAnalyzerPrefix = "Analyzer";
    static constexpr std::uint32_t kFFTSize = 16384;
    static constexpr double kAvgRateMinimum = 1.0;
    static constexpr double kAvgRateMaximum = 2.5;
    static constexpr double kAvgRateInitial = 1.39794;
    static constexpr double kPeakFallMinimum = -2.0;
    static constexpr double kPeakFallMaximum = 0.0;
    static constexpr double kPeakFallInitial = -0.3;
    static constexpr float kDefaultAvgRate = 25.0f;
    static constexpr unsigned kRedrawRate = 10;
    static constexpr QSize kMinimumSize{222, 123};
    static constexpr double kControlPanelHeight = 105.0;
    // Menu tags.
    static constexpr qint64 kAccumulationSubmenuTag = 0x61636375; // 'accu'
    static constexpr qint64 kOctaveSubmenuTag = 0x6f637420;       // 'oct '
    static constexpr qint64 kAnalyzersSubmenuTag = 0x77726170;    // 'wrap'
    static constexpr qint64 kAddAnalyzerTag = -1;
    static constexpr qint64 kExportTag = -1;

    explicit KOFFTController(KOInstrumentControllerDelegate* delegate = nullptr);
    ~KOFFTController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;

    KOFFTView* spectrumView() const;
    koru::analysers::DoubleSlider* avgRateSlider() const { return mAvgRateSlider; }
    koru::analysers::DoubleSlider* peakFallRateSlider() const { return mPeakFallRateSlider; }
    QComboBox* accumulationModePopUpButton() const { return mAccuModePopUpButton; }
    float avgRate() const { return mAvgRate; }

    void resetView();
    // A new live analyser titled with the first free "Analyzer n".
    void addAnalyzer();
    // Null is ignored; the model reports to this window.
    void addInstrument(FFTModel model) { addFFTModel(std::move(model)); }

    // Of the selected model when it is a live analyser; -1 otherwise.
    qint64 inputChannel() const override;
    void setInputChannel(qint64 channel) override;
    // The item's represented model, else the selected one; the tag is the channel.
    void changeInputChannel(QAction* item);

    // Slider actions: every model takes the slider's value.
    void setAvgRate();
    void setPeakFallRate();

    // 'whit', 'pink' or 'peak'; anything else is ignored with a log line.
    void setAccumulationMode(std::uint32_t mode);
    std::uint32_t accumulationMode() const { return mAccumulationMode; }
    void changeAccumulationMode(QAction* item);
    std::unique_ptr<QMenu> accumulationModeMenu();

    void resetPeak();
    void resetCurrent() override;
    void resetAll() override;
    void setPause(bool pause) override;
    bool drawPauseIcon() const override { return true; }
    QStringList linkableViewParameters() const override;

    QMenu* instrumentMenu() override;
    void updateInstrumentMenu(QMenu* menu);
    std::unique_ptr<QMenu> instrumentsMenu();
    std::unique_ptr<QMenu> menuForFFTWrapper(const FFTModel& model);
    // A snapshot of every live analyser, in table order.
    void createSnapshotOfSelectedWrappers();

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;
    void awakeFromNib() override;

private:
    std::vector<std::shared_ptr<KOSpectrumAnaWrapperBase>> spectrumModels() const;
    std::shared_ptr<KOSpectrumAnalyzerWrapper> liveModel(const FFTModel& model) const;
    // A live analyser set up as the window's controls say.
    std::shared_ptr<KOSpectrumAnalyzerWrapper> newAnalyzer() const;
    static bool isAccumulationMode(std::uint32_t mode);

    float mAvgRate = kDefaultAvgRate;
    std::uint32_t mFFTSize = kFFTSize;
    std::uint32_t mAccumulationMode;
    QPointer<koru::analysers::DoubleSlider> mAvgRateSlider;
    QPointer<koru::analysers::DoubleSlider> mPeakFallRateSlider;
    QPointer<QComboBox> mAccuModePopUpButton;
};
