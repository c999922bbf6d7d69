#include "spl/ui/KOSplView.h"

#include "framework/KOColorAdditions.h"
#include "framework/ZOGaugeView.h"
#include "spl/KOSPLData.h"
#include "utility/KOString.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"

#include <QPainter>
#include <QPointer>

// --- KOSplViewBase -------------------------------------------------------------------------------

KOSplViewBase::KOSplViewBase(QWidget* parent) : KOInstrumentBackgroundView(parent) {}

void KOSplViewBase::setData(const KOSPLData& data) {
    Values values;
    data.GetValues(values.primary, values.avg, values.peak, values.leq);
    values.prediction = data.PredictedLeq();
    setValues(values);
}

void KOSplViewBase::setValues(const Values& values) {
    {
        const std::lock_guard lock(mValueLock);
        mValues = values;
    }
    if (mGaugeView)
        mGaugeView->setFloatLevel(values.primary);
    setViewIsDirty();
}

KOSplViewBase::Values KOSplViewBase::values() const {
    const std::lock_guard lock(mValueLock);
    return mValues;
}

void KOSplViewBase::setInstrumentSpeed(std::uint32_t speed) {
    {
        const std::lock_guard lock(mValueLock);
        mInstrumentSpeed = speed;
    }
    createInfoCacheString();
}

void KOSplViewBase::setWeightingType(std::uint32_t weighting) {
    {
        const std::lock_guard lock(mValueLock);
        mWeightingType = weighting;
    }
    createInfoCacheString();
}

std::uint32_t KOSplViewBase::instrumentSpeed() const {
    const std::lock_guard lock(mValueLock);
    return mInstrumentSpeed;
}

std::uint32_t KOSplViewBase::weightingType() const {
    const std::lock_guard lock(mValueLock);
    return mWeightingType;
}

QString KOSplViewBase::infoString() const {
    const std::lock_guard lock(mValueLock);
    return mInfoCacheString;
}

void KOSplViewBase::createInfoCacheString() {
    {
        const std::lock_guard lock(mValueLock);
        mInfoCacheString = KOString::stringForSplInfo(mWeightingType, mInstrumentSpeed);
    }
    setViewIsDirty();
}

// --- KOSplView -----------------------------------------------------------------------------------

KOSplView::KOSplView(QWidget* parent)
    : KOSplViewBase(parent), mTextDictionary_Main(ZODictionary::fontAttributesDictionaryForSize(
                                 kMainSize, KOColorAdditions::noBlueColor())),
      mTextDictionary_Small(ZODictionary::fontAttributesDictionaryForSize(
          kSmallSize, KOColorAdditions::noBlueColor())),
      mTextDictionary_Cal(
          ZODictionary::fontAttributesDictionaryForSize(kCalSize, QColor::fromRgbF(1, 0, 0, 0.4f))),
      mTextDictionary_VerySmall(ZODictionary::fontAttributesDictionaryForSize(
          kVerySmallSize, KOColorAdditions::noBlueColor())) {
    mGaugeView = new ZOGaugeView(this);
    mGaugeView->setMinValue(float(kGaugeMinimum));
    mGaugeView->setMaxValue(float(kGaugeMaximum));
    mGaugeView->setNumberLabels(4);
    mGaugeView->setShouldDrawLabels(true);
    mGaugeView->setGeometry(10, 10, 40, std::max(0, height() - 20));
    setRedrawRate(15);
}

KOSplView::~KOSplView() = default;

void KOSplView::resizeEvent(QResizeEvent* event) {
    KOSplViewBase::resizeEvent(event);
    if (mGaugeView)
        mGaugeView->setGeometry(10, 10, 40, std::max(0, height() - 20));
}

void KOSplView::setLeqRunTimeString(const std::optional<QString>& text) {
    {
        const std::lock_guard lock(mValueLock);
        mLEQRunTime = text;
    }
    setViewIsDirty();
}

void KOSplView::setNextLEQResetTimeString(const std::optional<QString>& text) {
    {
        const std::lock_guard lock(mValueLock);
        mNextLEQRestTimeString = text;
    }
    setViewIsDirty();
}

std::optional<QString> KOSplView::leqRunTimeString() const {
    const std::lock_guard lock(mValueLock);
    return mLEQRunTime;
}

std::optional<QString> KOSplView::nextLEQResetTimeString() const {
    const std::lock_guard lock(mValueLock);
    return mNextLEQRestTimeString;
}

void KOSplView::setCalibrated(bool calibrated) {
    {
        const std::lock_guard lock(mValueLock);
        mCalibrated = calibrated;
    }
    setViewIsDirty();
}

bool KOSplView::calibrated() const {
    const std::lock_guard lock(mValueLock);
    return mCalibrated;
}

QString KOSplView::levelText() const {
    return KOString::stringFromSpLevel(values().primary);
}

QString KOSplView::leqText() const {
    const Values shown = values();
    const QString level = KOString::stringFromSpLevel(QStringLiteral("LEQ:"), shown.leq);
    if (nextLEQResetTimeString())
        return QStringLiteral("%1 (%2)").arg(level, QString::asprintf("%.0f", shown.prediction));
    return QStringLiteral("%1 (-)").arg(level);
}

void KOSplView::paintEvent(QPaintEvent* event) {
    KOSplViewBase::paintEvent(event);
    Values shown;
    QString info;
    std::optional<QString> runTime;
    std::optional<QString> nextReset;
    bool calibratedNow = false;
    {
        const std::lock_guard lock(mValueLock);
        shown = mValues;
        info = mInfoCacheString;
        runTime = mLEQRunTime;
        nextReset = mNextLEQRestTimeString;
        calibratedNow = mCalibrated;
    }
    const double w = width();
    const double h = height();
    const double cx = w / 2 + 30;
    const double y0 = h - 58;
    // The layout counts y upwards from the bottom edge.
    const auto at = [h, cx](double yUp) { return QPointF(cx, h - yUp); };

    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    VEString::drawCenteredAtPoint(painter, KOString::stringFromSpLevel(shown.primary), at(y0),
                                  mTextDictionary_Main);
    VEString::drawCenteredAtPoint(painter, info, at(y0 - 24), mTextDictionary_Small);
    VEString::drawCenteredAtPoint(painter,
                                  KOString::stringFromSpLevel(QStringLiteral("AVG:"), shown.avg),
                                  at(y0 - 58), mTextDictionary_Small);
    VEString::drawCenteredAtPoint(painter,
                                  KOString::stringFromSpLevel(QStringLiteral(" PK:"), shown.peak),
                                  at(y0 - 78), mTextDictionary_Small);
    const QString leqLevel = KOString::stringFromSpLevel(QStringLiteral("LEQ:"), shown.leq);
    if (nextReset) {
        VEString::drawCenteredAtPoint(
            painter,
            QStringLiteral("%1 (%2)").arg(leqLevel, QString::asprintf("%.0f", shown.prediction)),
            at(y0 - 102), mTextDictionary_Small);
        VEString::drawCenteredAtPoint(painter, *nextReset, at(y0 - 130), mTextDictionary_VerySmall);
    } else {
        VEString::drawCenteredAtPoint(painter, QStringLiteral("%1 (-)").arg(leqLevel), at(y0 - 102),
                                      mTextDictionary_Small);
    }
    if (runTime)
        VEString::drawCenteredAtPoint(painter, *runTime, at(y0 - 118), mTextDictionary_VerySmall);
    if (!calibratedNow)
        VEString::drawCenteredAtPoint(painter, QStringLiteral("UNCALIBRATED"),
                                      QPointF(w / 2, h - (h / 2 - 16)), mTextDictionary_Cal);
}
