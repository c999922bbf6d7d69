// The signal generator's render of one 1024-frame buffer on the output's thread: the synthesis
// alone per signal type, and the whole speaker callback of the generator (synthesis, store in
// the engine's ring, volume) for a sine.

#include "engine/KOAuxInSignalGenerator.h"
#include "engine/SignalSynthesis.h"
#include "platform/audio/AudioUnitInstance.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

void synthesis(benchmark::State& state) {
    koru::SignalSynthesis synthesis;
    synthesis.setSampleRate(48000.0);
    synthesis.setSignalType(std::int32_t(state.range(0)));
    synthesis.setAmplitude(0.5f);
    std::vector<float> left(1024);
    std::vector<float> right(1024);
    float* channels[2] = {left.data(), right.data()};
    for (auto _ : state) {
        synthesis.render(channels, 1024);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}

// Speakers the benchmark pulls itself, at the engine's rate.
class PulledOutput : public koru::platform::AudioUnitInstance {
public:
    OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, void* data,
                         std::uint32_t* size) override {
        return id == kAudioDevicePropertyNominalSampleRate ? answer(48000.0, data, size)
                                                           : kAudioUnitErr_InvalidProperty;
    }
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope, AudioUnitElement, const void* data,
                         std::uint32_t size) override {
        if (id == kAudioUnitProperty_SetRenderCallback) {
            return read(data, size, callback) ? noErr : kAudioUnitErr_InvalidPropertyValue;
        }
        return noErr;
    }
    OSStatus setParameter(AudioUnitParameterID, AudioUnitScope, AudioUnitElement, float) override {
        return noErr;
    }
    OSStatus start() override { return noErr; }
    OSStatus stop() override { return noErr; }

    AURenderCallbackStruct callback{};
};

void speakerCallback(benchmark::State& state) {
    auto output = std::make_unique<PulledOutput>();
    PulledOutput* speakers = output.get();
    KOAuxInSignalGenerator generator(std::move(output));
    generator.Start();
    std::vector<float> left(1024);
    std::vector<float> right(1024);
    AudioBuffer buffers[2] = {{1, 4096, left.data()}, {1, 4096, right.data()}};
    AudioBufferList list{2, buffers};
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp time{};
    for (auto _ : state) {
        speakers->callback.inputProc(speakers->callback.inputProcRefCon, &flags, &time, 0, 1024,
                                     &list);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}

} // namespace

BENCHMARK(synthesis)->ArgName("type")->DenseRange(0, 3);
BENCHMARK(speakerCallback);

BENCHMARK_MAIN();
