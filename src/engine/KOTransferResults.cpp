#include "KOTransferResults.h"

#include "KOComplexBuffer.h"
#include "KOFloatBuffer.h"
#include "KOMathException.h"

#include <algorithm>
#include <cmath>

namespace {

std::unique_ptr<KOFloatBuffer> copyOf(const KOFloatBuffer* buffer) {
    return buffer ? std::make_unique<KOFloatBuffer>(*buffer) : nullptr;
}

std::unique_ptr<KOFloatBuffer> zeroedDecibels(std::uint32_t length) {
    auto buffer = std::make_unique<KOFloatBuffer>(length);
    buffer->SetDecibel(true);
    return buffer;
}

} // namespace

KOTransferResults::KOTransferResults(std::uint32_t length)
    : mMagnitude(std::make_unique<KOFloatBuffer>(length)), mPhase(zeroedDecibels(length)),
      mCoherence(zeroedDecibels(length)) {}

KOTransferResults::KOTransferResults(const KOFloatBuffer* magnitude, const KOFloatBuffer* phase,
                                     const KOFloatBuffer* coherence) {
    if (!magnitude || !phase || !coherence)
        return;
    mMagnitude = copyOf(magnitude);
    mPhase = copyOf(phase);
    mCoherence = copyOf(coherence);
    mPhase->SetDecibel(true);
    mCoherence->SetDecibel(true);
}

KOTransferResults::KOTransferResults(const KOTransferResults& other)
    : mMagnitude(copyOf(other.mMagnitude.get())), mPhase(copyOf(other.mPhase.get())),
      mCoherence(copyOf(other.mCoherence.get())) {}

KOTransferResults& KOTransferResults::operator=(const KOTransferResults& other) {
    if (this == &other)
        return *this;
    // All three copies are made before any buffer is replaced, so a failed allocation cannot
    // leave results of mixed origin.
    auto magnitude = copyOf(other.mMagnitude.get());
    auto phase = copyOf(other.mPhase.get());
    auto coherence = copyOf(other.mCoherence.get());
    mMagnitude = std::move(magnitude);
    mPhase = std::move(phase);
    mCoherence = std::move(coherence);
    return *this;
}

KOTransferResults::~KOTransferResults() = default;

void KOTransferResults::SetFromTransfer(const KOComplexBuffer& transfer, bool withPhase) {
    if (!HasBuffers())
        return;
    if (transfer.Length() > mMagnitude->Length() ||
        (withPhase && transfer.Length() > mPhase->Length()))
        throw KOMathException(KOMathException::kLengthMismatch);
    transfer.SquaredMagnitudes(*mMagnitude);
    if (withPhase)
        transfer.Phases(*mPhase);
}

void KOTransferResults::Stretch(double oldRate, double newRate) {
    if (!HasBuffers())
        return;
    mMagnitude->Stretch(oldRate, newRate);
    mPhase->Stretch(oldRate, newRate);
    mCoherence->Stretch(oldRate, newRate);
}

void KOTransferResults::ResizeTo(std::uint32_t length) {
    if (!HasBuffers())
        return;
    mMagnitude->ResizeTo(length);
    mPhase->ResizeTo(length);
    mCoherence->ResizeTo(length);
}

void KOTransferResults::difference(KOTransferResults& other) {
    if (&other == this || !HasBuffers() || !other.HasBuffers())
        return;
    MagnitudeToDecibels();
    other.MagnitudeToDecibels();
    const std::uint32_t length = std::min(mMagnitude->Length(), other.mMagnitude->Length());
    float* magnitude = mMagnitude->Data();
    float* phase = mPhase->Data();
    float* coherence = mCoherence->Data();
    const float* otherMagnitude = other.mMagnitude->Data();
    const float* otherPhase = other.mPhase->Data();
    const float* otherCoherence = other.mCoherence->Data();
    for (std::uint32_t i = 0; i < length; ++i) {
        magnitude[i] -= otherMagnitude[i];
        phase[i] -= otherPhase[i];
        coherence[i] = (coherence[i] + otherCoherence[i]) * 0.5f;
    }
}

void KOTransferResults::MagnitudeToDecibels() {
    if (!HasBuffers() || mMagnitude->IsDecibel())
        return;
    mMagnitude->ToDecibels(0, 1.0f);
    float* values = mMagnitude->Data();
    for (std::uint32_t i = 0; i < mMagnitude->Length(); ++i)
        if (!std::isfinite(values[i]))
            values[i] = kDecibelFloor;
}
