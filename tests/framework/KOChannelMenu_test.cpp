#include "framework/KOChannelMenu.h"
#include "framework/KOInputChannelMenu.h"
#include "framework/KOMenuItemAdditions.h"
#include "framework/KOOutputChannelMenu.h"
#include "platform/audio/DeviceRegistry.h"

#include <QAction>

#include <gtest/gtest.h>

using koru::platform::AudioBackend;
using koru::platform::DeviceRegistry;

namespace {

DeviceRegistry::ProbedDevice card(const std::string& name, std::uint32_t in, std::uint32_t out) {
    DeviceRegistry::ProbedDevice p;
    p.name = name;
    p.inputChannels = in;
    p.outputChannels = out;
    p.sampleRates = {48000};
    p.preferredSampleRate = 48000;
    return p;
}

class ChannelMenus : public ::testing::Test {
protected:
    ChannelMenus() { registry.refresh(); }
    AudioObjectID id(const char* uid) const { return registry.deviceForUID(uid); }
    static QStringList items(const QMenu& menu) {
        QStringList list;
        for (const QAction* a : menu.actions())
            list << QStringLiteral("%1=%2").arg(a->text()).arg(KOMenuItemAdditions::tag(*a));
        return list;
    }

    std::vector<DeviceRegistry::ProbedDevice> plugged = {card("Desk", 4, 2), card("Mic", 1, 0)};
    DeviceRegistry registry{AudioBackend::Pulse, [this] { return std::optional(plugged); }};
};

} // namespace

TEST_F(ChannelMenus, ListTheChosenSideOfTheDevice) {
    KOChannelMenu plain(registry);
    KOInputChannelMenu input(registry);
    KOOutputChannelMenu output(registry);
    EXPECT_TRUE(plain.onlyInputs());
    for (KOChannelMenu* menu : std::initializer_list<KOChannelMenu*>{&plain, &input, &output})
        menu->setAudioObjectID(id("pulse:Desk"));
    const QStringList inputs = {"Desk 1=0", "Desk 2=1", "Desk 3=2", "Desk 4=3"};
    EXPECT_EQ(items(plain), inputs);
    EXPECT_EQ(items(input), inputs);
    EXPECT_EQ(items(output), (QStringList{"Desk 1=0", "Desk 2=1"}));
    EXPECT_EQ(output.audioObjectID(), id("pulse:Desk"));
}

TEST_F(ChannelMenus, AnotherDeviceReplacesEveryItem) {
    KOInputChannelMenu menu(registry);
    EXPECT_TRUE(menu.actions().isEmpty());
    menu.setAudioObjectID(0);
    EXPECT_TRUE(menu.actions().isEmpty());
    menu.setAudioObjectID(id("pulse:Desk"));
    menu.setAudioObjectID(id("pulse:Mic"));
    EXPECT_EQ(items(menu), QStringList{"Mic=0"});
    KOOutputChannelMenu outputs(registry);
    outputs.setAudioObjectID(id("pulse:Mic"));
    EXPECT_TRUE(outputs.actions().isEmpty());
    // No device: no channels, rather than the last device's.
    menu.setAudioObjectID(0);
    EXPECT_TRUE(menu.actions().isEmpty());
    menu.setAudioObjectID(9999);
    EXPECT_TRUE(menu.actions().isEmpty());
}
