#include "../UtilityTestSupport.h"

#include "utility/ui/KOInfoPanel.h"

#include "platform/defaults/UserDefaults.h"

#include <QGuiApplication>
#include <QLabel>

namespace {

TEST(KOInfoPanel, SharedPanelWelcomesWithOneLine) {
    KOInfoPanel& panel = KOInfoPanel::sharedInfoPanel();
    EXPECT_EQ(&panel, &KOInfoPanel::sharedInfoPanel());
    EXPECT_EQ(panel.windowTitle(), "Info");
    EXPECT_EQ(panel.firstLine()->text(), "Welcome to KORU");
    EXPECT_TRUE(panel.secondLine()->isHidden());
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(KOInfoPanel, ShowsOneOrTwoLinesWithoutShowingItself) {
    KOInfoPanel panel;
    panel.setInfoText("linked Spectrum 1", "with Spectrum 2");
    EXPECT_EQ(panel.firstLine()->text(), "linked Spectrum 1");
    EXPECT_EQ(panel.secondLine()->text(), "with Spectrum 2");
    EXPECT_FALSE(panel.secondLine()->isHidden());
    EXPECT_FALSE(panel.isVisible());

    panel.setInfoText("1k25Hz : -12.0 dB");
    EXPECT_EQ(panel.firstLine()->text(), "1k25Hz : -12.0 dB");
    EXPECT_TRUE(panel.secondLine()->isHidden());

    panel.setInfoText("");
    EXPECT_EQ(panel.firstLine()->text(), "");
}

TEST(KOInfoPanel, BothLinesAreSeenWhenShown) {
    KOInfoPanel panel;
    panel.setInfoText("Built-in Audio", "Sample Rate: 48000Hz");
    panel.show();
    ASSERT_TRUE(koru::test::spinUntil([&] { return panel.isVisible(); }));
    EXPECT_TRUE(panel.secondLine()->isVisible());
    EXPECT_GT(panel.secondLine()->geometry().top(), panel.firstLine()->geometry().top());
    panel.setInfoText("Built-in Audio");
    EXPECT_FALSE(panel.secondLine()->isVisible());
    panel.hide();
}

TEST(KOInfoPanel, HidesWhileTheProgramIsInactive) {
    KOInfoPanel panel;
    panel.show();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(panel.isVisible());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(panel.isVisible());
    panel.hide();

    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(panel.isVisible()) << "a panel hidden by the user stays hidden";
}

TEST(KOInfoPanel, RemembersItsFrame) {
    {
        KOInfoPanel panel;
        panel.show();
        panel.resize(300, 70);
        panel.move(123, 77);
        panel.hide();
    }
    const QByteArray frame = koru::platform::UserDefaults::standardUserDefaults().dataForKey(
        KOInfoPanel::kFrameDefaultsKey);
    EXPECT_FALSE(frame.isEmpty());
    KOInfoPanel again;
    EXPECT_EQ(again.size(), QSize(300, 70));
}

} // namespace
