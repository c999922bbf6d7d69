#include "app/InstrumentRegistry.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOMenuAdditions.h"
#include "meters/ui/KOGoniometerController.h"
#include "meters/ui/KOMeterViews.h"
#include "meters/ui/MeterInstruments.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace {

class QuietDelegate : public KOInstrumentControllerDelegate {
public:
    void removeInstrument(KOInstrumentController*) override {}
    void instrumentDidHide(KOInstrumentController*) override {}
    void instrumentDidUnhide(KOInstrumentController*) override {}
    void setCurrentInstrument(KOInstrumentController*) override {}
    void instrumentDidResignCurrent(KOInstrumentController*) override {}
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController*) override {}
    double audioDeviceSampleRate() override { return 48000.0; }
    std::uint32_t preferredOutputDevice() override { return 0; }
};

koru::InstrumentRegistry& meterRegistry() {
    static auto* registry = [] {
        auto* made = new koru::InstrumentRegistry;
        koru::registerMeterInstruments(*made);
        return made;
    }();
    return *registry;
}

TEST(KOGoniometerController, RegisteredSavedAndRestoredWithItsChannels) {
    QuietDelegate delegate;
    ASSERT_TRUE(meterRegistry().contains(QStringLiteral("KOGoniometerController")));
    auto made = meterRegistry().createNew(QStringLiteral("KOGoniometerController"), &delegate);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->name().startsWith(QStringLiteral("Goniometer ")))
        << made->name().toStdString();
    made->setInChannelA(1);
    made->setInChannelB(0);
    const QVariantMap saved = made->dictionaryRepresentation();
    EXPECT_EQ(saved.value(QStringLiteral("chA")).toLongLong(), 1);
    EXPECT_EQ(saved.value(QStringLiteral("chB")).toLongLong(), 0);

    auto restored = meterRegistry().createFromDictionary(saved, &delegate);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->typeName(), QStringLiteral("KOGoniometerController"));
    EXPECT_EQ(restored->inChannelA(), 1);
    EXPECT_EQ(restored->inChannelB(), 0);
    EXPECT_EQ(restored->name(), made->name());
}

TEST(KOGoniometerController, CollectionDrawsTheNewestBlock) {
    QuietDelegate delegate;
    auto made = meterRegistry().createNew(QStringLiteral("KOGoniometerController"), &delegate);
    auto* controller = dynamic_cast<KOGoniometerController*>(made.get());
    ASSERT_NE(controller, nullptr);
    controller->view()->resize(200, 200);
    std::vector<float> a(1024), b(1024);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = 0.5f * float(std::sin(2.0 * std::numbers::pi * 8.0 * double(i) / 1024.0));
        b[i] = -a[i];
    }
    AudioBuffer buffers[2] = {{1, 4096, a.data()}, {1, 4096, b.data()}};
    const AudioBufferList list{2, buffers};
    controller->setInChannelA(0);
    controller->setInChannelB(1);
    controller->instrument()->Process(&list, 1024);
    controller->dataCollection();
    EXPECT_NEAR(controller->view()->correlation(), -1.0f, 1e-6f);
    EXPECT_EQ(controller->view()->picture().size(), QSize(200, 200));
}

TEST(KOGoniometerController, TheMenuAndTheCheckBoxShowTheCorrelation) {
    QuietDelegate delegate;
    auto made = meterRegistry().createNew(QStringLiteral("KOGoniometerController"), &delegate);
    auto* controller = dynamic_cast<KOGoniometerController*>(made.get());
    ASSERT_NE(controller, nullptr);
    EXPECT_FALSE(controller->showCorrelation()) << "off in a new window";
    QMenu* menu = controller->instrumentMenu();
    ASSERT_NE(menu, nullptr);
    QAction* item =
        KOMenuAdditions::itemWithTag(*menu, KOGoniometerController::kShowCorrelationTag);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("Show Correlation"));
    auto* box = controller->view()->controlView()->findChild<QCheckBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Show Correlation"));
    // The two channel pop-ups make it a two-channel instrument with A and B submenus.
    EXPECT_TRUE(controller->isTwoChannelInstrument());
    EXPECT_EQ(controller->view()->controlView()->findChildren<QComboBox*>().size(), 2);

    struct Step {
        const char* how;
        std::function<void()> act;
        bool shown;
    };
    const Step steps[] = {
        {"menu", [&] { item->trigger(); }, true},
        {"menu again", [&] { item->trigger(); }, false},
        {"check box", [&] { box->click(); }, true},
        {"controller", [&] { controller->setShowCorrelation(false); }, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.how);
        step.act();
        EXPECT_EQ(controller->showCorrelation(), step.shown);
        EXPECT_EQ(controller->view()->drawCorrelation(), step.shown);
        EXPECT_EQ(box->isChecked(), step.shown);
        emit menu->aboutToShow();
        EXPECT_EQ(item->isChecked(), step.shown);
    }
}

} // namespace
