#include "analysers/ui/KOFFTInstViewBase.h"
#include "analysers/ui/ViewBoundsLink.h"
#include "framework/KOInstrumentController.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"
#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using koru::analysers::ViewBoundsLink;
using koru::platform::Notification;
using koru::platform::observeNotification;

namespace {

constexpr double kNyquist = 24000.0;

// A plot whose bound reports go to its link, as a window wires them.
class LinkedPlot : public KOLogarithmicInstrumentViewDelegate {
public:
    LinkedPlot() {
        view.resize(600, 300);
        view.setDelegate(this);
        view.setMagLimits(-144.0f, 0.0f);
        view.setLoMagLimit(-96.0f);
        view.setHiMagLimit(-10.0f);
        posts.clear();
    }
    void viewDidChangeFrequencyBounds(float lower, float upper) override {
        link->viewDidChangeFrequencyBounds(lower, upper);
    }
    void viewDidChangeMagnitudeBounds(float lower, float upper) override {
        link->viewDidChangeMagnitudeBounds(lower, upper);
    }

    KOInstrumentController owner;
    KOFFTInstViewBase view{nullptr, kNyquist};
    std::unique_ptr<ViewBoundsLink> link = ViewBoundsLink::forView(owner, view);
    std::vector<Notification> posts;
    koru::platform::ObserverToken observer = observeNotification(
        QStringLiteral("KORUNot.ParameterChange"), nullptr, [this](const Notification& n) {
            if (n.sender == &owner)
                posts.push_back(n);
        });
};

QVariantMap magnitude(double lower, double upper) {
    return {{"mag.lo", lower}, {"mag.hi", upper}};
}

QVariantMap frequency(double lower, double upper) {
    return {{"f.lo", lower}, {"f.hi", upper}};
}

TEST(ViewBoundsLink, UserChangesArePostedWithTheOwnersIdentity) {
    LinkedPlot plot;
    plot.view.setLoMagLimit(-80.0f);
    plot.view.setHiFrequencyBound(10000.0f);

    ASSERT_EQ(plot.posts.size(), 2u);
    const QVariantMap first = plot.posts[0].userInfo;
    EXPECT_EQ(first.value("identifier").toString(), plot.owner.identifier());
    EXPECT_EQ(first.value("parameter").toString(), "Magnitude");
    EXPECT_EQ(first.value("value").toMap(), magnitude(-80.0, -10.0));
    const QVariantMap second = plot.posts[1].userInfo;
    EXPECT_EQ(second.value("parameter").toString(), "Frequency");
    EXPECT_EQ(second.value("value").toMap(), frequency(50.0, 10000.0));
    EXPECT_EQ(second.value("value").toMap().value("f.lo").typeId(), QMetaType::Double);
}

// Whatever a linked value does to the view, it is never posted back, and the user's next change
// is posted again: a value the view ignores or already shows must not leave the link believing
// the next report is the echo of a notification.
TEST(ViewBoundsLink, AppliedValuesAreNotPostedBackAndNeverSwallowTheNextUserChange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        QVariantMap value;
        float lower;
        float upper;
    };
    const Case cases[] = {
        {"moves both bounds", magnitude(-70.0, -20.0), -70.0f, -20.0f},
        {"equals the view's bounds", magnitude(-96.0, -10.0), -96.0f, -10.0f},
        // The view stores floats: a double a hair off its bound moves nothing.
        {"rounds to the view's bounds", magnitude(-96.0000001, -10.0000001), -96.0f, -10.0f},
        {"is no number", magnitude(nan, nan), -96.0f, -10.0f},
        {"is missing", QVariantMap{}, -96.0f, -10.0f},
        {"is no dictionary", QVariantMap{{"mag.lo", "loud"}}, -96.0f, -10.0f},
    };
    for (const Case& c : cases) {
        LinkedPlot plot;
        EXPECT_TRUE(plot.link->changeParameterWithName("Magnitude", c.value)) << c.what;
        EXPECT_TRUE(plot.posts.empty()) << c.what;
        EXPECT_FALSE(plot.link->parameterChangeCameFromNotification()) << c.what;
        EXPECT_EQ(plot.view.getLowerMagBound(), c.lower) << c.what;
        EXPECT_EQ(plot.view.getUpperMagBound(), c.upper) << c.what;

        plot.view.setLoMagLimit(-60.0f);
        ASSERT_EQ(plot.posts.size(), 1u) << c.what << ": the user's change was swallowed";
        EXPECT_EQ(plot.posts[0].userInfo.value("value").toMap(), magnitude(-60.0, c.upper))
            << c.what;
    }
}

// The view keeps its lower frequency a decade under the upper one; a linked range moved by more
// than that still lands where the other window shows it.
TEST(ViewBoundsLink, FrequencyRangesLandExactlyWhereverTheyComeFrom) {
    struct Case {
        double fromLower, fromUpper, toLower, toUpper;
    };
    const Case cases[] = {
        {50.0, 5000.0, 2000.0, 20000.0},
        {2000.0, 20000.0, 50.0, 5000.0},
        {50.0, 20000.0, 100.0, 1000.0},
        {100.0, 1000.0, 125.0, 24000.0},
    };
    for (const Case& c : cases) {
        LinkedPlot plot;
        plot.view.setHiFrequencyBound(float(c.fromUpper));
        plot.view.setLowFrequencyBound(float(c.fromLower));
        plot.view.setHiFrequencyBound(float(c.fromUpper));
        ASSERT_EQ(plot.view.getLowerFBound(), float(c.fromLower));
        ASSERT_EQ(plot.view.getUpperFBound(), float(c.fromUpper));
        plot.posts.clear();

        plot.link->changeParameterWithName("Frequency", frequency(c.toLower, c.toUpper));
        EXPECT_EQ(plot.view.getLowerFBound(), float(c.toLower)) << c.fromLower << " " << c.toLower;
        EXPECT_EQ(plot.view.getUpperFBound(), float(c.toUpper)) << c.fromLower << " " << c.toLower;
        EXPECT_TRUE(plot.posts.empty());
    }
}

TEST(ViewBoundsLink, PostParametersSendsMagnitudeThenFrequencyAndOtherNamesAreNotTaken) {
    LinkedPlot plot;
    plot.link->postParameters();
    ASSERT_EQ(plot.posts.size(), 2u);
    EXPECT_EQ(plot.posts[0].userInfo.value("parameter").toString(), "Magnitude");
    EXPECT_EQ(plot.posts[0].userInfo.value("value").toMap(), magnitude(-96.0, -10.0));
    EXPECT_EQ(plot.posts[1].userInfo.value("parameter").toString(), "Frequency");
    EXPECT_EQ(plot.posts[1].userInfo.value("value").toMap(), frequency(50.0, kNyquist));

    EXPECT_FALSE(plot.link->changeParameterWithName("Gain", magnitude(-1.0, 1.0)));
    EXPECT_EQ(ViewBoundsLink::linkableViewParameters(), (QStringList{"Frequency", "Magnitude"}));
}

} // namespace
