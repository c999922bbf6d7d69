#pragma once

#include "platform/audiofile/AsyncAudioFileWriter.h"

#include <cstdint>
#include <memory>

namespace koru::platform {

// Converts interleaved frames from `inputRate` to `outputRate` before they reach `inner`, for
// encoders that do not take the device's rate. Best-quality sinc conversion; runs on the writer
// thread. finish() pushes out what the converter still holds, then finishes `inner`. Throws
// std::runtime_error when the converter cannot be made.
std::unique_ptr<AudioFileSink> makeResamplingSink(std::unique_ptr<AudioFileSink> inner,
                                                  std::uint32_t channels, double inputRate,
                                                  double outputRate);

} // namespace koru::platform
