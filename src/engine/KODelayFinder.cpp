#include "engine/KODelayFinder.h"

#include "engine/KOComplexBuffer.h"
#include "engine/KOFFTBox.h"
#include "engine/KOFloatBuffer.h"
#include "platform/fourcc/FourCC.h"
#include "zotools/ZOAudioInput.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

float largestValue(const float* samples, std::uint32_t count) {
    float largest = -INFINITY;
    for (std::uint32_t i = 0; i < count; ++i)
        largest = std::max(largest, samples[i]);
    return largest;
}

// One channel's samples of this buffer, or null when the list has no usable buffer there.
const float* channelSamples(const AudioBufferList* buffers, std::uint32_t channel,
                            std::uint32_t frames) {
    if (buffers == nullptr || channel >= buffers->mNumberBuffers)
        return nullptr;
    const AudioBuffer& buffer = buffers->mBuffers[channel];
    if (buffer.mData == nullptr || buffer.mDataByteSize / sizeof(float) < frames)
        return nullptr;
    return static_cast<const float*>(buffer.mData);
}

// conj(a)·b / |a|² of one bin; 0 where the source holds no energy there (no ratio exists) or the
// ratio is no finite number, so the impulse response stays finite for any input.
void binRatio(double ar, double ai, double br, double bi, float& hr, float& hi) {
    const double power = ar * ar + ai * ai;
    const double re = (ar * br + ai * bi) / power;
    const double im = (ar * bi - ai * br) / power;
    if (!(power > 0.0) || !std::isfinite(re) || !std::isfinite(im)) {
        hr = 0.0f;
        hi = 0.0f;
        return;
    }
    hr = float(re);
    hi = float(im);
}

} // namespace

KODelayFinder::KODelayFinder(std::uint32_t fftSize) : mSize(fftSize) {
    if (fftSize < 2 || !std::has_single_bit(fftSize))
        throw std::invalid_argument("KODelayFinder: FFT size must be a power of two");
    mBox = std::make_unique<KOFFTBox>(fftSize, koru::platform::fourCC("rect"));
    mSourceFrame = std::make_unique<KOFloatBuffer>(fftSize);
    mResponseFrame = std::make_unique<KOFloatBuffer>(fftSize);
    SetChannelA(0);
    SetChannelB(1);
}

KODelayFinder::~KODelayFinder() {
    // Out of the engine before anything Process uses goes away.
    if (ZOAudioInput* host = Host())
        host->RemoveClient(this);
}

void KODelayFinder::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    CountReceived(frames);
    const std::uint32_t state = mState.load(std::memory_order_relaxed);
    if (state != Waiting && state != Recording)
        return;
    const float* source = channelSamples(buffers, SourceChannel(), frames);
    const float* response = channelSamples(buffers, ResponseChannel(), frames);
    if (source == nullptr || response == nullptr) {
        // A frame with a hole in it would give a wrong delay: start again from the next signal.
        mRecorded = 0;
        mState.store(Waiting, std::memory_order_relaxed);
        return;
    }
    if (state == Waiting) {
        if (!(largestValue(source, frames) > kTriggerLevel &&
              largestValue(response, frames) > kTriggerLevel))
            return;
        mState.store(Recording, std::memory_order_relaxed);
    }
    Record(source, response, frames);
}

void KODelayFinder::Record(const float* source, const float* response, std::uint32_t frames) {
    const std::uint32_t count = std::min(frames, mSize - mRecorded);
    std::memcpy(mSourceFrame->Data() + mRecorded, source, count * sizeof(float));
    std::memcpy(mResponseFrame->Data() + mRecorded, response, count * sizeof(float));
    mRecorded += count;
    CountAnalysed(count);
    if (mRecorded == mSize)
        mState.store(Complete, std::memory_order_release);
}

std::uint32_t KODelayFinder::ComputeDelay() {
    std::uint32_t expected = Complete;
    if (!mState.compare_exchange_strong(expected, Computing, std::memory_order_acq_rel))
        return 0;
    const std::uint32_t bins = mSize / 2;
    KOComplexBuffer source(bins);
    {
        const KOComplexBuffer& spectrum = mBox->Forward(*mSourceFrame);
        std::memcpy(source.Real().Data(), spectrum.Real().Data(), bins * sizeof(float));
        std::memcpy(source.Imag().Data(), spectrum.Imag().Data(), bins * sizeof(float));
    }
    KOComplexBuffer& response = mBox->Forward(*mResponseFrame);
    const float* ar = source.Real().Data();
    const float* ai = source.Imag().Data();
    float* br = response.Real().Data();
    float* bi = response.Imag().Data();
    // H goes into the response spectrum in place. Element 0 packs two real bins, DC in the real
    // part and Nyquist in the imaginary part: each is its own ratio.
    float ignored = 0.0f;
    binRatio(ar[0], 0.0, br[0], 0.0, br[0], ignored);
    binRatio(ai[0], 0.0, bi[0], 0.0, bi[0], ignored);
    for (std::uint32_t k = 1; k < bins; ++k)
        binRatio(ar[k], ai[k], br[k], bi[k], br[k], bi[k]);
    mImpulseResponse = mBox->Inverse(response);

    std::uint32_t index = 0;
    float largest = 0.0f;
    const float* ir = mImpulseResponse->Data();
    for (std::uint32_t i = 0; i < mSize; ++i) {
        if (std::fabs(ir[i]) > largest) {
            largest = std::fabs(ir[i]);
            index = i;
        }
    }
    mState.store(Done, std::memory_order_release);
    return index;
}

const KOFloatBuffer* KODelayFinder::ImpulseResponse() {
    if (GetState() == Complete)
        ComputeDelay();
    return GetState() == Done ? mImpulseResponse.get() : nullptr;
}
