#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class KOInstrumentController;

namespace koru::analysers {

// The bounds of a frequency plot as linked windows share them.
class LinkableBounds {
public:
    virtual ~LinkableBounds() = default;
    virtual double lowerFrequency() const = 0;
    virtual double upperFrequency() const = 0;
    virtual void setLowerFrequency(float hertz) = 0;
    virtual void setUpperFrequency(float hertz) = 0;
    virtual double lowerMagnitude() const = 0;
    virtual double upperMagnitude() const = 0;
    virtual void setLowerMagnitude(float decibels) = 0;
    virtual void setUpperMagnitude(float decibels) = 0;
};

// The bounds of any view with the logarithmic plot's operations, called on the view's own class
// (a spectrogram keeps its magnitude bounds apart from the plot's).
template <typename View> class LinkableBoundsOf final : public LinkableBounds {
public:
    explicit LinkableBoundsOf(View& view) : mView(view) {}
    double lowerFrequency() const override { return mView.getLowerFBound(); }
    double upperFrequency() const override { return mView.getUpperFBound(); }
    void setLowerFrequency(float hertz) override { mView.setLowFrequencyBound(hertz); }
    void setUpperFrequency(float hertz) override { mView.setHiFrequencyBound(hertz); }
    double lowerMagnitude() const override { return mView.getLowerMagBound(); }
    double upperMagnitude() const override { return mView.getUpperMagBound(); }
    void setLowerMagnitude(float decibels) override { mView.setLoMagLimit(decibels); }
    void setUpperMagnitude(float decibels) override { mView.setHiMagLimit(decibels); }

private:
    View& mView;
};

// Frequency and magnitude bounds shared between linked windows through "KORUNot.ParameterChange":
// a bound the user changes is posted as "Frequency" {"f.lo", "f.hi"} or "Magnitude"
// {"mag.lo", "mag.hi"} (doubles); a linked window's change is applied to the view without being
// posted back. The spectrum, transfer and spectral-history windows each own one.
//
// While a linked value is being applied the link is marked as following a notification, and the
// view's report of the change only clears that mark. The mark is cleared again once the value is
// applied, whether or not the view moved: a value the view ignores or clamps to its current bound
// reports nothing, and a mark left behind would swallow the user's next change.
//
// A frequency range is applied upper, lower, upper: the view keeps its lower bound a decade under
// the upper one, so a range moved up by more than that would otherwise land elsewhere.
// Main thread only.
class ViewBoundsLink {
public:
    static constexpr const char* kFrequencyParameter = "Frequency";
    static constexpr const char* kMagnitudeParameter = "Magnitude";
    static constexpr const char* kLowFrequencyKey = "f.lo";
    static constexpr const char* kHighFrequencyKey = "f.hi";
    static constexpr const char* kLowMagnitudeKey = "mag.lo";
    static constexpr const char* kHighMagnitudeKey = "mag.hi";

    // `owner` posts the changes (as its own, with its identifier); both outlive the link.
    ViewBoundsLink(KOInstrumentController& owner, std::unique_ptr<LinkableBounds> bounds);
    template <typename View>
    static std::unique_ptr<ViewBoundsLink> forView(KOInstrumentController& owner, View& view) {
        return std::make_unique<ViewBoundsLink>(owner,
                                                std::make_unique<LinkableBoundsOf<View>>(view));
    }

    // "Frequency", "Magnitude".
    static QStringList linkableViewParameters();

    // The view's delegate calls.
    void viewDidChangeFrequencyBounds(float lower, float upper);
    void viewDidChangeMagnitudeBounds(float lower, float upper);
    // Applies a linked window's value; false for a parameter this link does not know.
    bool changeParameterWithName(const QString& name, const QVariant& value);
    // Posts the magnitude bounds, then the frequency bounds, so a newly linked window takes both.
    void postParameters();

    bool parameterChangeCameFromNotification() const { return mCameFromNotification; }

private:
    // Applies `wanted` through `set` unless the view's bound `current` already equals it (NaN
    // never does).
    void apply(double wanted, double current, void (LinkableBounds::*set)(float));

    KOInstrumentController& mOwner;
    std::unique_ptr<LinkableBounds> mBounds;
    bool mCameFromNotification = false;
};

} // namespace koru::analysers
