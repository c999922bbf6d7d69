#include "PreferencesTestSupport.h"

#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/ui/KOColourPanelCloser.h"
#include "platform/defaults/UserDefaults.h"

#include <QColorDialog>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// A one-shot timer on a clock the test moves.
class ManualScheduler : public KOColourPanelCloser::Scheduler {
public:
    void start(milliseconds delay, std::function<void()> action) override {
        deadline = now + delay;
        mAction = std::move(action);
    }
    void cancel() override {
        deadline.reset();
        mAction = nullptr;
    }
    bool isPending() const override { return deadline.has_value(); }
    void advanceTo(milliseconds when) {
        now = when;
        if (deadline && *deadline <= now) {
            deadline.reset();
            std::function<void()> action = std::move(mAction);
            action();
        }
    }

    milliseconds now{0};
    std::optional<milliseconds> deadline;

private:
    std::function<void()> mAction;
};

class ColourPanelCloserTest : public ::testing::Test {
protected:
    ColourPanelCloserTest() {
        auto owned = std::make_unique<ManualScheduler>();
        scheduler = owned.get();
        closer = std::make_unique<KOColourPanelCloser>(preferences, std::move(owned));
        panel.setOption(QColorDialog::NoButtons);
        closer->watch(panel);
    }
    void pick(milliseconds at, const QColor& colour) {
        scheduler->advanceTo(at);
        panel.setCurrentColor(colour);
    }

    koru::platform::UserDefaults defaults{koru::test::freshDefaultsPath("colour-panel")};
    KOGrowlNotificationCenter notifications{std::make_unique<koru::test::DiscardingSink>(),
                                            defaults};
    KOPreferences preferences{defaults, notifications};
    QColorDialog panel;
    ManualScheduler* scheduler = nullptr;
    std::unique_ptr<KOColourPanelCloser> closer;
};

// The panel closes the set time after the last change; every change pushes the closing out.
TEST_F(ColourPanelCloserTest, ThePanelClosesTheSetTimeAfterTheLastChange) {
    struct Case {
        qint64 storedSeconds; // as stored in the defaults file
        milliseconds secondPick;
        milliseconds closesAt;
    };
    // Picks at 0 s and at the second time; the time is kept within 2 to 10 s, 0 reads 3.
    const Case cases[] = {{3, 2000ms, 5000ms},
                          {1, 1000ms, 3000ms},
                          {10, 1000ms, 11000ms},
                          {25, 1000ms, 11000ms},
                          {0, 1000ms, 4000ms}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.storedSeconds);
        preferences.setAutoCloseColorPanel(true);
        defaults.setInteger(KOPreferences::kAutoCloseColorPanelTimeKey, c.storedSeconds);
        scheduler->cancel();
        scheduler->now = 0ms;
        panel.show(); // showing counts as using it
        pick(0ms, Qt::red);
        pick(c.secondPick, Qt::green);
        scheduler->advanceTo(c.closesAt - 1ms);
        EXPECT_TRUE(panel.isVisible());
        scheduler->advanceTo(c.closesAt);
        EXPECT_FALSE(panel.isVisible());
        EXPECT_FALSE(closer->isPending());
    }
}

TEST_F(ColourPanelCloserTest, TurnedOffItSchedulesNothingButAPendingCloseStillHappensOnce) {
    preferences.setAutoCloseColorPanelTime(3);
    preferences.setAutoCloseColorPanel(true);
    panel.show();
    pick(0ms, Qt::red);
    ASSERT_TRUE(closer->isPending());

    preferences.setAutoCloseColorPanel(false);
    pick(1000ms, Qt::blue); // no new deadline
    scheduler->advanceTo(3000ms);
    EXPECT_FALSE(panel.isVisible());

    panel.show();
    pick(4000ms, Qt::yellow);
    EXPECT_FALSE(closer->isPending());
    scheduler->advanceTo(60000ms);
    EXPECT_TRUE(panel.isVisible());
}

} // namespace
