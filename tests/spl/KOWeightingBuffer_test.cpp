#include "platform/fourcc/FourCC.h"
#include "spl/KOWeightingBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using koru::platform::fourCC;

namespace {

double decibels(double power) {
    return 10.0 * std::log10(power);
}

} // namespace

// IEC 61672-1 Table 3 at the exact base-ten frequencies 1000·10^(n/10): the closed forms with
// their 12200 Hz pole stay within the table's rounding plus 0.01 dB.
TEST(WeightingPower, FollowsTheStandardTableForAAndC) {
    const double aTable[] = {-70.4, -63.4, -56.7, -50.5, -44.7, -39.4, -34.6, -30.2, -26.2,
                             -22.5, -19.1, -16.1, -13.4, -10.9, -8.6,  -6.6,  -4.8,  -3.2,
                             -1.9,  -0.8,  0.0,   0.6,   1.0,   1.2,   1.3,   1.2,   1.0,
                             0.5,   -0.1,  -1.1,  -2.5,  -4.3,  -6.6,  -9.3};
    const double cTable[] = {-14.3, -11.2, -8.5, -6.2, -4.4, -3.0, -2.0, -1.3, -0.8,
                             -0.5,  -0.3,  -0.2, -0.1, 0.0,  0.0,  0.0,  0.0,  0.0,
                             0.0,   0.0,   0.0,  0.0,  -0.1, -0.2, -0.3, -0.5, -0.8,
                             -1.3,  -2.0,  -3.0, -4.4, -6.2, -8.5, -11.2};
    for (int n = -20; n <= 13; ++n) {
        const double f = 1000.0 * std::pow(10.0, n / 10.0);
        EXPECT_NEAR(decibels(a_weighting_power(f)), aTable[n + 20], 0.06) << f << " Hz";
        EXPECT_NEAR(decibels(c_weighting_power(f)), cTable[n + 20], 0.06) << f << " Hz";
    }
}

TEST(WeightingPower, UnityAtOneKilohertzAndKnownValuesAtOneHundred) {
    struct Case {
        const char* name;
        double (*power)(double);
        double at100Hz;
    };
    const Case cases[] = {{"A", &a_weighting_power, -19.145},
                          {"B", &b_weighting_power, -5.647},
                          {"C", &c_weighting_power, -0.302}};
    for (const Case& c : cases) {
        EXPECT_NEAR(decibels(c.power(1000.0)), 0.0, 0.002) << c.name;
        EXPECT_NEAR(decibels(c.power(100.0)), c.at100Hz, 0.001) << c.name;
        EXPECT_EQ(c.power(0.0), 0.0) << c.name;
        // Both ends fall off.
        EXPECT_LT(c.power(20.0), c.power(100.0)) << c.name;
        EXPECT_LT(c.power(20000.0), c.power(1000.0)) << c.name;
    }
}

// Entry i belongs to the frequency i·fs/N; the DC entry weighs nothing.
TEST(KOWeightingBuffer, EntriesFollowTheBinFrequencies) {
    struct Case {
        std::uint32_t weighting;
        double (*power)(double);
    };
    const Case cases[] = {{fourCC("a_wt"), &a_weighting_power},
                          {fourCC("b_wt"), &b_weighting_power},
                          {fourCC("c_wt"), &c_weighting_power}};
    for (const Case& c : cases) {
        const KOWeightingBuffer table(8192, c.weighting, 48000.0);
        EXPECT_EQ(table.Weighting(), c.weighting);
        EXPECT_EQ(table.Length(), 8192u);
        EXPECT_EQ(table.Data()[0], 0.0f);
        for (const std::uint32_t i : {1u, 17u, 1000u, 4095u, 4096u, 8191u})
            EXPECT_FLOAT_EQ(table.Data()[i], float(c.power(i * 48000.0 / 8192)))
                << c.weighting << " bin " << i;
    }
    // At 8192 points of 8192 Hz every bin is 1 Hz wide: bin 1000 is the 1 kHz entry.
    const KOWeightingBuffer table(8192, fourCC("a_wt"), 8192.0);
    EXPECT_NEAR(decibels(table.Data()[1000]), 0.0, 0.002);
}

TEST(KOWeightingBuffer, UnknownWeightingIsReportedAndBecomesA) {
    KOWeightingBuffer table(1024, fourCC("c_wt"), 48000.0);
    testing::internal::CaptureStdout();
    table.SetWeighting(fourCC("z_wt"));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "\nInvalid weighting type \"2053076852\" specified - Using A-Weighting instead!\n");
    EXPECT_EQ(table.Weighting(), fourCC("a_wt"));
    EXPECT_FLOAT_EQ(table.Data()[100], float(a_weighting_power(100 * 48000.0 / 1024)));

    testing::internal::CaptureStdout();
    const KOWeightingBuffer created(1024, 0, 48000.0);
    EXPECT_FALSE(testing::internal::GetCapturedStdout().empty());
    EXPECT_EQ(created.Weighting(), fourCC("a_wt"));
}

// The same rate leaves the table alone (a marked entry survives); another rate refills it.
TEST(KOWeightingBuffer, RefillsOnlyForAnotherRate) {
    KOWeightingBuffer table(1024, fourCC("a_wt"), 48000.0);
    table.Data()[10] = -1.0f;
    table.SetSampleRate(48000.0);
    EXPECT_EQ(table.Data()[10], -1.0f);

    table.SetSampleRate(96000.0);
    EXPECT_EQ(table.SampleRate(), 96000.0);
    EXPECT_FLOAT_EQ(table.Data()[10], float(a_weighting_power(10 * 96000.0 / 1024)));

    // Changing the weighting refills under the stored rate.
    table.SetWeighting(fourCC("b_wt"));
    EXPECT_FLOAT_EQ(table.Data()[10], float(b_weighting_power(10 * 96000.0 / 1024)));
}
