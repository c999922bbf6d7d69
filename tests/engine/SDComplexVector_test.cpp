#include "engine/SDComplexVector.h"
#include "engine/SDDoubleComplexVector.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

template <typename Vector> auto valuesOf(const Vector& v) {
    return std::vector<typename Vector::value_type>(v.data(), v.data() + v.length());
}

template <typename Complex> struct RealOf;
template <> struct RealOf<SDComplexVector> { using type = SDFloatVector; };
template <> struct RealOf<SDDoubleComplexVector> { using type = SDDoubleFloatVector; };

template <typename Complex> class ComplexVectorTest : public ::testing::Test {
protected:
    using T = typename Complex::value_type;
    using Real = typename RealOf<Complex>::type;

    static std::shared_ptr<Real> real(const std::vector<T>& values) {
        return std::make_shared<Real>(values.data(), values.size());
    }
    static std::shared_ptr<Complex> complex(std::vector<T> re, std::vector<T> im) {
        return Complex::vectorWithVector({re.data(), im.data()}, re.size());
    }
};

using ComplexTypes = ::testing::Types<SDComplexVector, SDDoubleComplexVector>;
TYPED_TEST_SUITE(ComplexVectorTest, ComplexTypes);

TYPED_TEST(ComplexVectorTest, ForwardOfEightOnesIsSixteenAtDC) {
    using T = typename TestFixture::T;
    const auto spectrum = TypeParam::forwardFFT(*TestFixture::real(std::vector<T>(8, 1)));
    ASSERT_EQ(spectrum->length(), 8u);
    EXPECT_NEAR(spectrum->realData()[0], 16, 1e-5);
    EXPECT_NEAR(spectrum->imagData()[0], 0, 1e-5);
    for (int k = 1; k < 4; ++k) {
        EXPECT_NEAR(spectrum->realData()[k], 0, 1e-5);
        EXPECT_NEAR(spectrum->imagData()[k], 0, 1e-5);
    }
}

TYPED_TEST(ComplexVectorTest, ForwardThenInverseMultipliesByTwiceTheLength) {
    using T = typename TestFixture::T;
    const std::vector<T> x{1, -2, 3, 0.5, -1, 4, 2, -3};
    TypeParam v(*TestFixture::real(x));
    v.forwardFFT().inverseFFT();
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(v.realData()[k], 16 * x[2 * k], 1e-4);
        EXPECT_NEAR(v.imagData()[k], 16 * x[2 * k + 1], 1e-4);
    }
}

TYPED_TEST(ComplexVectorTest, ClassInverseTransformsAndUnpacks) {
    using T = typename TestFixture::T;
    const std::vector<T> x{1, -2, 3, 0.5, -1, 4, 2, -3};
    const auto spectrum = TypeParam::forwardFFT(*TestFixture::real(x));
    const auto before = valuesOf(*spectrum->realVector());
    const auto samples = TypeParam::inverseFFT(*spectrum);
    for (std::size_t i = 0; i < x.size(); ++i)
        EXPECT_NEAR(samples->data()[i], 16 * x[i], 1e-4);
    EXPECT_EQ(valuesOf(*spectrum->realVector()), before);
}

TYPED_TEST(ComplexVectorTest, TransformUsesTheLargestPowerOfTwo) {
    using T = typename TestFixture::T;
    // Twelve elements: an 8-point transform of the first four elements; the rest is untouched.
    TypeParam v(12);
    for (int k = 0; k < 12; ++k) {
        v.mutableRealData()[k] = T(1);
        v.mutableImagData()[k] = T(1);
    }
    v.forwardFFT();
    EXPECT_NEAR(v.realData()[0], 16, 1e-5);
    EXPECT_NEAR(v.realData()[1], 0, 1e-5);
    for (int k = 4; k < 12; ++k)
        EXPECT_EQ(v.realData()[k], T(1));
}

TYPED_TEST(ComplexVectorTest, TooShortToTransformStaysAsItIs) {
    auto one = TestFixture::complex({3}, {4});
    one->forwardFFT().inverseFFT().doFFT(7);
    EXPECT_EQ(one->realData()[0], 3);
    EXPECT_EQ(one->imagData()[0], 4);
    auto empty = TypeParam::vectorWithLength(0);
    empty->forwardFFT();
    EXPECT_EQ(empty->length(), 0u);
}

TYPED_TEST(ComplexVectorTest, MagnitudesAndPhases) {
    using T = typename TestFixture::T;
    const auto z = TestFixture::complex({3, -1}, {4, 0});
    EXPECT_EQ(valuesOf(*z->mag()), (std::vector<T>{25, 1}));
    EXPECT_EQ(valuesOf(*z->abs()), (std::vector<T>{5, 1}));
    const auto phases = valuesOf(*z->phi());
    EXPECT_NEAR(phases[0], std::atan2(4.0, 3.0), 1e-6);
    EXPECT_NEAR(phases[1], std::numbers::pi, 1e-6);

    std::vector<T> mag(2, -1);
    std::vector<T> phi(2, -1);
    z->getMag(nullptr, nullptr);
    z->getMag(mag.data(), nullptr);
    EXPECT_EQ(mag, (std::vector<T>{25, 1}));
    z->getMag(nullptr, phi.data());
    EXPECT_NEAR(phi[0], std::atan2(4.0, 3.0), 1e-6);
}

TYPED_TEST(ComplexVectorTest, HalvesCopiesAndClear) {
    using T = typename TestFixture::T;
    const auto z = TestFixture::complex({1, 2}, {3, 4});
    EXPECT_EQ(valuesOf(*z->realVector()), (std::vector<T>{1, 2}));
    EXPECT_EQ(valuesOf(*z->imagVector()), (std::vector<T>{3, 4}));
    EXPECT_EQ(z->data().realp, z->realData());

    const auto copy = z->copy();
    EXPECT_NE(copy->realData(), z->realData());
    z->clear();
    EXPECT_EQ(valuesOf(*z->realVector()), (std::vector<T>{0, 0}));
    EXPECT_EQ(valuesOf(*copy->imagVector()), (std::vector<T>{3, 4}));
}

TYPED_TEST(ComplexVectorTest, DebugDescription) {
    const auto z = TestFixture::complex({3, -0.5}, {4, 0});
    koru::test::ScopedLocale german("de_DE.UTF-8");
    EXPECT_EQ(z->debugDescription(), QStringLiteral("0\t3 +j4\n1\t-0.5 +j0\n"));
}

TEST(SDComplexVectorTest, PackingReadsBackAndLeavesTheUpperHalf) {
    const std::vector<float> x{1, 2, 3, 4, 5, 6};
    SDComplexVector v(*std::make_shared<SDFloatVector>(x.data(), x.size()));
    EXPECT_EQ(valuesOf(*v.realVector()), (std::vector<float>{1, 3, 5, 0, 0, 0}));
    EXPECT_EQ(valuesOf(*v.imagVector()), (std::vector<float>{2, 4, 6, 0, 0, 0}));
    EXPECT_EQ(valuesOf(*v.t()), x);

    v.mutableRealData()[4] = 9;
    v.fillWithRealData(x.data());
    EXPECT_EQ(v.realData()[4], 9.0f);
}

TEST(SDDoubleComplexVectorTest, PackingClearsFirstAndUnpacksEveryElement) {
    const std::vector<double> x{1, 2, 3, 4};
    SDDoubleComplexVector v(*std::make_shared<SDDoubleFloatVector>(x.data(), x.size()));
    v.mutableRealData()[3] = 9;
    v.fillWithRealData(x.data());
    EXPECT_EQ(v.realData()[3], 0.0);
    EXPECT_EQ(valuesOf(*v.t()), (std::vector<double>{1, 2, 3, 4, 0, 0, 0, 0}));
}

TEST(SDDoubleComplexVectorTest, ExtendedVectorMirrorsWithoutConjugating) {
    const std::vector<double> re{1, 2, 3};
    std::vector<double> im{-1, -2, -3};
    auto source = re;
    const auto v = SDDoubleComplexVector::vectorWithVector({source.data(), im.data()}, 3);
    const auto extended = v->extendedVector();
    EXPECT_EQ(valuesOf(*extended->realVector()), (std::vector<double>{1, 2, 3, 3, 2, 1}));
    EXPECT_EQ(valuesOf(*extended->imagVector()), (std::vector<double>{-1, -2, -3, -3, -2, -1}));
}

TEST(SDComplexVectorTest, ConvertsFromDoublePrecision) {
    std::vector<double> re{0.1, 2};
    std::vector<double> im{-3, 1e40};
    const SDDoubleComplexVector dbl({re.data(), im.data()}, 2);
    const SDComplexVector single(dbl);
    ASSERT_EQ(single.length(), 2u);
    EXPECT_EQ(single.realData()[0], 0.1f);
    EXPECT_EQ(single.imagData()[0], -3.0f);
    EXPECT_TRUE(std::isinf(single.imagData()[1]));
}

} // namespace
