#include "NetAudioCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace koru::netaudio {

namespace {

constexpr const char* kFormatNames[kFormatCount] = {"PCM, Float 32 bit",
                                                    "PCM, Integer 24 bit",
                                                    "PCM, Integer 16 bit",
                                                    "Apple Lossless 24 bit",
                                                    "Apple Lossless 16 bit",
                                                    "uLaw",
                                                    "IMA-4",
                                                    "AAC, 128kbps",
                                                    "AAC, 96kbps",
                                                    "AAC, 80kbps",
                                                    "AAC, 64kbps",
                                                    "AAC, 48kbps",
                                                    "AAC, 40kbps",
                                                    "AAC, 32kbps",
                                                    "AAC Low Delay, 64kbps",
                                                    "AAC Low Delay, 48kbps",
                                                    "AAC Low Delay, 40kbps",
                                                    "AAC Low Delay, 32kbps"};

constexpr std::int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::int32_t kImaIndexStep[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

std::int32_t toInt(float x, std::int32_t scale) {
    if (!std::isfinite(x))
        return 0;
    const double v = std::nearbyint(double(x) * scale);
    return std::int32_t(std::clamp(v, double(-scale), double(scale - 1)));
}

float finite(float x) {
    return std::isfinite(x) ? x : 0.0f;
}

// One IMA step: updates the state and returns the reconstructed sample.
std::int32_t imaStep(std::int32_t& predictor, std::int32_t& index, std::uint8_t nibble) {
    const std::int32_t step = kImaSteps[index];
    std::int32_t diff = step >> 3;
    if (nibble & 4)
        diff += step;
    if (nibble & 2)
        diff += step >> 1;
    if (nibble & 1)
        diff += step >> 2;
    predictor += (nibble & 8) ? -diff : diff;
    predictor = std::clamp(predictor, -32768, 32767);
    index = std::clamp(index + kImaIndexStep[nibble], 0, 88);
    return predictor;
}

std::uint8_t imaNibble(std::int32_t& predictor, std::int32_t& index, std::int32_t sample) {
    const std::int32_t step = kImaSteps[index];
    std::int32_t diff = sample - predictor;
    std::uint8_t nibble = 0;
    if (diff < 0) {
        nibble = 8;
        diff = -diff;
    }
    if (diff >= step) {
        nibble |= 4;
        diff -= step;
    }
    if (diff >= step >> 1) {
        nibble |= 2;
        diff -= step >> 1;
    }
    if (diff >= step >> 2)
        nibble |= 1;
    imaStep(predictor, index, nibble);
    return nibble;
}

} // namespace

const char* formatName(std::uint32_t index) {
    return index < kFormatCount ? kFormatNames[index] : nullptr;
}

WireCodec codecForFormat(std::uint32_t index) {
    switch (index) {
    case 0:
        return WireCodec::Float32;
    case 1:
    case 3:
        return WireCodec::Int24;
    case 5:
        return WireCodec::MuLaw;
    case 6:
        return WireCodec::Ima4;
    default:
        return WireCodec::Int16;
    }
}

bool isWireCodec(std::uint16_t value) {
    return value == 0 || value == 1 || value == 2 || value == 5 || value == 6;
}

std::size_t encodedBytes(WireCodec codec, std::uint32_t frames) {
    switch (codec) {
    case WireCodec::Float32:
        return std::size_t(frames) * 8;
    case WireCodec::Int24:
        return std::size_t(frames) * 6;
    case WireCodec::Int16:
        return std::size_t(frames) * 4;
    case WireCodec::MuLaw:
        return std::size_t(frames) * 2;
    case WireCodec::Ima4:
        return std::size_t(frames / kImaBlockFrames) * kImaBlockBytes;
    }
    return 0;
}

std::uint8_t muLawEncode(std::int16_t sample) {
    constexpr std::int32_t kBias = 0x84;
    constexpr std::int32_t kClip = 32635;
    std::int32_t s = sample;
    const std::uint8_t sign = s < 0 ? 0x80 : 0x00;
    if (s < 0)
        s = -s;
    s = std::min(s, kClip) + kBias;
    std::int32_t exponent = 7;
    for (std::int32_t mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1)
        --exponent;
    const std::int32_t mantissa = (s >> (exponent + 3)) & 0x0F;
    return std::uint8_t(~(sign | (exponent << 4) | mantissa));
}

std::int16_t muLawDecode(std::uint8_t code) {
    code = std::uint8_t(~code);
    const std::int32_t exponent = (code >> 4) & 0x07;
    const std::int32_t mantissa = code & 0x0F;
    std::int32_t s = ((mantissa << 3) + 0x84) << exponent;
    s -= 0x84;
    return std::int16_t((code & 0x80) ? -s : s);
}

std::size_t encode(WireCodec codec, const float* left, const float* right, std::uint32_t frames,
                   std::uint8_t* out, ImaState& ima) {
    const float* ch[2] = {left, right};
    std::uint8_t* p = out;
    switch (codec) {
    case WireCodec::Float32:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (const float* c : ch) {
                std::memcpy(p, &c[i], 4); // the wire is little-endian, as is every host we run on
                p += 4;
            }
        break;
    case WireCodec::Int24:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (const float* c : ch) {
                const std::uint32_t v = std::uint32_t(toInt(c[i], 1 << 23));
                *p++ = std::uint8_t(v);
                *p++ = std::uint8_t(v >> 8);
                *p++ = std::uint8_t(v >> 16);
            }
        break;
    case WireCodec::Int16:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (const float* c : ch) {
                const std::uint16_t v = std::uint16_t(toInt(c[i], 1 << 15));
                *p++ = std::uint8_t(v);
                *p++ = std::uint8_t(v >> 8);
            }
        break;
    case WireCodec::MuLaw:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (const float* c : ch)
                *p++ = muLawEncode(std::int16_t(toInt(c[i], 1 << 15)));
        break;
    case WireCodec::Ima4:
        for (std::uint32_t b = 0; b + kImaBlockFrames <= frames; b += kImaBlockFrames)
            for (int c = 0; c < 2; ++c) {
                std::int32_t& pred = ima.predictor[c];
                std::int32_t& idx = ima.index[c];
                const std::uint16_t header = std::uint16_t(std::int16_t(pred));
                *p++ = std::uint8_t(header);
                *p++ = std::uint8_t(header >> 8);
                *p++ = std::uint8_t(idx);
                *p++ = 0;
                for (std::uint32_t i = 0; i < kImaBlockFrames; i += 2) {
                    const std::uint8_t lo = imaNibble(pred, idx, toInt(ch[c][b + i], 1 << 15));
                    const std::uint8_t hi = imaNibble(pred, idx, toInt(ch[c][b + i + 1], 1 << 15));
                    *p++ = std::uint8_t(lo | (hi << 4));
                }
            }
        break;
    }
    return std::size_t(p - out);
}

bool decode(WireCodec codec, const std::uint8_t* in, std::size_t bytes, std::uint32_t frames,
            float* left, float* right) {
    if (!isWireCodec(std::uint16_t(codec)) || bytes != encodedBytes(codec, frames))
        return false;
    if (codec == WireCodec::Ima4 && frames % kImaBlockFrames != 0)
        return false;
    float* ch[2] = {left, right};
    const std::uint8_t* p = in;
    switch (codec) {
    case WireCodec::Float32:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (float* c : ch) {
                float v;
                std::memcpy(&v, p, 4);
                c[i] = finite(v); // a NaN would poison every averaging instrument downstream
                p += 4;
            }
        break;
    case WireCodec::Int24:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (float* c : ch) {
                std::int32_t v = std::int32_t(p[0] | (p[1] << 8) | (std::uint32_t(p[2]) << 16));
                if (v & 0x800000)
                    v -= 0x1000000;
                c[i] = float(v) / float(1 << 23);
                p += 3;
            }
        break;
    case WireCodec::Int16:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (float* c : ch) {
                c[i] = float(std::int16_t(p[0] | (p[1] << 8))) / 32768.0f;
                p += 2;
            }
        break;
    case WireCodec::MuLaw:
        for (std::uint32_t i = 0; i < frames; ++i)
            for (float* c : ch)
                c[i] = float(muLawDecode(*p++)) / 32768.0f;
        break;
    case WireCodec::Ima4:
        for (std::uint32_t b = 0; b < frames; b += kImaBlockFrames)
            for (float* c : ch) {
                std::int32_t pred = std::int16_t(p[0] | (p[1] << 8));
                std::int32_t idx = std::min<std::int32_t>(p[2], 88); // untrusted: keep in table
                p += 4;
                for (std::uint32_t i = 0; i < kImaBlockFrames; i += 2) {
                    c[b + i] = float(imaStep(pred, idx, *p & 0x0F)) / 32768.0f;
                    c[b + i + 1] = float(imaStep(pred, idx, *p >> 4)) / 32768.0f;
                    ++p;
                }
            }
        break;
    }
    return true;
}

} // namespace koru::netaudio
