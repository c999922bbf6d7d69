#include "analysers/ui/ViewBoundsLink.h"

#include "framework/KOInstrumentController.h"

#include <QVariantMap>

#include <cmath>

namespace koru::analysers {

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

// A missing or non-numeric entry reads as NaN, which no bound equals.
double number(const QVariantMap& values, const char* key) {
    bool ok = false;
    const double value = values.value(text(key)).toDouble(&ok);
    return ok ? value : std::nan("");
}

} // namespace

ViewBoundsLink::ViewBoundsLink(KOInstrumentController& owner,
                               std::unique_ptr<LinkableBounds> bounds)
    : mOwner(owner), mBounds(std::move(bounds)) {}

QStringList ViewBoundsLink::linkableViewParameters() {
    return {text(kFrequencyParameter), text(kMagnitudeParameter)};
}

void ViewBoundsLink::viewDidChangeFrequencyBounds(float lower, float upper) {
    if (mCameFromNotification) {
        mCameFromNotification = false;
        return;
    }
    mOwner.postParameterChange(text(kFrequencyParameter),
                               QVariantMap{{text(kLowFrequencyKey), double(lower)},
                                           {text(kHighFrequencyKey), double(upper)}});
}

void ViewBoundsLink::viewDidChangeMagnitudeBounds(float lower, float upper) {
    if (mCameFromNotification) {
        mCameFromNotification = false;
        return;
    }
    mOwner.postParameterChange(text(kMagnitudeParameter),
                               QVariantMap{{text(kLowMagnitudeKey), double(lower)},
                                           {text(kHighMagnitudeKey), double(upper)}});
}

void ViewBoundsLink::apply(double wanted, double current, void (LinkableBounds::*set)(float)) {
    if (wanted == current)
        return;
    struct ClearMark {
        bool& mark;
        ~ClearMark() { mark = false; }
    } clear{mCameFromNotification};
    mCameFromNotification = true;
    ((*mBounds).*set)(float(wanted));
}

bool ViewBoundsLink::changeParameterWithName(const QString& name, const QVariant& value) {
    const QVariantMap values = value.toMap();
    if (name == QLatin1String(kMagnitudeParameter)) {
        apply(number(values, kLowMagnitudeKey), mBounds->lowerMagnitude(),
              &LinkableBounds::setLowerMagnitude);
        apply(number(values, kHighMagnitudeKey), mBounds->upperMagnitude(),
              &LinkableBounds::setUpperMagnitude);
        return true;
    }
    if (name == QLatin1String(kFrequencyParameter)) {
        const double lower = number(values, kLowFrequencyKey);
        const double upper = number(values, kHighFrequencyKey);
        apply(upper, mBounds->upperFrequency(), &LinkableBounds::setUpperFrequency);
        apply(lower, mBounds->lowerFrequency(), &LinkableBounds::setLowerFrequency);
        apply(upper, mBounds->upperFrequency(), &LinkableBounds::setUpperFrequency);
        return true;
    }
    return false;
}

void ViewBoundsLink::postParameters() {
    viewDidChangeMagnitudeBounds(float(mBounds->lowerMagnitude()),
                                 float(mBounds->upperMagnitude()));
    viewDidChangeFrequencyBounds(float(mBounds->lowerFrequency()),
                                 float(mBounds->upperFrequency()));
}

} // namespace koru::analysers
