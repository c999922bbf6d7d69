#pragma once

#include "framework/KOInstrumentController.h"
#include "framework/KOLevelHistoryViewDelegate.h"
#include "meters/KOLevelIntegrator.h"
#include "zotools/ZORingBuffer.h"

#include <QColor>

#include <atomic>
#include <memory>

class KOLevelHistoryView;
class KOLevelDistributionView;
class QLabel;
class QSlider;
class QSplitter;

namespace koru::framework {
class ColourWell;
} // namespace koru::framework

// The level history window: the scrolling history of one channel's RMS and peak beside their
// distribution over the newest values. The collector pushes one display value per collection
// into two rings and rebuilds both views' paths; the rings are the collector's, and main takes
// the data-collection lock to touch them. Lock order: data-collection lock → instrument mutex →
// view path lock.
class KOLevelHistoryController : public KOInstrumentController, public KOLevelHistoryViewDelegate {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "levelhistory";
    // The integration slider's range; a restored time may lie outside it.
    static constexpr double kMinSliderSeconds = 0.01;
    static constexpr double kMaxSliderSeconds = 1.0;
    using Ring = ZORingBuffer<float, 2500>;

    KOLevelHistoryController();
    ~KOLevelHistoryController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    void dataCollection() override;
    void resetAll() override;

    QMenu* instrumentMenu() override;
    void audioPropertiesChanged() override;

    QColor color() const;
    // Both views draw in it; the overlay's colour well follows.
    void setColor(const QColor& colour);
    double speed() const;
    void setSpeed(double speed);
    // The history view's width: where the divider between the two views stands.
    double dividerPosition() const;
    void setDividerPosition(double position);

    qint64 inputChannel() const override;
    void setInputChannel(qint64 channel) override;

    double integrationTime() const;
    void setIntegrationTime(double seconds);
    double distributionTime() const { return mDistributionTime.load(); }
    void setDistributionTime(double seconds);

    void historyViewDidChangeSpeed(float) override {}
    void setDistributionBound(std::uint32_t bound) override;

    KOLevelIntegrator* instrument() const { return mInstrument.get(); }
    KOLevelHistoryView* historyView() const { return mHistory; }
    KOLevelDistributionView* distributionView() const { return mDistribution; }
    QSplitter* splitView() const { return mSplitter; }
    QSlider* integrationSlider() const { return mIntegrationSlider; }
    QLabel* integrationReadout() const { return mIntTimeReadout; }
    // Collector side, read under the data-collection lock.
    const Ring& rmsRing() const { return mRMS; }
    const Ring& peakRing() const { return mPeak; }

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;

private:
    std::unique_ptr<KOLevelIntegrator> mInstrument;
    KOLevelHistoryView* mHistory = nullptr;           // owned by the window
    KOLevelDistributionView* mDistribution = nullptr; // owned by the window
    QSplitter* mSplitter = nullptr;                   // owned by the window
    QSlider* mIntegrationSlider = nullptr;            // milliseconds
    QSlider* mSpeedSlider = nullptr;                  // hundredths
    koru::framework::ColourWell* mColorWell = nullptr;
    QLabel* mIntTimeReadout = nullptr;
    Ring mRMS;
    Ring mPeak;
    std::atomic<double> mDistributionTime{3.0};
};
