#pragma once

#include "framework/KOInstrumentBackgroundView.h"
#include "framework/ZOGaugeView.h"
#include "utility/VETextAttributes.h"

#include <QPointer>
#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>

class KOSPLData;

// What an SPL read-out shows: the current level, AVG, peak, LEQ and the predicted LEQ, the
// weighting and speed, and a bar gauge of the current level.
//
// setData comes from the collector thread and the rest from main, so every shown value sits
// under mValueLock (a leaf lock); drawing copies them out first.
class KOSplViewBase : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    struct Values {
        float primary = 0.0f;
        float avg = 0.0f;
        float peak = 0.0f;
        float leq = 0.0f;
        float prediction = 0.0f;
    };

    explicit KOSplViewBase(QWidget* parent = nullptr);

    // Any thread: takes the statistics' values, moves the gauge and marks the view dirty.
    void setData(const KOSPLData& data);
    void setValues(const Values& values);
    Values values() const;

    void setInstrumentSpeed(std::uint32_t speed);
    void setWeightingType(std::uint32_t weighting);
    std::uint32_t instrumentSpeed() const;
    std::uint32_t weightingType() const;
    // "<weighting>, <speed>".
    QString infoString() const;

    ZOGaugeView* gaugeView() const { return mGaugeView; }

protected:
    void createInfoCacheString();

    mutable std::mutex mValueLock; // leaf
    Values mValues;
    std::uint32_t mInstrumentSpeed = 0;
    std::uint32_t mWeightingType = 0;
    QString mInfoCacheString;
    QPointer<ZOGaugeView> mGaugeView;
};

// The numeric read-out of the SPL meter window: the level in large digits, the weighting and
// speed, AVG, peak and LEQ with its prediction, the LEQ run time and the time to the next reset,
// and "UNCALIBRATED" over it all while the meter has no calibration for the device.
class KOSplView : public KOSplViewBase {
    Q_OBJECT
public:
    static constexpr double kMainSize = 48.0;
    static constexpr double kSmallSize = 18.0;
    static constexpr double kCalSize = 32.0;
    static constexpr double kVerySmallSize = 12.0;
    static constexpr double kGaugeMinimum = 40.0;
    static constexpr double kGaugeMaximum = 120.0;

    explicit KOSplView(QWidget* parent = nullptr);
    ~KOSplView() override;

    // Any thread; nullopt removes the line.
    void setLeqRunTimeString(const std::optional<QString>& text);
    void setNextLEQResetTimeString(const std::optional<QString>& text);
    std::optional<QString> leqRunTimeString() const;
    std::optional<QString> nextLEQResetTimeString() const;

    void setCalibrated(bool calibrated);
    bool calibrated() const;

    // The texts drawn, top to bottom, for tests and the big display: level, info, AVG, PK, LEQ.
    QString levelText() const;
    QString leqText() const;

    const VETextAttributes& mainAttributes() const { return mTextDictionary_Main; }
    const VETextAttributes& calAttributes() const { return mTextDictionary_Cal; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    VETextAttributes mTextDictionary_Main;
    VETextAttributes mTextDictionary_Small;
    VETextAttributes mTextDictionary_Cal;
    VETextAttributes mTextDictionary_VerySmall;
    std::optional<QString> mLEQRunTime;            // mValueLock
    std::optional<QString> mNextLEQRestTimeString; // mValueLock
    bool mCalibrated = false;                      // mValueLock
};
