#pragma once

#include "KOTimeRulerUnit.h"
#include "RulerMarker.h"
#include "platform/notifications/NotificationCenter.h"
#include "utility/VETextAttributes.h"

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

namespace koru::framework {
class RulerClient;
}

// A horizontal ruler over a widget whose document is measured in samples (a RulerClient): hash
// marks and labels in one of the distance units (meter, feet, milliseconds, samples), spaced so
// that marks stand at least 5 points and labels at least 40 points apart, whatever the zoom.
// Place it above the client; it follows the client's scale and scroll position.
//
// The units are registered once per sample rate: a change of rate re-registers them, so the
// marks keep measuring the audio in hand. Main thread only.
class KOTimeRulerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRuleThickness = 22;
    // y-up, from the ruler's bottom edge.
    static constexpr double kBaselineLocation = 1.0;
    static constexpr double kMinimumMarkDistance = 5.0;
    static constexpr double kMinimumLabelDistance = 40.0;
    static constexpr double kLabelMarkLength = 16.0;

    struct Mark {
        double x;
        double length;
    };
    struct Label {
        double x;
        QString text;
    };

    static constexpr double kMarkerHalfWidth = 5.0;
    static constexpr double kMarkerHeight = 9.0;

    // scrollView must be a widget that is a RulerClient, and the orientation horizontal;
    // otherwise std::invalid_argument("Invalid parameter not satisfying: ...").
    KOTimeRulerView(QWidget* scrollView, Qt::Orientation orientation, QWidget* parent = nullptr);
    ~KOTimeRulerView() override;

    // Measures another client (the same conditions as the constructor's scrollView).
    void setClientView(QWidget* clientView);
    QWidget* clientView() const { return mScrollView; }

    // A later registration of the same name replaces the unit.
    static void registerUnitWithName(const QString& name, const QString& abbreviation,
                                     double conversionFactor, std::vector<double> stepUpCycle,
                                     std::vector<double> stepDownCycle);
    // Every unit of the distance formatter at its current sample rate.
    static void registerDefaultUnits();
    // Null for a name never registered.
    static std::shared_ptr<const KOTimeRulerUnit> unitWithName(const QString& name);

    // Throws std::invalid_argument("unit is nil") for an unknown name.
    void setMeasurementUnits(const QString& unitName);
    QString measurementUnits() const;
    const KOTimeRulerUnit& unit() const { return *mUnit; }
    void invalidateHashMarks();
    bool cacheIsValid() const { return mCacheIsValid; }
    // Moves the labels' zero from the document's origin, in ruler points.
    void setOriginOffset(double offset);
    double originOffset() const { return mOriginOffset; }

    VETextAttributes labelTextAttributes() const;
    QColor foregroundColor() const { return mForegroundColor; }
    void setForegroundColor(const QColor& colour);
    QColor backgroundColor() const { return mBackgroundColor; }
    void setBackgroundColor(const QColor& colour);

    // The spacing for the current unit, scale and rate (recomputed when stale).
    double markDistance();
    double unitToRuler();
    double labelDistance();
    std::int64_t marksToLabel();
    std::int64_t marksToBigMark();
    std::int64_t marksToMidMark();
    QString labelFormat();
    double stepForIndex(std::int64_t index) const;

    // Replaces all markers; drawn in order, the last on top.
    void setMarkers(std::vector<koru::framework::RulerMarker> markers);
    const std::vector<koru::framework::RulerMarker>& markers() const { return mMarkers; }
    // Ruler x of a document location.
    double rulerX(double location) const;

    // Ruler x of the labels' zero, and the document's ends.
    double zero() const;
    double documentLeft() const;
    double documentRight() const;
    // What the drawing puts between two ruler x positions (clipped to the document).
    std::vector<Mark> marksBetween(double start, double end);
    std::vector<Label> labelsBetween(double start, double end);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void attachClient(QWidget* scrollView);
    void drawMarkers(QPainter& painter);
    // The topmost marker under ruler x, or -1.
    int markerAt(double x) const;
    bool verifyCachedValues();
    void clientChanged();
    void refreshUnitsForSampleRate();
    QString labelText(double value) const;

    double mMarkDistance = 0.0;
    double mUnitToRuler = 0.0;
    double mLabelDistance = 0.0;
    bool mCacheIsValid = false;
    bool mSpacingUsable = false;
    std::int64_t mMarksToLabel = 1;
    std::int64_t mMarksToBigMark = 1;
    std::int64_t mMarksToMidMark = 1;
    QString mLabelFormat;
    std::shared_ptr<const KOTimeRulerUnit> mUnit;
    QColor mForegroundColor;
    QColor mBackgroundColor;
    double mOriginOffset = 0.0;
    double mCachedScale = 0.0;
    QPointer<QWidget> mScrollView;
    koru::framework::RulerClient* mClient = nullptr;
    std::vector<koru::framework::RulerMarker> mMarkers;
    int mDraggedMarker = -1;
    koru::platform::ObserverToken mReloadToken;
};
