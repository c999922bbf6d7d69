#pragma once

#include "framework/KOInstrumentBackgroundView.h"
#include "spl/KOSPLLog.h"

#include <QColor>
#include <QPainterPath>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class KOLevelHistoryBackingLayer;
class KOLevelHistoryViewDelegate;

// The SPL log being recorded, drawn over time: SPL as a filled area, AVG and LEQ as lines, one
// record per data position, the newest at the right edge. `speed` is points per record
// (1/360 .. 1); below 1 groups of floor(1/speed) records become one point holding their maxima.
// Sits in a horizontal scroll area and follows the newest data while the user looks at it.
//
// Only the visible part is drawn, from a cache of the group maxima (groups counted from the
// log's first record, so they stay put while scrolling): a day-long log is walked once per zoom
// level, new records extend the cache, and a scroll or a repaint reads only the visible points.
//
// Main thread only; objectLock() guards the paths, the scale strip and the colours.
class KOSPLHistoryView : public KOInstrumentBackgroundView {
    Q_OBJECT
    Q_PROPERTY(bool drawSPL READ drawSPL WRITE setDrawSPL)
    Q_PROPERTY(bool drawAVG READ drawAVG WRITE setDrawAVG)
    Q_PROPERTY(bool drawLEQ READ drawLEQ WRITE setDrawLEQ)
    Q_PROPERTY(QColor splColor READ splColor WRITE setSplColor)
    Q_PROPERTY(QColor avgColor READ avgColor WRITE setAvgColor)
    Q_PROPERTY(QColor leqColor READ leqColor WRITE setLeqColor)
public:
    static constexpr double kMinimumSpeed = double(0.0027777778f);
    static constexpr double kMaximumSpeed = 1.0;
    static constexpr float kZoomFactor = 1.1f;
    static constexpr double kScaleWidth = 23.0;
    static constexpr double kLowerBound = 30.0;
    static constexpr double kUpperBound = 130.0;
    static constexpr std::uint64_t kRecordsForData = 59;

    static constexpr const char* kDrawSPLKey = "SPLHistoryView.Draw.SPL";
    static constexpr const char* kDrawAVGKey = "SPLHistoryView.Draw.AVG";
    static constexpr const char* kDrawLEQKey = "SPLHistoryView.Draw.LEQ";
    static constexpr const char* kColorSPLKey = "SPLHistoryView.Color.SPL";
    static constexpr const char* kColorAVGKey = "SPLHistoryView.Color.AVG";
    static constexpr const char* kColorLEQKey = "SPLHistoryView.Color.LEQ";
    static constexpr const char* kZoomKey = "SPLHistoryView.Zoom";

    explicit KOSPLHistoryView(QWidget* parent = nullptr);
    ~KOSPLHistoryView() override;

    void setSplLog(std::shared_ptr<KOSPLLog> log);
    std::shared_ptr<KOSPLLog> splLog() const { return mSPLLog; }
    // The log grew: the view grows with it.
    void splLogDidAddData();
    std::uint64_t recordCount() const;
    // More than 59 records.
    bool hasSPLData() const;

    // Clamped to 1/360 .. 1; NaN changes nothing. Tells the delegate.
    void setSpeed(double speed);
    double speed() const { return mSpeed; }
    double loggingPeriod() const { return mLoggingPeriod; }
    void zoomIn();
    void zoomOut();
    void setDelegate(KOLevelHistoryViewDelegate* delegate) { mDelegate = delegate; }

    double xForDataPosition(std::uint64_t index) const;
    std::uint64_t dataPositionAtX(double x) const;
    // (lower end, length); the whole log when nothing is selected.
    std::pair<std::uint64_t, std::uint64_t> selectionRange() const;
    void selectAll();

    bool drawSPL() const { return mDrawSPL; }
    bool drawAVG() const { return mDrawAVG; }
    bool drawLEQ() const { return mDrawLEQ; }
    void setDrawSPL(bool draw);
    void setDrawAVG(bool draw);
    void setDrawLEQ(bool draw);
    QColor splColor() const;
    QColor avgColor() const;
    QColor leqColor() const;
    void setSplColor(const QColor& colour);
    void setAvgColor(const QColor& colour);
    void setLeqColor(const QColor& colour);

    QVariantMap settingsDictionary() const;
    // Each key only when present and of the right type.
    void loadSettingsFromDictionary(const QVariantMap& settings);

    void controllerDidChangeLoggingStatus(bool logging);
    bool logging() const { return mLogging; }

    // The part of the view the scroll area shows (the whole view outside one).
    QRectF visibleRect() const;
    void createBackingLayer() override;

signals:
    void toggleLoggingRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createPaths();
    // Brings the group cache up to the log's records at the current speed.
    void updateGroups();
    void setLoggingPeriod(double seconds);
    void setNeedsPaths();
    double valueY(double value) const;

    std::unique_ptr<KOLevelHistoryBackingLayer> mBackingLayer; // objectLock
    std::unique_ptr<KOLevelHistoryBackingLayer> mScaleLayer;   // objectLock
    QColor mLEQColor;                                          // objectLock
    QColor mSPLColor;                                          // objectLock
    QColor mAVGColor;                                          // objectLock
    double mLoggingPeriod = 1.0;
    std::uint64_t mSelStart = 0;
    std::uint64_t mSelEnd = 0;
    QPainterPath mSPLPath; // objectLock
    QPainterPath mAVGPath; // objectLock
    QPainterPath mLEQPath; // objectLock
    bool mDrawSPL = true;
    bool mDrawAVG = false;
    bool mDrawLEQ = true;
    bool mLogging = false;
    bool mNeedToCreatePath = true;
    QRectF mPathsRect; // the visible part the paths were made for
    // Group maxima of mGroupsLog, floor(1/speed) records each; the last may be partial.
    std::vector<KOSPLRecord> mGroups;
    std::uint64_t mGroupSize = 0;
    std::uint64_t mGroupedRecords = 0;
    std::weak_ptr<KOSPLLog> mGroupsLog;
    double mSpeed = 1.0;
    std::shared_ptr<KOSPLLog> mSPLLog;
    KOLevelHistoryViewDelegate* mDelegate = nullptr;
};
