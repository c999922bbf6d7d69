#include "PackedRealFFT.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <map>
#include <new>
#include <stdexcept>
#include <utility>

namespace koru::platform {

namespace {

template <typename T> struct Fftw;

template <> struct Fftw<float> {
    using Complex = fftwf_complex;
    static void* allocate(std::size_t bytes) { return fftwf_malloc(bytes); }
    static void release(void* pointer) { fftwf_free(pointer); }
    static void* planForward(int n, float* in, Complex* out) {
        return fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    }
    static void* planInverse(int n, Complex* in, float* out) {
        return fftwf_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE);
    }
    static void forward(void* plan, float* in, Complex* out) {
        fftwf_execute_dft_r2c(static_cast<fftwf_plan>(plan), in, out);
    }
    static int alignmentOf(const float* pointer) {
        return fftwf_alignment_of(const_cast<float*>(pointer));
    }
    static void inverse(void* plan, Complex* in, float* out) {
        fftwf_execute_dft_c2r(static_cast<fftwf_plan>(plan), in, out);
    }
};

template <> struct Fftw<double> {
    using Complex = fftw_complex;
    static void* allocate(std::size_t bytes) { return fftw_malloc(bytes); }
    static void release(void* pointer) { fftw_free(pointer); }
    static void* planForward(int n, double* in, Complex* out) {
        return fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    }
    static void* planInverse(int n, Complex* in, double* out) {
        return fftw_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE);
    }
    static void forward(void* plan, double* in, Complex* out) {
        fftw_execute_dft_r2c(static_cast<fftw_plan>(plan), in, out);
    }
    static int alignmentOf(const double* pointer) {
        return fftw_alignment_of(const_cast<double*>(pointer));
    }
    static void inverse(void* plan, Complex* in, double* out) {
        fftw_execute_dft_c2r(static_cast<fftw_plan>(plan), in, out);
    }
};

struct PlanPair {
    void* forward = nullptr;
    void* inverse = nullptr;
};

// Plans live as long as the process: there are few sizes, and executing a shared plan is
// thread-safe. They are made on the arrays of the first transform of their size; later ones
// execute them on their own arrays, which FFTW's allocator aligns the same way.
template <typename T> PlanPair cachedPlans(std::uint32_t n, T* samples, void* spectrum) {
    // Never destroyed, like the plans it holds: nothing may run them after the map is gone.
    static auto& plans = *new std::map<std::uint32_t, PlanPair>; // guarded by fftwPlannerMutex()
    const std::scoped_lock lock(fftwPlannerMutex());
    auto found = plans.find(n);
    if (found != plans.end())
        return found->second;
    auto* complex = static_cast<typename Fftw<T>::Complex*>(spectrum);
    const PlanPair made{Fftw<T>::planForward(int(n), samples, complex),
                        Fftw<T>::planInverse(int(n), complex, samples)};
    if (!made.forward || !made.inverse)
        throw std::runtime_error("FFTW could not plan a real transform");
    plans.emplace(n, made);
    return made;
}

} // namespace

std::mutex& fftwPlannerMutex() {
    static auto* mutex = new std::mutex; // never destroyed, like the plans it guards
    return *mutex;
}

template <typename T> PackedRealFFT<T>::PackedRealFFT(std::uint32_t n) : mSize(n) {
    if (n < 2 || !std::has_single_bit(n))
        throw std::invalid_argument("real FFT size must be a power of two of at least 2");
    using Complex = typename Fftw<T>::Complex;
    mSamples = static_cast<T*>(Fftw<T>::allocate(sizeof(T) * n));
    mSpectrum = Fftw<T>::allocate(sizeof(Complex) * (n / 2 + 1));
    if (!mSamples || !mSpectrum) {
        Fftw<T>::release(mSamples);
        Fftw<T>::release(mSpectrum);
        throw std::bad_alloc();
    }
    std::fill(mSamples, mSamples + n, T(0));
    try {
        const PlanPair plans = cachedPlans<T>(n, mSamples, mSpectrum);
        mForwardPlan = plans.forward;
        mInversePlan = plans.inverse;
    } catch (...) {
        Fftw<T>::release(mSamples);
        Fftw<T>::release(mSpectrum);
        throw;
    }
}

template <typename T> PackedRealFFT<T>::~PackedRealFFT() {
    Fftw<T>::release(mSamples);
    Fftw<T>::release(mSpectrum);
}

template <typename T> void PackedRealFFT<T>::forward(const T* input, T* real, T* imag) {
    // A plan may run on other arrays only when they share the SIMD alignment of the ones it was
    // made for. An out-of-place real-to-complex plan leaves its input untouched.
    if (input != mSamples && Fftw<T>::alignmentOf(input) != Fftw<T>::alignmentOf(mSamples)) {
        std::copy(input, input + mSize, mSamples);
        input = mSamples;
    }
    auto* spectrum = static_cast<typename Fftw<T>::Complex*>(mSpectrum);
    Fftw<T>::forward(mForwardPlan, const_cast<T*>(input), spectrum);
    const std::uint32_t half = mSize / 2;
    real[0] = T(2) * spectrum[0][0];
    imag[0] = T(2) * spectrum[half][0];
    for (std::uint32_t k = 1; k < half; ++k) {
        real[k] = T(2) * spectrum[k][0];
        imag[k] = T(2) * spectrum[k][1];
    }
}

template <typename T> void PackedRealFFT<T>::inverse(const T* real, const T* imag) {
    auto* spectrum = static_cast<typename Fftw<T>::Complex*>(mSpectrum);
    const std::uint32_t half = mSize / 2;
    spectrum[0][0] = real[0];
    spectrum[0][1] = T(0);
    for (std::uint32_t k = 1; k < half; ++k) {
        spectrum[k][0] = real[k];
        spectrum[k][1] = imag[k];
    }
    spectrum[half][0] = imag[0];
    spectrum[half][1] = T(0);
    // c2r overwrites its input; the spectrum array is scratch, so that is fine.
    Fftw<T>::inverse(mInversePlan, spectrum, mSamples);
}

template class PackedRealFFT<float>;
template class PackedRealFFT<double>;

} // namespace koru::platform
