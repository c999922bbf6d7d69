#pragma once

#include "engine/AudioSource.h"
#include "engine/KOAuxGenerator.h"
#include "platform/audio/AudioTypes.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace koru::test {

// Owns the storage behind an engine-style buffer list: one float buffer per channel.
class BufferListStorage {
public:
    BufferListStorage(std::uint32_t channels, std::uint32_t frames)
        : mSamples(channels, std::vector<float>(frames, 0.0f)), mEntries(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            mEntries[c].mNumberChannels = 1;
            mEntries[c].mDataByteSize = frames * 4;
            mEntries[c].mData = mSamples[c].data();
        }
        mList.mNumberBuffers = channels;
        mList.mBuffers = mEntries.data();
    }
    AudioBufferList* list() { return &mList; }
    std::vector<float>& channel(std::uint32_t c) { return mSamples[c]; }
    AudioBuffer& entry(std::uint32_t c) { return mEntries[c]; }
    std::uint32_t channelCount() const { return std::uint32_t(mSamples.size()); }
    void fill(std::uint32_t c, float value) { mSamples[c].assign(mSamples[c].size(), value); }

private:
    std::vector<std::vector<float>> mSamples;
    std::vector<AudioBuffer> mEntries;
    AudioBufferList mList;
};

// The generator base with the one thing each kind of generator adds: its channel names.
class TestGenerator : public KOAuxGenerator {
public:
    using KOAuxGenerator::KOAuxGenerator;
    QString Name(int channel) const override { return QStringLiteral("Tone %1").arg(channel); }
};

// A sine of `frequency` on both channels at whatever rate the generator asks for.
class SineSource : public koru::AudioSource {
public:
    explicit SineSource(double frequency) : mFrequency(frequency) {}
    void setSampleRate(double rate) override { mRate = rate; }
    void render(float* const* channels, std::uint32_t frames) noexcept override {
        for (std::uint32_t i = 0; i < frames; ++i, ++mFrame) {
            const double phase = 2.0 * std::numbers::pi * mFrequency * double(mFrame) / mRate;
            channels[0][i] = channels[1][i] = float(std::sin(phase));
        }
    }

private:
    double mFrequency;
    double mRate = 48000.0;
    std::uint64_t mFrame = 0;
};

// The frequency of a sampled sine from the distance between its first and last sign change.
inline double frequencyOf(const std::vector<float>& x, double rate) {
    int crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if ((x[i - 1] < 0.0f) != (x[i] < 0.0f)) {
            first = crossings == 0 ? i : first;
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) / 2.0 * rate / double(last - first);
}

} // namespace koru::test
