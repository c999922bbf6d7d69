#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioStreamError.h"
#include "platform/audio/DeviceRegistry.h"

#include <gtest/gtest.h>

#include <stdexcept>

using koru::platform::AudioBackend;
using koru::platform::AudioDeviceInfo;
using koru::platform::DeviceRegistry;
using koru::platform::VirtualInputConfig;

namespace {

DeviceRegistry::ProbedDevice card(const std::string& name, std::uint32_t in, std::uint32_t out,
                                  bool defaultIn = false) {
    DeviceRegistry::ProbedDevice p;
    p.name = name;
    p.inputChannels = in;
    p.outputChannels = out;
    p.sampleRates = {44100, 48000, 96000};
    p.preferredSampleRate = 44100;
    p.isDefaultInput = defaultIn;
    return p;
}

// A sound system whose device list the test edits, as cables are plugged and pulled.
class FakeSoundSystem : public ::testing::Test {
protected:
    FakeSoundSystem() : registry(AudioBackend::Alsa, [this] { return std::optional(plugged); }) {
        listener = registry.addListListener([this] { ++listChanges; });
    }
    ~FakeSoundSystem() override { registry.removeListener(listener); }

    std::uint32_t idOf(const QString& uid) const { return registry.deviceForUID(uid); }

    std::vector<DeviceRegistry::ProbedDevice> plugged;
    DeviceRegistry registry;
    DeviceRegistry::ListenerId listener = 0;
    int listChanges = 0;
};

} // namespace

TEST_F(FakeSoundSystem, UidsNameTheApiAndNumberDuplicates) {
    plugged = {card("USB Mic", 1, 0), card("HDA Intel", 2, 2), card("USB Mic", 1, 0)};
    ASSERT_TRUE(registry.refresh());

    std::vector<QString> uids;
    for (const AudioDeviceInfo& d : registry.devices())
        uids.push_back(d.uid);
    const std::vector<QString> expected{"alsa:USB Mic",         "alsa:HDA Intel",
                                        "alsa:USB Mic#2",       "virtual:Virtual Input",
                                        "virtual:Manual Input", "virtual:Null Output"};
    EXPECT_EQ(uids, expected);
    EXPECT_NE(idOf("alsa:USB Mic"), idOf("alsa:USB Mic#2"));
    EXPECT_EQ(idOf("alsa:Nothing"), 0u);
}

TEST_F(FakeSoundSystem, HotPlugKeepsIdsOfPresentDevicesAndNeverReusesOne) {
    plugged = {card("HDA Intel", 2, 2), card("USB Mic", 1, 0)};
    registry.refresh();
    const std::uint32_t intel = idOf("alsa:HDA Intel");
    const std::uint32_t mic = idOf("alsa:USB Mic");
    ASSERT_NE(intel, 0u);
    ASSERT_NE(mic, 0u);
    EXPECT_EQ(listChanges, 1);

    EXPECT_FALSE(registry.refresh()) << "an unchanged list is no change";
    EXPECT_EQ(listChanges, 1);

    plugged = {card("HDA Intel", 2, 2)}; // the microphone is pulled
    EXPECT_TRUE(registry.refresh());
    EXPECT_EQ(listChanges, 2);
    EXPECT_EQ(idOf("alsa:HDA Intel"), intel);
    EXPECT_EQ(idOf("alsa:USB Mic"), 0u);
    EXPECT_FALSE(registry.device(mic).has_value());

    plugged = {card("HDA Intel", 2, 2), card("USB Mic", 1, 0)}; // and plugged back
    registry.refresh();
    const std::uint32_t again = idOf("alsa:USB Mic");
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, mic) << "a device that comes back gets a fresh ID";
    for (const AudioDeviceInfo& d : registry.devices())
        EXPECT_LE(d.id, again);
    EXPECT_EQ(idOf("alsa:HDA Intel"), intel);
}

TEST_F(FakeSoundSystem, BusyDeviceKeepsItsEntryAndChannelClaimsAreCapped) {
    plugged = {card("HDA Intel", 2, 2), card("default", 10000, 10000)};
    registry.refresh();
    const auto big = registry.device(idOf("alsa:default"));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->inputChannels, DeviceRegistry::kMaxHardwareChannels);

    // A device our own stream holds cannot be probed: it has not gone away.
    plugged[0].probed = false;
    plugged[0].inputChannels = 0;
    EXPECT_FALSE(registry.refresh());
    const auto intel = registry.device(idOf("alsa:HDA Intel"));
    ASSERT_TRUE(intel);
    EXPECT_EQ(intel->inputChannels, 2u);
}

TEST_F(FakeSoundSystem, FailedEnumerationKeepsTheList) {
    DeviceRegistry flaky(AudioBackend::Pulse, [] { return std::nullopt; });
    EXPECT_FALSE(flaky.refresh());
    EXPECT_EQ(flaky.devices().size(), 3u); // the virtual devices
}

TEST_F(FakeSoundSystem, DefaultInputIsTheSystemsOrTheVirtualInput) {
    EXPECT_EQ(registry.defaultInputDevice(), registry.virtualInputDevice());
    EXPECT_EQ(registry.defaultOutputDevice(), registry.nullOutputDevice());

    plugged = {card("HDA Intel", 0, 2), card("USB Mic", 1, 0), card("Dock", 2, 0, true)};
    registry.refresh();
    EXPECT_EQ(registry.defaultInputDevice(), idOf("alsa:Dock"));
    EXPECT_EQ(registry.defaultOutputDevice(), idOf("alsa:HDA Intel"));

    plugged[2].isDefaultInput = false;
    registry.refresh();
    EXPECT_EQ(registry.defaultInputDevice(), idOf("alsa:USB Mic")) << "first device with inputs";
}

TEST_F(FakeSoundSystem, NominalRateIsChosenValidatedAndKept) {
    plugged = {card("HDA Intel", 2, 2)};
    registry.refresh();
    const std::uint32_t id = idOf("alsa:HDA Intel");
    EXPECT_EQ(registry.device(id)->nominalSampleRate, 44100.0) << "the preferred rate";

    std::vector<std::pair<std::uint32_t, double>> heard;
    const auto rates = registry.addRateListener(
        [&](std::uint32_t device, double rate) { heard.emplace_back(device, rate); });
    EXPECT_EQ(registry.setNominalSampleRate(id, 22050.0), kAudioDeviceUnsupportedFormatError);
    EXPECT_EQ(registry.setNominalSampleRate(9999, 48000.0), kAudioHardwareBadDeviceError);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(registry.setNominalSampleRate(id, 96000.0), noErr);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(id, 96000.0));

    registry.refresh();
    EXPECT_EQ(registry.device(id)->nominalSampleRate, 96000.0) << "a chosen rate survives a poll";
    plugged[0].sampleRates = {44100, 48000};
    registry.refresh();
    EXPECT_EQ(registry.device(id)->nominalSampleRate, 44100.0) << "a rate the device lost";
    registry.removeListener(rates);
}

TEST_F(FakeSoundSystem, VirtualDevicesPlugAndUnplug) {
    VirtualInputConfig config;
    config.name = "Bench";
    config.channels = 32;
    const std::uint32_t first = registry.addVirtualInput(config);
    const std::uint32_t second = registry.addVirtualInput(config);
    EXPECT_EQ(listChanges, 2);
    EXPECT_EQ(registry.device(first)->uid, "virtual:Bench");
    EXPECT_EQ(registry.device(second)->uid, "virtual:Bench#2");
    EXPECT_EQ(registry.device(first)->inputChannels, 32u);

    EXPECT_TRUE(registry.removeDevice(first));
    EXPECT_EQ(listChanges, 3);
    EXPECT_FALSE(registry.device(first));
    EXPECT_FALSE(registry.removeDevice(first));
    EXPECT_FALSE(registry.removeDevice(registry.virtualInputDevice())) << "built-ins stay";
    EXPECT_EQ(registry.addVirtualInput(config), second + 1) << "IDs are never reused";
}

TEST_F(FakeSoundSystem, ImpossibleVirtualDevicesAreRefused) {
    struct Case {
        std::uint32_t channels;
        double rate;
        std::uint32_t period;
    };
    for (const Case& c :
         {Case{0, 48000, 480}, Case{33, 48000, 480}, Case{2, 22050, 480}, Case{2, 48000, 0}}) {
        VirtualInputConfig config;
        config.channels = c.channels;
        config.sampleRate = c.rate;
        config.periodFrames = c.period;
        EXPECT_THROW(registry.addVirtualInput(config), std::invalid_argument);
    }
    EXPECT_EQ(listChanges, 0);
}

TEST_F(FakeSoundSystem, OpeningWhatCannotBeOpenedSaysWhy) {
    struct NoSink : koru::platform::AudioInputStream::Sink {
        void deliver(const float* const*, std::uint32_t, std::uint32_t) noexcept override {}
    } sink;
    try {
        registry.openInput(4242, sink, 1024);
        FAIL() << "opened a device that does not exist";
    } catch (const koru::platform::AudioStreamError& e) {
        EXPECT_EQ(e.status(), kAudioHardwareBadDeviceError);
    }
    try {
        registry.openInput(registry.nullOutputDevice(), sink, 1024);
        FAIL() << "opened an output as an input";
    } catch (const koru::platform::AudioStreamError& e) {
        EXPECT_NE(std::string(e.what()).find("no inputs"), std::string::npos);
    }
}

TEST(AudioBackend, NamesParseCaseInsensitivelyAndAnythingElseIsAutomatic) {
    using koru::platform::audioBackendFromName;
    struct Case {
        const char* name;
        AudioBackend expected;
    };
    for (const Case& c :
         {Case{"virtual", AudioBackend::Virtual}, Case{"PULSE", AudioBackend::Pulse},
          Case{" jack ", AudioBackend::Jack}, Case{"alsa", AudioBackend::Alsa},
          Case{"", AudioBackend::Alsa}, Case{"oss", AudioBackend::Alsa}})
        EXPECT_EQ(audioBackendFromName(c.name, AudioBackend::Alsa), c.expected) << c.name;
    EXPECT_EQ(koru::platform::chooseAudioBackend(), AudioBackend::Virtual)
        << "the test main sets KORU_AUDIO_API=virtual";
}
