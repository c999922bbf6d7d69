#include "platform/audio/AudioComponentRegistry.h"
#include "platform/audio/AudioOutputUnit.h"
#include "zotools/CAException.h"
#include "zotools/ZOAudioOutputUnit.h"
#include "zotools/ZOAudioUnit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Catches the status a wrapper call throws and what it printed on the way.
template <typename Call> std::pair<OSStatus, std::string> failure(Call call) {
    testing::internal::CaptureStdout();
    OSStatus status = noErr;
    try {
        call();
    } catch (const CAException& e) {
        status = e.GetError();
    }
    return {status, testing::internal::GetCapturedStdout()};
}

} // namespace

TEST(ZOAudioUnit, FailedCallsPrintTheStatusAndTheCallThenThrow) {
    ZOAudioUnit output(kAudioUnitType_Output, kAudioUnitSubType_DefaultOutput,
                       kAudioUnitManufacturer_Apple);
    ASSERT_NE(output.Instance(), nullptr);
    std::uint32_t value = 1;
    const auto [setStatus, setText] =
        failure([&] { output.SetProperty(4242, &value, sizeof value, 0, kAudioUnitScope_Global); });
    EXPECT_EQ(setStatus, kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(setText, "\n(-98) err: -10879 - AudioUnitSetProperty\n");

    const auto [parameterStatus, parameterText] =
        failure([&] { output.SetParameter(99, kAudioUnitScope_Global, 0, 1.0f); });
    EXPECT_EQ(parameterStatus, kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(parameterText, "\n(-98) err: -10878\n");

    float volume = 0.0f;
    EXPECT_NO_THROW(volume =
                        output.GetParameter(kHALOutputParam_Volume, kAudioUnitScope_Global, 0));
    EXPECT_EQ(volume, 1.0f);
}

TEST(ZOAudioUnit, UnknownComponentOpensNothingAndEveryCallFails) {
    ZOAudioUnit none(koru::platform::fourCC("aufx"), koru::platform::fourCC("none"),
                     kAudioUnitManufacturer_Apple);
    EXPECT_EQ(none.Instance(), nullptr);
    const auto [status, text] = failure([&] { none.Initialize(); });
    EXPECT_EQ(status, kAudioComponentErr_NotFound);
    EXPECT_NE(text.find("OpenAComponent"), std::string::npos);
    EXPECT_EQ(none.Render(nullptr, nullptr, 0, 1024, nullptr), kAudioComponentErr_NotFound);
}

TEST(ZOAudioUnit, ListenersHearChangesUntilTheWrapperGoes) {
    struct Listening : ZOAudioUnit {
        using ZOAudioUnit::ZOAudioUnit;
        void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement) override {
            heard.push_back(id);
        }
        std::vector<AudioUnitPropertyID> heard;
    };
    koru::platform::AudioOutputUnit unit;
    {
        Listening wrapper(&unit);
        wrapper.AddPropertyListener(kAudioOutputUnitProperty_CurrentDevice);
        const AudioDeviceID device = 0; // the default output
        wrapper.SetProperty(kAudioOutputUnitProperty_CurrentDevice, &device, sizeof device, 0,
                            kAudioUnitScope_Global);
        EXPECT_EQ(wrapper.heard,
                  std::vector<AudioUnitPropertyID>{kAudioOutputUnitProperty_CurrentDevice});
    }
    const AudioDeviceID device = 0;
    EXPECT_EQ(unit.setProperty(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0,
                               &device, sizeof device),
              noErr); // the wrapper is gone: nobody may be called
}

TEST(ZOAudioOutputUnit, OpensTheHardwareInputUnitWithInputOnly) {
    ZOAudioOutputUnit unit(true, false);
    ASSERT_NE(unit.Instance(), nullptr);
    std::uint32_t input = 0;
    std::uint32_t size = sizeof input;
    unit.GetProperty(kAudioOutputUnitProperty_EnableIO, &input, &size, 1, kAudioUnitScope_Input);
    EXPECT_EQ(input, 1u);
    EXPECT_NE(unit.GetCurrentDevice(), 0u);
    EXPECT_EQ(unit.GetNominalSampleRate(), 48000.0);
    const auto [status, text] = failure([] { ZOAudioOutputUnit both(true, true); });
    EXPECT_EQ(status, kAudioUnitErr_InvalidPropertyValue) << "this unit only captures";
}
