#pragma once

#include <cstdint>
#include <memory>

class KOComplexBuffer;
class KOFloatBuffer;

// The result of one transfer-function measurement: magnitude (|H|² as a power ratio, or decibels
// once converted; the buffer's flag says which), phase in radians and coherence 0..1, all of one
// length. Phase and coherence always carry the decibel flag, so no conversion ever touches them.
// Results decoded from damaged data may hold no buffers at all; the accessors then answer null.
class KOTransferResults {
public:
    // Three zeroed buffers. Throws KOBufferException 'bxzl' for 0.
    explicit KOTransferResults(std::uint32_t length);
    // Deep copies of the three buffers; holds none when any of them is missing.
    KOTransferResults(const KOFloatBuffer* magnitude, const KOFloatBuffer* phase,
                      const KOFloatBuffer* coherence);
    KOTransferResults(const KOTransferResults& other);
    // Deep copy; on a failed allocation this object keeps what it held.
    KOTransferResults& operator=(const KOTransferResults& other);
    ~KOTransferResults();

    bool HasBuffers() const { return mMagnitude != nullptr; }

    // The buffers themselves, not copies.
    KOFloatBuffer* magnitude() { return mMagnitude.get(); }
    const KOFloatBuffer* magnitude() const { return mMagnitude.get(); }
    KOFloatBuffer* phase() { return mPhase.get(); }
    const KOFloatBuffer* phase() const { return mPhase.get(); }
    KOFloatBuffer* coherence() { return mCoherence.get(); }
    const KOFloatBuffer* coherence() const { return mCoherence.get(); }

    // magnitude = |H|² (decibel flag cleared); phase = arg H when withPhase, else left as it is.
    // H may be shorter than the results (it has the bins, the results the FFT size); a longer H
    // throws KOMathException 20 before anything is written.
    void SetFromTransfer(const KOComplexBuffer& transfer, bool withPhase);
    // Moves every stored value to the index it has at the new sample rate.
    void Stretch(double oldRate, double newRate);
    // Resamples all three buffers to length elements. Throws 'bxzl' for 0.
    void ResizeTo(std::uint32_t length);
    // this = this - other: both magnitudes in decibels first (power form; a buffer already in
    // decibels is left as it is, and the other's is converted in place), then magnitude and
    // phase subtracted (the phase is not re-wrapped) and the coherence the mean of both. Over
    // the shorter length; nothing with itself or without buffers.
    void difference(KOTransferResults& other);
    // 10·log10 of the magnitude unless it is already in decibels; silence (and any value that
    // is not finite) lands on the floor, so stored and derived results never hold -inf or NaN.
    void MagnitudeToDecibels();

    static constexpr float kDecibelFloor = -144.0f;

private:
    std::unique_ptr<KOFloatBuffer> mMagnitude;
    std::unique_ptr<KOFloatBuffer> mPhase;
    std::unique_ptr<KOFloatBuffer> mCoherence;
};
