#pragma once

// The audio-unit vocabulary the engine classes are written against: stream descriptions, buffer
// lists, time stamps, property and status codes. Layouts and values match what the engine code
// and stored data expect; the units behind them are ours (AudioInputUnit, AudioOutputUnit).

#include "platform/fourcc/FourCC.h"

#include <cstdint>

namespace koru::platform {
class AudioUnitInstance;
}

using OSStatus = std::int32_t;
using AudioUnit = koru::platform::AudioUnitInstance*; // a unit handle, not owned by the handle
using AudioObjectID = std::uint32_t;
using AudioDeviceID = std::uint32_t;
using AudioUnitPropertyID = std::uint32_t;
using AudioUnitScope = std::uint32_t;
using AudioUnitElement = std::uint32_t;
using AudioUnitParameterID = std::uint32_t;
using AudioUnitParameterValue = float;
using AudioUnitRenderActionFlags = std::uint32_t;

struct AudioStreamBasicDescription {
    double mSampleRate = 0.0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0; // capacity going in, bytes written coming out
    void* mData = nullptr;
};

// The buffer entries live in a separate array so the list is an ordinary C++ object; index it
// as mBuffers[i] for i < mNumberBuffers.
struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer* mBuffers = nullptr;
};

struct AudioTimeStamp {
    double mSampleTime = 0.0;
    std::uint64_t mHostTime = 0; // CLOCK_MONOTONIC nanoseconds
    double mRateScalar = 1.0;
    std::uint64_t mWordClockTime = 0;
    std::uint32_t mFlags = 0;
    std::uint32_t mReserved = 0;
};

using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, std::uint32_t inBusNumber,
                                      std::uint32_t inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
    AURenderCallback inputProc = nullptr;
    void* inputProcRefCon = nullptr;
};

// A component identity: (type, subtype, manufacturer).
struct AudioComponentDescription {
    std::uint32_t componentType = 0;
    std::uint32_t componentSubType = 0;
    std::uint32_t componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
    std::uint32_t componentFlagsMask = 0;
};

inline constexpr AudioUnitScope kAudioUnitScope_Global = 0;
inline constexpr AudioUnitScope kAudioUnitScope_Input = 1;
inline constexpr AudioUnitScope kAudioUnitScope_Output = 2;

inline constexpr AudioUnitPropertyID kAudioUnitProperty_StreamFormat = 8;
inline constexpr AudioUnitPropertyID kAudioUnitProperty_SetRenderCallback = 23;
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_CurrentDevice = 2000;
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_ChannelMap = 2002;
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_EnableIO = 2003;
inline constexpr AudioUnitPropertyID kAudioOutputUnitProperty_SetInputCallback = 2005;
inline constexpr AudioUnitPropertyID kAudioDevicePropertyBufferFrameSize =
    koru::platform::fourCC("fsiz");
inline constexpr AudioUnitPropertyID kAudioDevicePropertyNominalSampleRate =
    koru::platform::fourCC("nsrt");
inline constexpr AudioUnitPropertyID kAudioDevicePropertyStreamConfiguration =
    koru::platform::fourCC("slay");
inline constexpr AudioUnitPropertyID kAudioHardwarePropertyDevices = koru::platform::fourCC("dev#");

inline constexpr AudioUnitParameterID kHALOutputParam_Volume = 14;

inline constexpr std::uint32_t kAudioFormatLinearPCM = koru::platform::fourCC("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;
// 41 and 9: the engine's two client formats.
inline constexpr std::uint32_t kAudioFormatFlagsFloatNonInterleaved =
    kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
inline constexpr std::uint32_t kAudioFormatFlagsFloatPacked =
    kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;

// Float32 samples, one per frame in each buffer; `flags` tells a packed single channel from
// non-interleaved channels.
inline AudioStreamBasicDescription float32Format(double rate, std::uint32_t channels,
                                                 std::uint32_t flags) {
    AudioStreamBasicDescription format;
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = flags;
    format.mBytesPerPacket = 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 4;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

inline constexpr std::uint32_t kAudioTimeStampSampleTimeValid = 1u << 0;
inline constexpr std::uint32_t kAudioTimeStampHostTimeValid = 1u << 1;

inline constexpr std::uint32_t kAudioUnitType_Output = koru::platform::fourCC("auou");
inline constexpr std::uint32_t kAudioUnitSubType_HALOutput = koru::platform::fourCC("ahal");
inline constexpr std::uint32_t kAudioUnitSubType_DefaultOutput = koru::platform::fourCC("def ");
inline constexpr std::uint32_t kAudioUnitManufacturer_Apple = koru::platform::fourCC("appl");

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kAudioHardwareBadDeviceError = OSStatus(koru::platform::fourCC("!dev"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError =
    OSStatus(koru::platform::fourCC("nope"));
inline constexpr OSStatus kAudioHardwareUnspecifiedError = OSStatus(koru::platform::fourCC("what"));
inline constexpr OSStatus kAudioHardwareNotRunningError = OSStatus(koru::platform::fourCC("stop"));
inline constexpr OSStatus kAudioDeviceUnsupportedFormatError =
    OSStatus(koru::platform::fourCC("!dat"));
inline constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
inline constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
inline constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
inline constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
inline constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
inline constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
inline constexpr OSStatus kAudioUnitErr_InvalidScope = -10866;
inline constexpr OSStatus kAudioUnitErr_PropertyNotWritable = -10865;
inline constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;
inline constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
inline constexpr OSStatus kAudioComponentErr_NotFound = -66749; // no such component
