#pragma once

#include <QString>

#include <cstddef>

namespace koru::platform {

// Writes count float samples as a mono AIFF file of signed 24-bit big-endian PCM at sampleRate,
// replacing any file at path only once the whole file is written. Samples beyond ±1 clip.
// False, with the reason in error when given, when the file cannot be written.
bool writeMonoAIFF24(const QString& path, const float* samples, std::size_t count,
                     double sampleRate, QString* error);

} // namespace koru::platform
