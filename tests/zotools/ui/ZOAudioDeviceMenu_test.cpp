#include "../HardwareTestSupport.h"

#include "zotools/ui/ZOAudioDeviceMenu.h"
#include "zotools/ui/ZOAudioInputDeviceMenu.h"
#include "zotools/ui/ZOAudioInputDevicePopUpButton.h"
#include "zotools/ui/ZOAudioOutputDeviceMenu.h"

#include <QAction>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using koru::test::card;
using koru::test::Hardware;

namespace {

QStringList titles(const QMenu& menu) {
    QStringList list;
    for (const QAction* a : menu.actions())
        list << a->text();
    return list;
}

} // namespace

TEST_F(Hardware, MenusListTheirSideAndCarryDeviceIds) {
    ZOAudioDeviceMenu all(ZOAudioDeviceMenu::Action{}, nullptr, system);
    ZOAudioInputDeviceMenu inputs(ZOAudioDeviceMenu::Action{}, nullptr, system);
    ZOAudioOutputDeviceMenu outputs(ZOAudioDeviceMenu::Action{}, nullptr, system);
    EXPECT_EQ(all.title(), "Audio Device");
    EXPECT_EQ(titles(all), (QStringList{"Line", "Mic", "Speakers", "Virtual Input", "Manual Input",
                                        "Null Output"}));
    EXPECT_EQ(titles(inputs), (QStringList{"Line", "Mic", "Virtual Input", "Manual Input"}));
    EXPECT_EQ(titles(outputs), (QStringList{"Line", "Speakers", "Null Output"}));
    EXPECT_EQ(inputs.actions().at(1)->data().toUInt(), id("pulse:Mic"));
}

TEST_F(Hardware, MenuRebuildsOnHotPlugAndKeepsTheCheckedDevice) {
    std::vector<AudioObjectID> chosen;
    ZOAudioInputDeviceMenu menu([&](AudioObjectID device) { chosen.push_back(device); }, nullptr,
                                system);
    const AudioObjectID mic = id("pulse:Mic");
    menu.checkDeviceID(mic);
    EXPECT_EQ(menu.checkedDeviceID(), mic);

    replug({card("Mic", 1, 0), card("Speakers", 0, 2)}); // the line interface is pulled
    EXPECT_EQ(titles(menu), (QStringList{"Mic", "Virtual Input", "Manual Input"}));
    EXPECT_EQ(menu.checkedDeviceID(), mic);

    replug({card("Speakers", 0, 2)}); // now the checked one goes too
    EXPECT_EQ(titles(menu), (QStringList{"Virtual Input", "Manual Input"}));
    EXPECT_EQ(menu.checkedDeviceID(), 0u);

    replug({card("Mic", 1, 0)});
    EXPECT_EQ(menu.checkedDeviceID(), 0u) << "it came back under a new ID";
    menu.actions().front()->trigger();
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0], id("pulse:Mic"));
    EXPECT_NE(chosen[0], mic);
}

TEST_F(Hardware, DestroyedMenuStopsObserving) {
    auto menu = std::make_unique<ZOAudioDeviceMenu>(ZOAudioDeviceMenu::Action{}, nullptr, system);
    menu.reset();
    replug({}); // would touch the freed menu if it still observed
    SUCCEED();
}

TEST_F(Hardware, InputPopUpFollowsTheListAndKeepsItsSelection) {
    ZOAudioInputDevicePopUpButton popUp(nullptr, system);
    EXPECT_EQ(popUp.count(), 4);
    const AudioObjectID mic = id("pulse:Mic");
    popUp.setSelectedObjectID(mic);
    EXPECT_EQ(popUp.selectedObjectID(), mic);
    EXPECT_EQ(popUp.currentText(), "Mic");

    replug({card("Mic", 1, 0)});
    EXPECT_EQ(popUp.count(), 3);
    EXPECT_EQ(popUp.selectedObjectID(), mic);
    popUp.setSelectedObjectID(4242);
    EXPECT_EQ(popUp.selectedObjectID(), 0u);
}
