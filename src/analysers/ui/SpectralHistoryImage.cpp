#include "SpectralHistoryImage.h"

#include "engine/KOSpectrumReduce.h"
#include "platform/log/Log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace koru::analysers {

namespace {

// Whole points up to the limit; nothing for an empty or broken size.
std::uint32_t truncatedTo(double points, std::uint32_t limit) {
    if (!(points > 0.0)) {
        return 0;
    }
    return std::uint32_t(std::min(points, double(limit)));
}

} // namespace

bool SpectralHistoryImage::initializeBuffers(double width, double height) {
    const std::uint32_t bins = truncatedTo(width, kMaximumBins);
    const std::uint32_t shown = truncatedTo(height, kMaximumShownSlices);
    const std::uint32_t keptBins = numBins();
    const std::uint32_t keptSlices = numSlices();
    if (keptBins != 0 && keptSlices != 0 && bins == keptBins && shown <= keptSlices) {
        return false;
    }
    const std::lock_guard lock(mImageLock);
    // The image wraps the pixels: it goes first.
    mBitmap = QImage();
    mPixelBuffer = {};
    mLogXBuffer = {};
    mNumBins = 0;
    mNumSlices = 0;
    mWritePosition = 0;
    if (bins == 0 || shown == 0) {
        return true;
    }
    const std::uint32_t slices = shown + kHiddenSlices;
    try {
        mPixelBuffer.assign(std::size_t(bins) * slices, 0u);
        mLogXBuffer.assign(bins, 0.0);
    } catch (const std::bad_alloc&) {
        koru::log::error("failed to allocate pixel buffer");
        mPixelBuffer = {};
        mLogXBuffer = {};
        return true;
    }
    mNumBins = bins;
    mNumSlices = slices;
    mWritePosition = bins * slices;
    return true;
}

bool SpectralHistoryImage::processInput(std::span<const float> spectrum,
                                        const SpectralHistoryRowSettings& settings,
                                        const SpectralHistoryColourMap& colours) {
    const std::uint32_t bins = numBins();
    if (bins == 0 || numSlices() == 0) {
        return false;
    }
    // The reduction reads only the copy it was handed, so it runs outside the image lock.
    const double smoothing = settings.octaveMode == 0 ? 0.0 : 1.0 / double(settings.octaveMode);
    smoothLogXScale(spectrum.data(), std::int32_t(spectrum.size()), mLogXBuffer.data(), bins,
                    settings.accumulationMode, settings.nyquist, settings.lowFrequency,
                    settings.highFrequency, smoothing);
    appendRow(colours);
    mCreatedData.store(true, std::memory_order_release);
    return true;
}

void SpectralHistoryImage::appendRow(const SpectralHistoryColourMap& colours) {
    const std::lock_guard lock(mImageLock);
    const std::uint32_t bins = numBins();
    const std::uint64_t size = bufferSize();
    std::uint32_t position = writePosition();
    std::uint32_t* pixels = mPixelBuffer.data();
    if (position >= size) {
        std::memmove(pixels, pixels + bins, (size - bins) * sizeof(std::uint32_t));
        position -= bins;
    }
    for (std::uint32_t i = 0; i < bins; ++i) {
        const auto level = float(20.0 * std::log10(mLogXBuffer[i]));
        pixels[(position + i) % size] = colours.pixel(level);
    }
    mWritePosition = position + bins;
}

bool SpectralHistoryImage::createImage() {
    const std::uint32_t bins = numBins();
    const std::uint32_t slices = numSlices();
    if (slices == 0 || !createdData()) {
        return false;
    }
    const std::lock_guard lock(mImageLock);
    mBitmap = QImage(reinterpret_cast<const uchar*>(mPixelBuffer.data()), int(bins), int(slices),
                     qsizetype(bins) * 4, QImage::Format_RGB32);
    mCreatedData.store(false, std::memory_order_release);
    return true;
}

void SpectralHistoryImage::releaseBuffers() {
    const std::lock_guard lock(mImageLock);
    mBitmap = QImage();
    mPixelBuffer = {};
    mLogXBuffer = {};
    mNumBins = 0;
    mNumSlices = 0;
    mWritePosition = 0;
}

bool SpectralHistoryImage::drawImage(const std::function<void(const QImage&)>& draw) const {
    const std::lock_guard lock(mImageLock);
    if (mBitmap.isNull()) {
        return false;
    }
    draw(mBitmap);
    return true;
}

std::uint32_t SpectralHistoryImage::pixel(std::uint32_t row, std::uint32_t column) const {
    const std::lock_guard lock(mImageLock);
    const std::uint32_t bins = numBins();
    if (column >= bins || row >= numSlices()) {
        return 0;
    }
    return mPixelBuffer[std::size_t(row) * bins + column];
}

const void* SpectralHistoryImage::pixelData() const {
    const std::lock_guard lock(mImageLock);
    return mPixelBuffer.empty() ? nullptr : mPixelBuffer.data();
}

} // namespace koru::analysers
