#pragma once

#include "platform/audiofile/AsyncAudioFileWriter.h"

#include <cstdint>
#include <memory>
#include <string>

namespace koru::platform {

// AAC ('aac ') or Apple Lossless ('alac') in an M4A file through FFmpeg's own encoders, at the
// given rate and channel count; AAC at `bitRate` bits per second. Throws std::runtime_error when
// the encoder or the file refuses.
std::unique_ptr<AudioFileSink> openCompressedFileSink(const std::string& path,
                                                      std::uint32_t formatID,
                                                      std::uint32_t channels, double sampleRate,
                                                      std::uint32_t bitRate);

} // namespace koru::platform
