#include "HardwareTestSupport.h"

#include "zotools/ZOAudioHardwareDevice.h"
#include "zotools/ZOAudioHardwareSystem.h"

#include <gtest/gtest.h>

using koru::test::card;
using koru::test::Hardware;

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

    // No clock sources on this platform; the configuration program is the server's mixer.
    ASSERT_TRUE(line.availableClockSources().has_value());
    EXPECT_TRUE(line.availableClockSources()->empty());
    EXPECT_EQ(line.nameForClockSourceID(1), "");
    EXPECT_FALSE(line.clockSourceControlIsSettable());
    EXPECT_EQ(line.currentClockSourceID(), 0u);
    EXPECT_EQ(line.configurationApplicationBundle(), "pavucontrol");
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
