#include "platform/audio/DeviceRegistry.h"
#include "zotools/ZOAudioDeviceMenu.h"
#include "zotools/ZOAudioHardwareDevice.h"
#include "zotools/ZOAudioHardwareSystem.h"
#include "zotools/ZOAudioInputDeviceMenu.h"
#include "zotools/ZOAudioInputDevicePopUpButton.h"
#include "zotools/ZOAudioOutputDeviceMenu.h"

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
    p.sampleRates = {44100, 48000};
    p.preferredSampleRate = 48000;
    return p;
}

// A sound system the test plugs devices into, seen through the toolkit's classes.
class Hardware : public ::testing::Test {
protected:
    Hardware() {
        plugged = {card("Line", 2, 2), card("Mic", 1, 0), card("Speakers", 0, 2)};
        registry.refresh();
    }
    void replug(std::vector<DeviceRegistry::ProbedDevice> devices) {
        plugged = std::move(devices);
        registry.refresh();
    }
    AudioObjectID id(const char* uid) const { return system.deviceForUID(uid); }
    static QStringList titles(const QMenu& menu) {
        QStringList list;
        for (const QAction* a : menu.actions())
            list << a->text();
        return list;
    }

    std::vector<DeviceRegistry::ProbedDevice> plugged;
    DeviceRegistry registry{AudioBackend::Pulse, [this] { return std::optional(plugged); }};
    ZOAudioHardwareSystem system{registry};
};

} // namespace

TEST_F(Hardware, ChannelNamesNumberTheChannelsOfEachSide) {
    struct Case {
        const char* uid;
        bool input;
        QStringList expected;
    };
    const Case cases[] = {
        {"pulse:Line", true, {"Line 1", "Line 2"}},
        {"pulse:Line", false, {"Line 1", "Line 2"}},
        {"pulse:Mic", true, {"Mic"}},
        {"pulse:Mic", false, {}},
        {"pulse:Gone", true, {}},
    };
    for (const Case& c : cases) {
        const ZOAudioHardwareDevice device(id(c.uid), registry);
        EXPECT_EQ(device.channelNamesOfInput(c.input), c.expected) << c.uid << " " << c.input;
    }
}

TEST_F(Hardware, DeviceWrapperAnswersFromTheList) {
    const ZOAudioHardwareDevice line(id("pulse:Line"), registry);
    EXPECT_EQ(line.name(), "Line");
    EXPECT_EQ(line.UID(), "pulse:Line");
    EXPECT_TRUE(line.manufacturer().isNull());
    EXPECT_TRUE(line.hasInputs());
    EXPECT_TRUE(line.hasOutputs());
    EXPECT_EQ(line.availableSampleRates(), (std::vector<float>{44100.0f, 48000.0f}));
    EXPECT_EQ(line.nominalSampleRate(), 48000.0);
    line.setNominalSampleRate(96000.0); // not offered: ignored
    EXPECT_EQ(line.nominalSampleRate(), 48000.0);
    line.setNominalSampleRate(44100.0);
    EXPECT_EQ(line.nominalSampleRate(), 44100.0);
    EXPECT_EQ(line.relatedDevices(), std::vector<ZOAudioHardwareDevice>{line});

    const ZOAudioHardwareDevice mic(id("pulse:Mic"), registry);
    EXPECT_TRUE(mic.relatedDevices().empty());
    EXPECT_FALSE(mic.hasOutputs());

    // No clock sources or configuration programs on this platform.
    ASSERT_TRUE(line.availableClockSources().has_value());
    EXPECT_TRUE(line.availableClockSources()->empty());
    EXPECT_EQ(line.nameForClockSourceID(1), "");
    EXPECT_FALSE(line.clockSourceControlIsSettable());
    EXPECT_EQ(line.currentClockSourceID(), 0u);
    EXPECT_TRUE(line.configurationApplicationBundle().isNull());
}

TEST_F(Hardware, WrapperOfAMissingDeviceFallsBack) {
    const AudioObjectID mic = id("pulse:Mic");
    replug({card("Line", 2, 2)});
    const ZOAudioHardwareDevice gone(mic, registry);
    EXPECT_EQ(gone.nominalSampleRate(), -1.0);
    EXPECT_TRUE(gone.name().isNull());
    EXPECT_TRUE(gone.UID().isNull());
    EXPECT_FALSE(gone.hasInputs());
    EXPECT_TRUE(gone.availableSampleRates().empty());
    EXPECT_EQ(ZOAudioHardwareDevice(0, registry).nominalSampleRate(), -1.0);
}

TEST_F(Hardware, SystemListsDevicesAndPostsListChanges) {
    int posted = 0;
    const auto observer = system.addObserver([&](const koru::platform::Notification& n) {
        EXPECT_EQ(n.name, "ZOAudioHardwarePropertyNotification_Devices");
        EXPECT_FALSE(n.object.isValid());
        ++posted;
    });
    const std::vector<ZOAudioHardwareDevice> devices = system.devices();
    ASSERT_EQ(devices.size(), 6u);
    EXPECT_EQ(devices[1].name(), "Mic");
    EXPECT_EQ(id("pulse:Nothing"), 0u);

    registry.refresh();
    EXPECT_EQ(posted, 0);
    replug({card("Line", 2, 2)});
    EXPECT_EQ(posted, 1);
    system.removeObserver(observer);
    replug({});
    EXPECT_EQ(posted, 1);
}

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
