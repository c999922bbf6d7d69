#pragma once

#include "SpectralHistoryColourMap.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace koru::analysers {

// What a row needs besides the spectrum, taken when the row is queued so that the queue never
// reads the view: the spectrum's Nyquist frequency, the displayed frequency range, the
// reduction ('whit', 'pink' or 'peak') and the smoothing denominator (12 = 1/12 octave).
struct SpectralHistoryRowSettings {
    double nyquist = 22050.0;
    double lowFrequency = 50.0;
    double highFrequency = 20000.0;
    std::uint32_t accumulationMode = 0;
    unsigned octaveMode = 12;
};

// The spectrogram's pixels: numSlices() rows of numBins() pixels (0xFFRRGGBB), row 0 first in
// memory and oldest, pixel i of a row the i-th point on the logarithmic frequency axis. New rows
// land in the last row; when it is taken, everything moves up one row and the oldest drops out.
// The image wraps the pixels without copying them.
//
// Threads: initializeBuffers, processInput, createImage and releaseBuffers run on one serial
// queue; drawImage on the main thread; the counters may be read anywhere. The image lock guards
// the image and every pixel write, so a drawing never sees a buffer change or go.
class SpectralHistoryImage {
public:
    static constexpr std::uint32_t kMaximumBins = 800;
    static constexpr std::uint32_t kMaximumShownSlices = 1000;
    // Rows kept beyond those that can be shown.
    static constexpr std::uint32_t kHiddenSlices = 150;

    SpectralHistoryImage() = default;
    SpectralHistoryImage(const SpectralHistoryImage&) = delete;
    SpectralHistoryImage& operator=(const SpectralHistoryImage&) = delete;

    // Sizes the buffers for a view of width x height points: min(width, 800) pixels per row,
    // min(height, 1000) + 150 rows. Buffers of the same width with room for the height are kept;
    // otherwise they are made afresh (black, content lost) or, for an empty view, dropped.
    // Answers whether the buffers were made afresh or dropped.
    bool initializeBuffers(double width, double height);
    // Reduces the linear spectrum (bin k at k / (size - 1) of the Nyquist frequency) to one row
    // and appends it. Without buffers nothing is written and the answer is false.
    bool processInput(std::span<const float> spectrum, const SpectralHistoryRowSettings& settings,
                      const SpectralHistoryColourMap& colours);
    // Wraps the rows written so far in a new image; false when there is nothing new to show.
    bool createImage();
    void releaseBuffers();

    // A row has been written that is not yet in the image.
    bool createdData() const { return mCreatedData.load(std::memory_order_acquire); }
    // Calls draw with the image, under the image lock; false when there is no image.
    bool drawImage(const std::function<void(const QImage&)>& draw) const;

    std::uint32_t numBins() const { return mNumBins.load(std::memory_order_acquire); }
    std::uint32_t numSlices() const { return mNumSlices.load(std::memory_order_acquire); }
    std::uint64_t bufferSize() const { return std::uint64_t(numBins()) * numSlices(); }
    std::uint32_t writePosition() const { return mWritePosition.load(std::memory_order_acquire); }
    // The pixel at a row and column, 0 outside the buffer.
    std::uint32_t pixel(std::uint32_t row, std::uint32_t column) const;
    // The first pixel's address: the same address means the buffer was kept.
    const void* pixelData() const;

private:
    void appendRow(const SpectralHistoryColourMap& colours);

    mutable std::mutex mImageLock;
    QImage mBitmap;
    std::vector<std::uint32_t> mPixelBuffer;
    std::vector<double> mLogXBuffer;
    std::atomic<std::uint32_t> mNumBins{0};
    std::atomic<std::uint32_t> mNumSlices{0};
    std::atomic<std::uint32_t> mWritePosition{0};
    std::atomic<bool> mCreatedData{false};
};

} // namespace koru::analysers
