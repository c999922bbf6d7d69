#include "AnalyserTestSupport.h"

#include "analysers/ui/KOFFTController.h"
#include "analysers/ui/KOFFTView.h"
#include "analysers/ui/KOSpectralHistoryController.h"
#include "analysers/ui/KOSpectralHistoryView.h"
#include "platform/notifications/NotificationCenter.h"
#include "utility/ui/RangeSlider.h"

#include <gtest/gtest.h>

using koru::platform::Notification;
using koru::platform::observeNotification;
using koru::test::SineInput;

namespace {

// A spectrum window and a spectral history of the same size, linked as a snap links them.
class LinkedWindows : public ::testing::Test {
protected:
    void SetUp() override {
        SineInput::shared();
        spectrum = KOInstrumentController::create<KOFFTController>(KOFFTController::kNibName,
                                                                   nullptr, &delegate);
        history = KOInstrumentController::create<KOSpectralHistoryController>(
            KOSpectralHistoryController::kNibName, nullptr, &delegate);
        // Both shown, as a snap finds them (a new spectral history shows itself).
        for (KOInstrumentController* window :
             {static_cast<KOInstrumentController*>(spectrum.get()),
              static_cast<KOInstrumentController*>(history.get())}) {
            window->instrumentWindow()->show();
            window->instrumentWindow()->resize(500, 300);
        }
        spectrum->spectrumView()->setLoMagLimit(-90.0f);
        spectrum->spectrumView()->setHiFrequencyBound(16000.0f);
        observer = observeNotification(
            QStringLiteral("KORUNot.ParameterChange"), nullptr, [this](const Notification& n) {
                posters.append(n.userInfo.value("identifier").toString());
            });
    }
    int postsBy(const KOInstrumentController& window) const {
        return int(posters.count(window.identifier()));
    }

    koru::test::QuietDelegate delegate;
    std::unique_ptr<KOFFTController> spectrum;
    std::unique_ptr<KOSpectralHistoryController> history;
    koru::platform::ObserverToken observer;
    QStringList posters;
};

TEST_F(LinkedWindows, TheMoverTakesTheOthersBoundsAndBothFollowEachOtherWithoutEcho) {
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*history, *spectrum, Qt::NoModifier));
    KOSpectralHistoryView* colours = history->historyView();
    KOFFTView* plot = spectrum->spectrumView();
    EXPECT_EQ(colours->getLowerMagBound(), -90.0f);
    EXPECT_EQ(colours->getUpperMagBound(), -10.0f);
    EXPECT_EQ(colours->getLowerFBound(), 50.0f);
    EXPECT_EQ(colours->getUpperFBound(), 16000.0f);
    EXPECT_EQ(postsBy(*history), 0) << "the follower posted back what it applied";

    posters.clear();
    plot->setHiMagLimit(-20.0f);
    EXPECT_EQ(colours->getUpperMagBound(), -20.0f);
    colours->setLowFrequencyBound(100.0f);
    EXPECT_EQ(plot->getLowerFBound(), 100.0f);
    colours->setHiFrequencyBound(2000.0f);
    EXPECT_EQ(plot->getUpperFBound(), 2000.0f);
    EXPECT_EQ(postsBy(*spectrum), 1);
    EXPECT_EQ(postsBy(*history), 2);

    // A range moved at once by more than a decade (the plot's range slider) lands whole in the
    // other window.
    posters.clear();
    const ZOLogViewMath& knobs = plot->sliderAxis();
    plot->frequencySlider()->setValues(knobs.frequencyToPosition(2000.0),
                                       knobs.frequencyToPosition(20000.0));
    plot->setFrequencyRange();
    ASSERT_EQ(plot->getLowerFBound(), 2000.0f);
    ASSERT_EQ(plot->getUpperFBound(), 20000.0f);
    EXPECT_EQ(colours->getLowerFBound(), 2000.0f);
    EXPECT_EQ(colours->getUpperFBound(), 20000.0f);
    EXPECT_EQ(postsBy(*history), 0);

    // Without the link nothing follows.
    koru::platform::NotificationCenter::defaultCenter().post(
        "ParameterUnlink", nullptr, {}, {{"identifier", spectrum->identifier()}});
    plot->setLoMagLimit(-60.0f);
    EXPECT_EQ(colours->getLowerMagBound(), -90.0f);
}

// The spectral history's colour range has no minimum span: a linked range narrower than the
// plot allows is clamped by the plot, which posts nothing back; the user's own next change in the
// plot reaches the history again.
TEST_F(LinkedWindows, AFollowerThatClampsPostsNothingBackButStillPostsTheUsersNextChange) {
    ASSERT_TRUE(KOInstrumentController::tryLinkInstruments(*spectrum, *history, Qt::NoModifier));
    KOSpectralHistoryView* colours = history->historyView();
    KOFFTView* plot = spectrum->spectrumView();
    ASSERT_EQ(plot->getLowerMagBound(), -80.0f);
    ASSERT_EQ(plot->getUpperFBound(), 24000.0f);
    posters.clear();

    colours->setHiMagLimit(-75.0f);
    EXPECT_EQ(plot->getUpperMagBound(), -75.0f);
    EXPECT_EQ(plot->getLowerMagBound(), -85.0f) << "the plot keeps its 10 dB span";
    EXPECT_EQ(colours->getLowerMagBound(), -80.0f);
    EXPECT_EQ(postsBy(*spectrum), 0);

    plot->setLoMagLimit(-90.0f);
    EXPECT_EQ(colours->getLowerMagBound(), -90.0f);
    EXPECT_EQ(colours->getUpperMagBound(), -75.0f);
    EXPECT_EQ(postsBy(*spectrum), 1);
    EXPECT_EQ(postsBy(*history), 1);
}

} // namespace
