#pragma once

#include "analysers/ui/KODelayFinderView.h"
#include "framework/RulerMarker.h"
#include "platform/notifications/NotificationCenter.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>

class KODelayFinderData;
class KODelayFinderMeasurement;
class KODelayFinderResults;
class KOTimeRulerView;
class QLabel;
class QListView;
class QPushButton;
class QScrollBar;
class QWidget;

namespace koru::analysers {
class DoubleSlider;
}

// The delay-finder window of one real-time transfer measurement: its list of results, the
// selected result's impulse response under a time ruler, and two ruler markers, the zero point
// (the measurement's delay offset) and the delay (where the source is read against the
// response). Dragging a marker or selecting a stretch of the response changes the measurement's
// delay; Recompute starts a new measurement of it and selects the result when it arrives.
//
// The transfer window makes one per measurement and keeps it; the measurement outlives it.
// Main thread only.
class KODelayFinderController : public QObject, public KODelayFinderViewDelegate {
    Q_OBJECT
public:
    static constexpr const char* kWindowTitleFormat = "Delay Finder for %1";
    static constexpr const char* kDelayReadoutFormat = "Delay %1";

    // A delay in samples, as time and as distance too: "480 smp / 10.0 msec / 3.43 m" at
    // 48 kHz. The distance is in feet when the user chose feet, else in meter.
    static QString delayReadout(std::int64_t samples);

    explicit KODelayFinderController(KODelayFinderMeasurement& measurement,
                                     QObject* parent = nullptr);
    ~KODelayFinderController() override;

    QWidget* window() const { return mWindow.get(); }
    KODelayFinderView* delayFinderView() const { return mView; }
    KOTimeRulerView* timeRuler() const { return mTimeRuler; }
    QListView* resultsView() const { return mResultsView; }
    koru::analysers::DoubleSlider* zoomSlider() const { return mZoomSlider; }
    QScrollBar* scrollBar() const { return mScrollBar; }
    QPushButton* recomputeButton() const { return mRecomputeButton; }
    QPushButton* deleteButton() const { return mDeleteButton; }
    QLabel* delayLabel() const { return mDelayLabel; }

    void showWindow();
    void addDelayFinderData(std::shared_ptr<KODelayFinderData> data);
    // Removes the selected results from the measurement's list.
    void deleteSelected();
    void recomputeDelay();
    // Puts the delay marker at the measurement's total delay and the ruler's zero at its offset;
    // the zero marker stays where it is.
    void reloadDelayTimes();

    std::int64_t delayTime() override;
    void setDelayTime(std::int64_t t) override;
    std::int64_t delayTimeOffset() override;
    void setDelayTimeOffset(std::int64_t offset) override;

private:
    void buildWindow();
    void selectionDidChange();
    void distanceUnitChanged(std::uint32_t unit);
    void updateRulerOrigin();
    void updateScrollBar();
    void measurementGone();

    KODelayFinderMeasurement* mMeasurement;
    QPointer<KODelayFinderResults> mResults;
    std::unique_ptr<QWidget> mWindow;
    KODelayFinderView* mView = nullptr;
    KOTimeRulerView* mTimeRuler = nullptr;
    QListView* mResultsView = nullptr;
    koru::analysers::DoubleSlider* mZoomSlider = nullptr;
    QScrollBar* mScrollBar = nullptr;
    QPushButton* mRecomputeButton = nullptr;
    QPushButton* mDeleteButton = nullptr;
    QLabel* mDelayLabel = nullptr;
    koru::framework::RulerMarker mZeroLocationMarker;
    koru::framework::RulerMarker mDelayTimeMarker;
    koru::platform::ObserverToken mReloadDistanceObserver;
    koru::platform::ObserverToken mReloadAudioObserver;
};
