#include "engine/KOSpectrumAnalyzer.h"

#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <span>
#include <stdexcept>

KOSpectrumAnalyzer::KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType)
    : KOSpectrumAnalyzer(fftSize, windowType, kMaximumFFTSize) {}

KOSpectrumAnalyzer::KOSpectrumAnalyzer(std::uint32_t fftSize, std::uint32_t windowType,
                                       std::uint32_t maximumFFTSize)
    : mMaximumFFTSize(maximumFFTSize) {
    // An analyser without a valid size would have no blocks to work on.
    if (!IsValidSize(fftSize))
        throw std::invalid_argument("KOSpectrumAnalyzer: FFT size out of range");
    mWindowType.store(windowType, std::memory_order_relaxed);
    SetFFTSize(fftSize);
}

KOSpectrumAnalyzer::~KOSpectrumAnalyzer() {
    if (ZOAudioInput* host = Host())
        host->RemoveClient(this);
    // A collection or a resize that is still running finishes before the buffers go.
    const std::lock_guard lock(InstrumentMutex());
}

bool KOSpectrumAnalyzer::IsValidSize(std::uint32_t size) const {
    return std::has_single_bit(size) && size >= kMinimumFFTSize && size <= mMaximumFFTSize;
}

KOSpectrumAnalyzer::Blocks KOSpectrumAnalyzer::MakeBlocks(std::uint32_t size,
                                                          std::uint32_t windowType) {
    Blocks blocks;
    blocks.box = std::make_unique<KOFFTBox>(size, windowType);
    blocks.spectrum = std::make_unique<KOFloatBuffer>(size);
    blocks.ring = std::make_unique<koru::SampleTimeRing>(1, size);
    blocks.fetch = std::make_unique<KOFloatBuffer>(size);
    return blocks;
}

void KOSpectrumAnalyzer::SetFFTSize(std::uint32_t size) {
    if (!IsValidSize(size))
        return;
    // Allocating and planning happen before the mutex, so the audio thread loses at most the
    // buffer that meets the swap.
    Blocks blocks = MakeBlocks(size, WindowType());
    {
        const std::lock_guard lock(InstrumentMutex());
        std::swap(mBlocks, blocks);
        mAnalyses = 0;
        mFFTSize.store(size, std::memory_order_relaxed);
        mWindowType.store(mBlocks.box->WindowType(), std::memory_order_relaxed);
        mHalfSizeAsFloat = float(size / 2);
        mWriteTime = 0;
        mReadPosition = size;
        mReadEnd = 2 * std::int64_t(size);
    }
    // The old blocks are released here, outside the mutex.
}

void KOSpectrumAnalyzer::SetWindowType(std::uint32_t type) {
    auto box = std::make_unique<KOFFTBox>(FFTSize(), type);
    const std::lock_guard lock(InstrumentMutex());
    // A resize from another thread may have overtaken us: then the window goes into the
    // current box instead.
    if (box->Size() == mBlocks.box->Size())
        std::swap(mBlocks.box, box);
    else
        mBlocks.box->SetWindowType(type);
    mWindowType.store(mBlocks.box->WindowType(), std::memory_order_relaxed);
}

void KOSpectrumAnalyzer::Collect(KOFloatBuffer& destination) {
    const std::lock_guard lock(InstrumentMutex());
    destination.SetDecibel(false);
    // A destination still sized for an earlier FFT size receives what fits.
    const std::uint32_t count = std::min(destination.Length(), mBlocks.box->HalfSize());
    const float* spectrum = mBlocks.spectrum->Data();
    float* out = destination.Data();
    for (std::uint32_t k = 0; k < count; ++k)
        out[k] = spectrum[k] / mHalfSizeAsFloat;
    SetNewData(false);
}

std::uint32_t KOSpectrumAnalyzer::Analyses() {
    const std::lock_guard lock(InstrumentMutex());
    return mAnalyses;
}

std::int64_t KOSpectrumAnalyzer::ReadPosition() {
    const std::lock_guard lock(InstrumentMutex());
    return mReadPosition;
}

void KOSpectrumAnalyzer::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    const std::unique_lock lock(InstrumentMutex(), std::try_to_lock);
    if (!lock.owns_lock())
        return;
    const std::uint32_t channel = Channel();
    if (buffers == nullptr || buffers->mBuffers == nullptr || channel >= buffers->mNumberBuffers)
        return;
    const AudioBuffer& buffer = buffers->mBuffers[channel];
    if (buffer.mData == nullptr)
        return;
    const std::uint32_t available = buffer.mDataByteSize / std::uint32_t(sizeof(float));
    StoreAndAnalyse(static_cast<const float*>(buffer.mData), std::min(frames, available));
}

// Stores up to the end of the pending block, analyses it, and goes on with the rest, so a call
// of any length analyses every whole block it completes and the timing never falls behind the
// ring (a ring of N frames is enough).
void KOSpectrumAnalyzer::StoreAndAnalyse(const float* samples, std::uint32_t frames) {
    std::uint32_t done = 0;
    while (done < frames) {
        const std::int64_t toBlockEnd = mReadEnd - mWriteTime;
        const std::uint32_t remaining = frames - done;
        const std::uint32_t chunk =
            toBlockEnd > 0 ? std::uint32_t(std::min<std::int64_t>(remaining, toBlockEnd))
                           : remaining;
        const float* source = samples + done;
        mBlocks.ring->store(std::span<const float* const>(&source, 1), chunk, mWriteTime);
        mWriteTime += chunk;
        done += chunk;
        if (BlockIsStored())
            Analyse();
    }
}

bool KOSpectrumAnalyzer::BlockIsStored() const {
    const auto bounds = mBlocks.ring->timeBounds();
    if (!bounds)
        return false;
    const auto inside = [&](std::int64_t t) { return bounds->start <= t && t <= bounds->end; };
    return inside(mReadPosition) && inside(mReadEnd);
}

void KOSpectrumAnalyzer::Analyse() {
    KOFloatBuffer& block = *mBlocks.fetch;
    mBlocks.ring->fetchChannel(0, block.Data(), block.Length(), mReadPosition);
    const KOComplexBuffer& work = mBlocks.box->Forward(block);
    if (SquaredMagnitudes())
        work.SquaredMagnitudes(*mBlocks.spectrum);
    else
        work.Magnitudes(*mBlocks.spectrum);
    mReadPosition += HopFrames();
    mReadEnd = mReadPosition + FFTSize();
    SetNewData(true);
    ++mAnalyses;
}
