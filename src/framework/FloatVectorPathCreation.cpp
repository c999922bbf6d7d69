#include "FloatVectorPathCreation.h"

#include "engine/SDFloatVector.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

using koru::framework::SampleRange;

QPainterPath FloatVectorPathCreation::pathFromBuffer(const float* buffer, std::uint64_t length,
                                                     SampleRange range, double xLength, double yMul,
                                                     double yLimit) {
    if (range.location > length || range.length > length - range.location) {
        throw std::invalid_argument("buffer too small for creating path");
    }
    QPainterPath path(QPointF(0.0, 0.0));
    const float* samples = buffer + range.location;
    std::uint64_t last = range.length;
    while (last > 0 && std::isnan(samples[last - 1])) {
        --last;
    }
    if (last == 0) {
        return path;
    }
    --last;
    const double step = xLength / double(range.length);
    double previousX = 0.0;
    double previousY = std::numeric_limits<double>::quiet_NaN();
    bool skipped = false;
    for (std::uint64_t i = 0; i <= last; ++i) {
        if (std::isnan(samples[i])) {
            continue;
        }
        const double x = double(i) * step;
        const double y = std::clamp(std::round(double(samples[i]) * yMul), -yLimit, yLimit);
        // A first sample compares with not-a-number, which never counts as a move.
        if (!(std::fabs(y - previousY) > 1.0) && i != last) {
            skipped = true;
        } else {
            if (skipped) {
                path.lineTo(previousX, previousY);
                skipped = false;
            }
            path.lineTo(std::round(x) + 0.5, y + 0.5);
        }
        previousX = x;
        previousY = y;
    }
    return path;
}

QPainterPath FloatVectorPathCreation::pathFromFloatVector(const SDFloatVector& vector,
                                                          SampleRange range, double xLength,
                                                          double yMul, double yLimit) {
    return pathFromBuffer(vector.data(), vector.length(), range, xLength, yMul, yLimit);
}

QPainterPath FloatVectorPathCreation::pathFromFloatVector(const SDFloatVector& vector,
                                                          double xLength, double yMul,
                                                          double yLimit) {
    return pathFromBuffer(vector.data(), vector.length(), SampleRange{0, vector.length()}, xLength,
                          yMul, yLimit);
}

QPainterPath FloatVectorPathCreation::pathFromNativeBuffer(const double* buffer,
                                                           std::uint64_t length, double yMul) {
    QPainterPath path;
    if (length == 0) {
        return path;
    }
    path.moveTo(0.0, std::isfinite(buffer[0]) ? buffer[0] : 0.0);
    for (std::uint64_t i = 0; i < length; ++i) {
        const double y = buffer[i] * yMul;
        if (std::isfinite(y)) {
            path.lineTo(double(i), y);
        }
    }
    return path;
}
