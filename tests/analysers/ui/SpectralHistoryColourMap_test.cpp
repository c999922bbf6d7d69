#include "analysers/ui/SpectralHistoryColourMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using koru::analysers::SpectralHistoryColourMap;

struct Rgb {
    int red, green, blue;
};

Rgb components(std::uint32_t pixel) {
    return {SpectralHistoryColourMap::red(pixel), SpectralHistoryColourMap::green(pixel),
            SpectralHistoryColourMap::blue(pixel)};
}

TEST(SpectralHistoryColourMap, LevelsGiveTheColoursOfTheRange) {
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case {
        double low, high;
        float level;
        Rgb expected;
    };
    const Case cases[] = {
        // -80..-10 dB: the centre -45 dB is full blue turning to green
        {-80, -10, -45.0f, {0, 0, 255}},
        {-80, -10, -62.5f, {0, 0, 127}},
        {-80, -10, -27.5f, {127, 127, 0}},
        {-80, -10, -5.0f, {255, 0, 0}},
        {-80, -10, -10.0f, {255, 0, 0}},
        {-80, -10, -80.0f, {0, 0, 0}},
        {-80, -10, -90.0f, {0, 0, 0}},
        // silence and broken levels are black, never an undefined byte
        {-80, -10, -inf, {0, 0, 0}},
        {-80, -10, nan, {0, 0, 0}},
        {-80, -10, inf, {255, 0, 0}},
        // a range under 10 dB parts its middle points; components beyond full stay full
        {-50, -45, -55.0f, {0, 255, 0}},
        {-50, -45, -47.5f, {127, 127, 127}},
        {-50, -45, -40.0f, {255, 0, 255}},
        {-50, -45, nan, {0, 0, 0}},
        {-50, -45, -inf, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const SpectralHistoryColourMap map(c.low, c.high);
        const std::uint32_t pixel = map.pixel(c.level);
        const Rgb rgb = components(pixel);
        EXPECT_EQ(pixel >> 24, 0xFFu);
        EXPECT_EQ(rgb.red, c.expected.red) << c.low << ".." << c.high << " at " << c.level;
        EXPECT_EQ(rgb.green, c.expected.green) << c.low << ".." << c.high << " at " << c.level;
        EXPECT_EQ(rgb.blue, c.expected.blue) << c.low << ".." << c.high << " at " << c.level;
    }
}

} // namespace
