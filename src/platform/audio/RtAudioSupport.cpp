#include "platform/audio/RtAudioSupport.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/StreamFailureTable.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace koru::platform {

namespace {

thread_local std::string t_lastError;

RtAudio::Api apiFor(AudioBackend backend) {
    switch (backend) {
    case AudioBackend::Pulse:
        return RtAudio::LINUX_PULSE;
    case AudioBackend::Jack:
        return RtAudio::UNIX_JACK;
    case AudioBackend::Alsa:
        return RtAudio::LINUX_ALSA;
    case AudioBackend::Virtual:
        break;
    }
    return RtAudio::RTAUDIO_DUMMY;
}

// alsa-lib reports every PCM it cannot open on stderr; a machine without a sound card would
// print a screenful per probe. Its handler is reached through the already loaded library, so
// KORU needs no ALSA headers of its own.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsaLibrary() {
    using ErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(ErrorHandler);
    static const bool done = [] {
        auto set = reinterpret_cast<SetHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"));
        if (set)
            set(&ignoreAlsaError);
        return true;
    }();
    (void)done;
}

std::optional<unsigned> findOnce(RtAudio& rt, const std::string& name, int ordinal) {
    try {
        const unsigned count = rt.getDeviceCount();
        int seen = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (rt.getDeviceInfo(i).name != name)
                continue;
            if (seen++ == ordinal)
                return i;
        }
    } catch (const RtAudioError& error) {
        t_lastError = error.getMessage();
    }
    return std::nullopt;
}

} // namespace

std::mutex& rtAudioMutex() {
    static std::mutex* mutex = new std::mutex; // lives as long as the process
    return *mutex;
}

std::unique_ptr<RtAudio> makeRtAudio(AudioBackend backend) {
    const RtAudio::Api api = apiFor(backend);
    if (api == RtAudio::RTAUDIO_DUMMY)
        return nullptr;
    // Without a server libjack only complains; and while RtAudio is still closing a stream
    // whose server went away, opening another client deadlocks inside libjack.
    if (backend == AudioBackend::Jack && !jackServerRunning()) {
        t_lastError = "no JACK server is running";
        return nullptr;
    }
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
        return nullptr;
    // Never let a probe launch a JACK server as a side effect.
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    if (backend == AudioBackend::Alsa)
        silenceAlsaLibrary();
    try {
        auto rt = std::make_unique<RtAudio>(api);
        rt->showWarnings(false);
        return rt;
    } catch (const RtAudioError& error) {
        t_lastError = error.getMessage();
        return nullptr;
    }
}

void openRtAudioStream(RtAudio& rt, const std::string& name, int ordinal, bool input,
                       unsigned channels, unsigned sampleRate, unsigned* frames,
                       RtAudioCallback callback, void* userData) {
    const unsigned requested = *frames;
    OSStatus status = kAudioHardwareBadDeviceError;
    std::string reason = "the device \"" + name + "\" is gone";
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto index = findOnce(rt, name, ordinal);
        if (!index)
            continue;
        RtAudio::StreamParameters parameters;
        parameters.deviceId = *index;
        parameters.nChannels = channels;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_NONINTERLEAVED;
        // PulseAudio's default of about two seconds of buffering delivers in bursts.
        options.numberOfBuffers = 4;
        options.streamName = "KORU";
        *frames = requested;
        status = kAudioDeviceUnsupportedFormatError;
        try {
            rt.openStream(input ? nullptr : &parameters, input ? &parameters : nullptr,
                          RTAUDIO_FLOAT32, sampleRate, frames, callback, userData, &options,
                          &RtAudioFailureWatch::errorCallback);
        } catch (const RtAudioError& error) {
            reason = error.getMessage();
            continue;
        }
        if (rt.isStreamOpen())
            return;
        reason = takeLastRtAudioError();
        if (reason.empty())
            reason = "the stream did not open";
    }
    throw AudioStreamError(status, reason);
}

std::string takeLastRtAudioError() {
    std::string text;
    text.swap(t_lastError);
    return text;
}

RtAudioFailureWatch::RtAudioFailureWatch(std::atomic<bool>& failedFlag)
    : m_slot(StreamFailureTable::shared().attach(failedFlag)) {}

RtAudioFailureWatch::~RtAudioFailureWatch() {
    StreamFailureTable::shared().detach(m_slot);
}

void RtAudioFailureWatch::noteAudioThread() noexcept {
    StreamFailureTable::shared().noteAudioThread(m_slot);
}

void RtAudioFailureWatch::errorCallback(RtAudioError::Type type, const std::string& text) {
    const bool warning = type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING;
    const auto placement = StreamFailureTable::shared().report(warning, text);
    if (placement == StreamFailureTable::Placement::Stream)
        return;         // an audio thread: nothing else may be done here
    t_lastError = text; // a caller opening or starting a stream reads it
}

} // namespace koru::platform
