#include "engine/KOFFTWindow.h"
#include "engine/SDDoubleFloatVector.h"
#include "engine/SDFloatVector.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

using koru::platform::fourCC;

constexpr double kPi = std::numbers::pi;

struct WindowCase {
    std::uint32_t code;
    // The value at n of a window of length m.
    std::function<double(double n, double m)> formula;
};

const std::vector<WindowCase>& windowCases() {
    static const std::vector<WindowCase> cases{
        {fourCC("hann"),
         [](double n, double m) { return 0.8165 * (1.0 - std::cos(2 * kPi * n / m)); }},
        {fourCC("hamm"),
         [](double n, double m) { return 0.54 - 0.46 * std::cos(2 * kPi * n / m); }},
        {fourCC("blkm"),
         [](double n, double m) {
             return 0.42 - 0.5 * std::cos(2 * kPi * n / m) + 0.08 * std::cos(4 * kPi * n / m);
         }},
        {fourCC("sine"), [](double n, double m) { return std::sin(n * kPi / (m - 1)); }},
        {fourCC("rect"), [](double, double) { return 1.0; }},
    };
    return cases;
}

std::string name(std::uint32_t code) {
    return koru::platform::fourCCToString(code).toStdString();
}

TEST(KOFFTWindowTest, EveryTypeMatchesItsFormula) {
    for (const auto& window : windowCases()) {
        for (std::uint32_t length : {2u, 7u, 64u, 8192u}) {
            const KOFFTWindow w(length, window.code);
            EXPECT_EQ(w.Type(), window.code);
            for (std::uint32_t n = 0; n < length; ++n) {
                ASSERT_NEAR(w.Data()[n], window.formula(n, length), 1e-6)
                    << name(window.code) << " length " << length << " at " << n;
            }
        }
    }
}

TEST(KOFFTWindowTest, PeriodicShapesPeakInTheMiddle) {
    const std::uint32_t length = 1024;
    const KOFFTWindow hann(length, fourCC("hann"));
    EXPECT_NEAR(hann.Data()[0], 0.0f, 1e-7f);
    EXPECT_NEAR(hann.Data()[length / 2], 1.633f, 1e-6f);
    // Periodic: the last value is not back at zero, it equals the second.
    EXPECT_NEAR(hann.Data()[length - 1], hann.Data()[1], 1e-6f);

    const KOFFTWindow hamming(length, fourCC("hamm"));
    EXPECT_NEAR(hamming.Data()[0], 0.08f, 1e-6f);
    const KOFFTWindow sine(length, fourCC("sine"));
    EXPECT_NEAR(sine.Data()[length - 1], 0.0f, 1e-6f);
}

TEST(KOFFTWindowTest, UnknownCodeGivesHann) {
    KOFFTWindow w(16, fourCC("xxxx"));
    EXPECT_EQ(w.Type(), fourCC("hann"));
    const KOFFTWindow hann(16, fourCC("hann"));
    for (std::uint32_t n = 0; n < 16; ++n)
        EXPECT_EQ(w.Data()[n], hann.Data()[n]);

    w.Generate(fourCC("rect"));
    EXPECT_EQ(w.Type(), fourCC("rect"));
    EXPECT_EQ(w.Data()[0], 1.0f);
}

TEST(KOFFTWindowTest, OnePointWindowsAreFinite) {
    for (const auto& window : windowCases())
        EXPECT_TRUE(std::isfinite(KOFFTWindow(1, window.code).Data()[0])) << name(window.code);
}

TEST(VectorWindowTest, HalfWindowIsTheRisingHalfOfOneTwiceAsLong) {
    const std::uint64_t length = 50;
    for (const auto& window : windowCases()) {
        const auto half = SDDoubleFloatVector::vectorWithWindow(window.code, length, true);
        const auto full = SDFloatVector::vectorWithWindow(window.code, length, false);
        for (std::uint64_t n = 0; n < length; ++n) {
            ASSERT_NEAR(half->data()[n], window.formula(double(n), 2.0 * length), 1e-12)
                << name(window.code) << " at " << n;
            ASSERT_NEAR(full->data()[n], window.formula(double(n), double(length)), 1e-6)
                << name(window.code) << " at " << n;
        }
    }
}

TEST(VectorWindowTest, RectHalfGivesOnesAndUnknownCodeLeavesElements) {
    auto vector = SDFloatVector::vectorWithLength(4);
    vector->becomeWindow(fourCC("rect"), true);
    EXPECT_EQ(std::vector<float>(vector->data(), vector->data() + 4), std::vector<float>(4, 1.0f));

    vector->fill(0.25f).becomeWindow(fourCC("xxxx"), false);
    EXPECT_EQ(std::vector<float>(vector->data(), vector->data() + 4), std::vector<float>(4, 0.25f));
}

} // namespace
