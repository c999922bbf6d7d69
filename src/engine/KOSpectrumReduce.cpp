#include "KOSpectrumReduce.h"

#include "platform/fourcc/FourCC.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using koru::platform::fourCC;

std::int64_t roundedIndex(double position) {
    return std::int64_t(position + 0.5);
}

// The end points of [a, b] on a grid of `size` samples, weighted by how much of them the span
// covers, and every sample in between weighing 1.
struct Span {
    std::int64_t lo = 0;
    std::int64_t hi = 0;
    double bottomWeight = 0.0;
    double topWeight = 0.0;
};

Span spanOf(double a, double b, std::int64_t size) {
    Span span;
    span.hi = std::min(roundedIndex(b), size - 1);
    span.lo = std::clamp(roundedIndex(a), std::int64_t(0), span.hi);
    if (span.lo != span.hi) {
        span.topWeight = std::fabs(b - double(span.hi) + 0.5);
        span.bottomWeight = double(span.lo) + 0.5 - a;
    } else {
        span.topWeight = span.bottomWeight = std::fabs(b - a) / 2.0;
    }
    return span;
}

template <typename T> double reduceSpan(const T* values, const Span& span, std::uint32_t mode) {
    double sum =
        double(values[span.lo]) * span.bottomWeight + double(values[span.hi]) * span.topWeight;
    double weight = span.bottomWeight + span.topWeight;
    double peak = std::max(double(values[span.lo]), double(values[span.hi]));
    for (std::int64_t i = span.lo + 1; i < span.hi; ++i) {
        sum += double(values[i]);
        weight += 1.0;
        peak = std::max(peak, double(values[i]));
    }
    if (mode == fourCC("peak")) {
        return peak;
    }
    // A band inside one bin (or of no width) is that bin, exactly.
    if (!(weight > 0.0) || (span.lo == span.hi && mode == fourCC("whit"))) {
        return double(values[span.lo]);
    }
    if (mode == fourCC("whit")) {
        return sum / weight;
    }
    return sum / std::sqrt(weight);
}

void smoothOverOctaves(double* output, std::uint32_t outputSize, double lowFrequency,
                       double highFrequency, double ratio, double smoothingOctaves) {
    const double halfWindow = std::sqrt(std::pow(2.0, smoothingOctaves));
    const double logRatio = std::log(ratio);
    std::vector<double> smoothed(outputSize);
    double centre = lowFrequency;
    for (std::uint32_t j = 0; j < outputSize; ++j, centre *= ratio) {
        const double lowEdge = std::max(lowFrequency, centre / halfWindow);
        const double highEdge = std::min(highFrequency, centre * halfWindow);
        const double a = std::log(lowEdge / lowFrequency) / logRatio;
        const double b = std::log(highEdge / lowFrequency) / logRatio;
        smoothed[j] = reduceSpan(output, spanOf(a, b, outputSize), fourCC("whit"));
    }
    std::copy(smoothed.begin(), smoothed.end(), output);
}

} // namespace

void smoothLogXScale(const float* input, std::int32_t inputSize, double* output,
                     std::uint32_t outputSize, std::uint32_t mode, double lastBinFrequency,
                     double lowFrequency, double highFrequency, double smoothingOctaves) {
    if (outputSize == 0 || inputSize < 2) {
        std::fill(output, output + outputSize, 0.0);
        return;
    }
    const double span = highFrequency / lowFrequency;
    const bool single = outputSize == 1;
    const double ratio = single ? span : std::pow(span, 1.0 / double(outputSize - 1));
    const double halfStep = single ? std::sqrt(span) : std::pow(span, 0.5 / double(outputSize - 1));
    const double binWidth = lastBinFrequency / double(inputSize - 1);
    double centre = lowFrequency;
    for (std::uint32_t j = 0; j < outputSize; ++j, centre *= ratio) {
        const double a = std::max(0.0, centre / halfStep) / binWidth;
        const double b = std::min(lastBinFrequency, centre * halfStep) / binWidth;
        output[j] = reduceSpan(input, spanOf(a, b, inputSize), mode);
    }
    if (smoothingOctaves > 0.0 && !single) {
        smoothOverOctaves(output, outputSize, lowFrequency, highFrequency, ratio, smoothingOctaves);
    }
}
