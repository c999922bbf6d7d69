#pragma once

#include <cstdint>
#include <mutex>

namespace koru::platform {

// The one lock around FFTW's planner, which is not thread-safe. Executing a plan needs no lock.
std::mutex& fftwPlannerMutex();

// A real FFT of n samples (a power of two, at least 2) in the packed convention every caller's
// constants assume: the n samples are packed as n/2 complex values (real[k] = x[2k],
// imag[k] = x[2k+1]); forward yields twice the DFT with DC in real[0] and Nyquist in imag[0];
// inverse is unscaled, so forward then inverse gives 2n times the input.
//
// Construction allocates aligned work arrays and fetches cached plans (planned under the planner
// lock): never on the audio thread. forward() and inverse() neither allocate nor lock.
template <typename T> class PackedRealFFT {
public:
    explicit PackedRealFFT(std::uint32_t n);
    ~PackedRealFFT();
    PackedRealFFT(const PackedRealFFT&) = delete;
    PackedRealFFT& operator=(const PackedRealFFT&) = delete;

    std::uint32_t size() const { return mSize; }

    // n aligned samples: the input of forward(), the output of inverse().
    T* samples() { return mSamples; }
    const T* samples() const { return mSamples; }

    // Transforms samples() and writes the n/2 packed values into real and imag.
    void forward(T* real, T* imag) { forward(mSamples, real, imag); }
    // Transforms n samples read from input, which is left as it is. Page-aligned input is read in
    // place; any other is copied into samples() first.
    void forward(const T* input, T* real, T* imag);
    // Transforms the n/2 packed values into samples(); real and imag are only read.
    void inverse(const T* real, const T* imag);

private:
    std::uint32_t mSize;
    T* mSamples = nullptr;
    void* mSpectrum = nullptr; // n/2 + 1 interleaved complex values
    void* mForwardPlan = nullptr;
    void* mInversePlan = nullptr;
};

extern template class PackedRealFFT<float>;
extern template class PackedRealFFT<double>;

} // namespace koru::platform
