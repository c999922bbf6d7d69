#pragma once

#include "platform/audio/AudioTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace koru::platform {

// What the recorder's file writers can produce: file types, their data formats and stream
// descriptions, and the encoder limits. Answers come from one table, so nothing is offered that
// no writer here can write.
namespace AudioFormatServices {

inline constexpr std::uint32_t kAnyNumberOfChannels = 0xFFFFFFFF;

// In the order the menus list them.
std::vector<std::uint32_t> writableFileTypes();
// Empty for a type not in the table.
QString fileTypeName(std::uint32_t fileType);
QStringList extensionsForType(std::uint32_t fileType);
// nullopt for a type not in the table.
std::optional<std::vector<std::uint32_t>> formatIDsForType(std::uint32_t fileType);
// Channel counts 0 (any); PCM descriptions first in the order the table gives them.
std::optional<std::vector<AudioStreamBasicDescription>>
streamDescriptionsFor(std::uint32_t fileType, std::uint32_t formatID);
// The formats some writer here encodes.
std::vector<std::uint32_t> encodeFormatIDs();
// kAnyNumberOfChannels alone for PCM; empty for a format nothing encodes.
std::vector<std::uint32_t> availableEncodeNumberChannels(const AudioStreamBasicDescription& d);
// Bit rates in bits per second; nullopt for a format that takes none.
std::optional<std::vector<double>> availableEncodeBitRates(std::uint32_t formatID);

// What one encoder takes for one conversion, as closed ranges (a single value has minimum ==
// maximum).
struct ValueRange {
    double minimum = 0.0;
    double maximum = 0.0;
};
// The file rates the encoder of `formatID` writes; nullopt for a format no encoder here takes a
// rate for (linear PCM, which is written at the device rate).
std::optional<std::vector<ValueRange>> applicableEncodeSampleRates(std::uint32_t formatID);
// The bit rates the encoder offers for `channels` channels at `sampleRate`; nullopt for a format
// without bit rates or a channel count it does not encode.
std::optional<std::vector<ValueRange>>
applicableEncodeBitRates(std::uint32_t formatID, std::uint32_t channels, double sampleRate);
// The rate a compressed file is written at when `requested` is asked for: the requested rate when
// the encoder takes it, else the lowest offered rate above it, else the highest offered. 0 for a
// format without encoder rates.
double encodeSampleRateFor(std::uint32_t formatID, double requested);

} // namespace AudioFormatServices
} // namespace koru::platform
