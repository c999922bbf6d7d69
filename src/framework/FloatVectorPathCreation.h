#pragma once

#include "SampleRange.h"

#include <QPainterPath>

#include <cstdint>

class SDFloatVector;

// Polylines of sampled curves that leave out every sample which would not move the line by more
// than a pixel: a run of such samples is closed by a line to its last sample, so flat stretches
// cost two points whatever their length. y is the sample times yMul, rounded to whole units and
// kept within ±yLimit; samples that are not a number are left out.
class FloatVectorPathCreation {
public:
    // Far beyond any view, yet small enough for the rasteriser.
    static constexpr double kDefaultYLimit = 1.0e6;

    // Starts at (0, 0); x runs from 0 over xLength across the range. Throws
    // std::invalid_argument("buffer too small for creating path") when the range does not lie
    // within the buffer.
    static QPainterPath pathFromBuffer(const float* buffer, std::uint64_t length,
                                       koru::framework::SampleRange range, double xLength,
                                       double yMul, double yLimit = kDefaultYLimit);
    static QPainterPath pathFromFloatVector(const SDFloatVector& vector,
                                            koru::framework::SampleRange range, double xLength,
                                            double yMul, double yLimit = kDefaultYLimit);
    static QPainterPath pathFromFloatVector(const SDFloatVector& vector, double xLength,
                                            double yMul, double yLimit = kDefaultYLimit);
    // Every value one unit apart, without skipping; starts at (0, first value) unscaled.
    // Non-finite values are left out.
    static QPainterPath pathFromNativeBuffer(const double* buffer, std::uint64_t length,
                                             double yMul);
};
