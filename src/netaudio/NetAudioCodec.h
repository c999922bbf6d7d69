#pragma once

#include <cstddef>
#include <cstdint>

namespace koru::netaudio {

// How two interleaved channels travel in an audio frame.
enum class WireCodec : std::uint16_t { Float32 = 0, Int24 = 1, Int16 = 2, MuLaw = 5, Ima4 = 6 };

constexpr std::uint32_t kFormatCount = 18;
constexpr std::uint32_t kImaBlockFrames = 64;
constexpr std::uint32_t kImaBlockBytes = 72; // both channels: {s16, u8, u8} + 32 bytes each

// The name of stream format `index`, null outside 0..17.
const char* formatName(std::uint32_t index);
// Formats we cannot carry as named travel as the nearest PCM codec.
WireCodec codecForFormat(std::uint32_t index);
bool isWireCodec(std::uint16_t value);
// Bytes `frames` frames take; for IMA only whole blocks count.
std::size_t encodedBytes(WireCodec codec, std::uint32_t frames);

// Per-channel predictor state the IMA encoder carries from block to block.
struct ImaState {
    std::int32_t predictor[2] = {0, 0};
    std::int32_t index[2] = {0, 0};
};

// Encodes `frames` frames (for IMA a multiple of 64) into `out`, which holds encodedBytes().
// Returns the bytes written. No allocation.
std::size_t encode(WireCodec codec, const float* left, const float* right, std::uint32_t frames,
                   std::uint8_t* out, ImaState& ima);
// Decodes exactly `frames` frames; false, writing nothing meaningful, when `bytes` is not the
// size those frames take. Non-finite floats come out as 0.
bool decode(WireCodec codec, const std::uint8_t* in, std::size_t bytes, std::uint32_t frames,
            float* left, float* right);

std::uint8_t muLawEncode(std::int16_t sample);
std::int16_t muLawDecode(std::uint8_t code);

} // namespace koru::netaudio
