// Pins the packed real-FFT convention every instrument's constants rely on, for every size and
// both precisions: N reals packed as N/2 complex values, forward = 2 × DFT with DC in real[0] and
// Nyquist in imag[0], inverse unscaled (forward then inverse = 2N × input).
#include "engine/KOFFTBox.h"
#include "engine/SDComplexVector.h"
#include "engine/SDDoubleComplexVector.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = std::numbers::pi;

struct Packed {
    std::vector<double> real;
    std::vector<double> imag;
};

// One implementation of the convention under test.
struct Transform {
    std::string name;
    double tolerancePerPoint; // allowed absolute error divided by N, for unit-amplitude input
    std::function<Packed(const std::vector<double>&)> forward;
    std::function<std::vector<double>(const std::vector<double>&)> roundTrip;
};

Packed boxForward(const std::vector<double>& x) {
    const auto n = std::uint32_t(x.size());
    KOFFTBox box(n, koru::platform::fourCC("rect"));
    KOFloatBuffer input(n);
    for (std::uint32_t i = 0; i < n; ++i)
        input.Data()[i] = float(x[i]);
    const KOComplexBuffer& spectrum = box.Forward(input);
    Packed out;
    out.real.assign(spectrum.Real().Data(), spectrum.Real().Data() + n / 2);
    out.imag.assign(spectrum.Imag().Data(), spectrum.Imag().Data() + n / 2);
    return out;
}

std::vector<double> boxRoundTrip(const std::vector<double>& x) {
    const auto n = std::uint32_t(x.size());
    KOFFTBox box(n, koru::platform::fourCC("rect"));
    KOFloatBuffer input(n);
    for (std::uint32_t i = 0; i < n; ++i)
        input.Data()[i] = float(x[i]);
    const auto samples = box.Inverse(box.Forward(input));
    return std::vector<double>(samples->Data(), samples->Data() + n);
}

template <typename ComplexVector, typename RealVector>
Packed vectorForward(const std::vector<double>& x) {
    using T = typename RealVector::value_type;
    const std::vector<T> values(x.begin(), x.end());
    const auto spectrum = ComplexVector::forwardFFT(RealVector(values.data(), values.size()));
    const std::size_t half = x.size() / 2;
    Packed out;
    out.real.assign(spectrum->realData(), spectrum->realData() + half);
    out.imag.assign(spectrum->imagData(), spectrum->imagData() + half);
    return out;
}

template <typename ComplexVector, typename RealVector>
std::vector<double> vectorRoundTrip(const std::vector<double>& x) {
    using T = typename RealVector::value_type;
    const std::vector<T> values(x.begin(), x.end());
    ComplexVector packed{RealVector(values.data(), values.size())};
    packed.forwardFFT().inverseFFT();
    std::vector<double> out(x.size());
    for (std::size_t k = 0; k < x.size() / 2; ++k) {
        out[2 * k] = packed.realData()[k];
        out[2 * k + 1] = packed.imagData()[k];
    }
    return out;
}

const std::vector<Transform>& transforms() {
    static const std::vector<Transform> all{
        {"KOFFTBox (float)", 2e-6, boxForward, boxRoundTrip},
        {"SDComplexVector (float)", 2e-6, vectorForward<SDComplexVector, SDFloatVector>,
         vectorRoundTrip<SDComplexVector, SDFloatVector>},
        {"SDDoubleComplexVector (double)", 1e-11,
         vectorForward<SDDoubleComplexVector, SDDoubleFloatVector>,
         vectorRoundTrip<SDDoubleComplexVector, SDDoubleFloatVector>},
    };
    return all;
}

const std::vector<std::uint32_t> kSizes{2,   4,    8,    16,   32,   64,    128,   256,
                                        512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};

std::vector<double> signal(std::uint32_t n, const std::function<double(std::uint32_t)>& f) {
    std::vector<double> x(n);
    for (std::uint32_t i = 0; i < n; ++i)
        x[i] = f(i);
    return x;
}

// Compares a packed result with the expected one: every bin set in `expected` (others zero).
void expectPacked(const Packed& got, const Packed& expected, double tolerance,
                  const std::string& what) {
    ASSERT_EQ(got.real.size(), expected.real.size()) << what;
    for (std::size_t k = 0; k < got.real.size(); ++k) {
        ASSERT_NEAR(got.real[k], expected.real[k], tolerance) << what << ": real[" << k << "]";
        ASSERT_NEAR(got.imag[k], expected.imag[k], tolerance) << what << ": imag[" << k << "]";
    }
}

Packed zeros(std::uint32_t n) {
    return {std::vector<double>(n / 2), std::vector<double>(n / 2)};
}

class FFTConventionTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(FFTConventionTest, ConstantGoesToDCTimesTwoN) {
    const std::uint32_t n = GetParam();
    for (const auto& t : transforms()) {
        auto expected = zeros(n);
        expected.real[0] = 2.0 * 0.75 * n;
        expectPacked(t.forward(signal(n, [](auto) { return 0.75; })), expected,
                     t.tolerancePerPoint * n, t.name);
    }
}

TEST_P(FFTConventionTest, AlternatingGoesToNyquistInImagZero) {
    const std::uint32_t n = GetParam();
    for (const auto& t : transforms()) {
        auto expected = zeros(n);
        expected.imag[0] = 2.0 * n;
        expectPacked(t.forward(signal(n, [](std::uint32_t i) { return i % 2 ? -1.0 : 1.0; })),
                     expected, t.tolerancePerPoint * n, t.name);
    }
}

TEST_P(FFTConventionTest, CosineAndSineAtABin) {
    const std::uint32_t n = GetParam();
    if (n < 4)
        GTEST_SKIP() << "no bin between DC and Nyquist";
    const std::uint32_t bin = std::max<std::uint32_t>(1, n / 8 + 1) % (n / 2);
    const double a = 0.5;
    for (const auto& t : transforms()) {
        auto cosine = zeros(n);
        cosine.real[bin] = a * n;
        expectPacked(t.forward(signal(
                         n, [&](std::uint32_t i) { return a * std::cos(2 * kPi * bin * i / n); })),
                     cosine, t.tolerancePerPoint * n, t.name + " cosine");
        auto sine = zeros(n);
        sine.imag[bin] = -a * n;
        expectPacked(t.forward(signal(
                         n, [&](std::uint32_t i) { return a * std::sin(2 * kPi * bin * i / n); })),
                     sine, t.tolerancePerPoint * n, t.name + " sine");
    }
}

TEST_P(FFTConventionTest, ForwardThenInverseGivesTwoNTimesTheInput) {
    const std::uint32_t n = GetParam();
    const auto x =
        signal(n, [](std::uint32_t i) { return std::sin(0.37 * i) + 0.25 * std::cos(1.91 * i); });
    for (const auto& t : transforms()) {
        const auto y = t.roundTrip(x);
        ASSERT_EQ(y.size(), n);
        for (std::uint32_t i = 0; i < n; ++i)
            ASSERT_NEAR(y[i], 2.0 * n * x[i], 4.0 * t.tolerancePerPoint * n)
                << t.name << " at " << i;
    }
}

TEST_P(FFTConventionTest, ArbitraryInputMatchesTheDefinition) {
    const std::uint32_t n = GetParam();
    if (n > 1024)
        GTEST_SKIP() << "the direct DFT is quadratic";
    std::uint32_t state = 12345;
    const auto x = signal(n, [&](auto) {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24) - 0.5;
    });
    auto expected = zeros(n);
    for (std::uint32_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum;
        for (std::uint32_t i = 0; i < n; ++i)
            sum += x[i] * std::polar(1.0, -2 * kPi * double(k) * i / n);
        if (k == 0)
            expected.real[0] = 2 * sum.real();
        else if (k == n / 2)
            expected.imag[0] = 2 * sum.real();
        else {
            expected.real[k] = 2 * sum.real();
            expected.imag[k] = 2 * sum.imag();
        }
    }
    for (const auto& t : transforms())
        expectPacked(t.forward(x), expected, t.tolerancePerPoint * n, t.name);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FFTConventionTest, ::testing::ValuesIn(kSizes),
                         ::testing::PrintToStringParamName());

TEST(FFTPlanningTest, TransformsOfManySizesFromManyThreadsAgree) {
    // Planning is shared across threads; every thread must still see correct transforms.
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (std::uint32_t n = 4u << (t % 4); n <= 131072; n *= 4) {
                const auto spectrum = SDDoubleComplexVector::forwardFFT(
                    SDDoubleFloatVector::vectorWithLength(n)->fill(1.0));
                if (std::fabs(spectrum->realData()[0] - 2.0 * n) > 1e-6 * n)
                    ++failures[t];
                KOFFTBox box(n, koru::platform::fourCC("rect"));
                KOFloatBuffer ones(n);
                ones.Fill(1.0f);
                if (std::fabs(box.Forward(ones).Real().Data()[0] - 2.0f * n) > 1e-3f * n)
                    ++failures[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}

} // namespace
