#pragma once

#include <cstdint>

// Reduces a linear spectrum (bin i at i * lastBinFrequency / (inputSize - 1)) to outputSize
// points spaced evenly on a log axis from lowFrequency to highFrequency. Each point combines
// the bins of its band: mode 'whit' the weighted mean, 'peak' the largest bin, anything else
// (the analysers' 'pink') sum / sqrt(weight), so wider bands read higher. With
// smoothingOctaves > 0 the points are then averaged over that fraction of an octave.
// A single output point is one band centred on lowFrequency (half a range wide each way).
void smoothLogXScale(const float* input, std::int32_t inputSize, double* output,
                     std::uint32_t outputSize, std::uint32_t mode, double lastBinFrequency,
                     double lowFrequency, double highFrequency, double smoothingOctaves);
