#pragma once

#include "engine/KOTwoChannelInstrument.h"
#include "engine/TripleBuffer.h"

#include <array>
#include <cstdint>

// Hands the first samples of each buffer of channels A and B to the collector for the
// goniometer picture and the correlation meter. The audio thread publishes through a triple
// buffer and never waits.
class KOGoniometerInstrument : public KOTwoChannelInstrument {
public:
    static constexpr std::uint32_t kFrames = 1024;
    struct Block {
        std::array<float, kFrames> a{};
        std::array<float, kFrames> b{};
        std::uint32_t frames = 0;
    };

    KOGoniometerInstrument();
    ~KOGoniometerInstrument() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;

    // Collector thread: the newest block into `out`; false when nothing new came.
    bool Collect(Block& out);

    // Σ a·b / √(Σ a² · Σ b²), clamped to [−1, 1]; NaN when either channel is silent, which the
    // meter shows as no marker.
    static float Correlation(const float* a, const float* b, std::uint32_t count);
    // Instant attack, slow release: the gain that keeps the louder channel inside the picture.
    static float NextGain(float previous, float maxMagnitude);
    // The gain drawn: whole half steps, but never zero, so sources above full scale stay visible.
    static float DrawnGain(float gain);
    static float MaxMagnitude(const float* x, std::uint32_t count);

private:
    koru::TripleBuffer<Block> mBlocks{Block{}};
};
