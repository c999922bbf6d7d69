#include "analysers/ui/SpectralHistoryImage.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using koru::analysers::SpectralHistoryColourMap;
using koru::analysers::SpectralHistoryImage;
using koru::analysers::SpectralHistoryRowSettings;
using koru::platform::fourCC;

const SpectralHistoryColourMap kColours(-80.0, -10.0);

SpectralHistoryRowSettings settings() {
    SpectralHistoryRowSettings s;
    s.nyquist = 24000.0;
    s.lowFrequency = 50.0;
    s.highFrequency = 20000.0;
    s.accumulationMode = fourCC("whit");
    s.octaveMode = 12;
    return s;
}

// A flat spectrum reads the same level at every point, whatever the reduction.
std::vector<float> flatSpectrum(double decibels) {
    return std::vector<float>(512, float(std::pow(10.0, decibels / 20.0)));
}

// Pixels of a flat row at a level, to a byte: the reduction may round the level by an ulp.
bool rowIs(const SpectralHistoryImage& image, std::uint32_t row, double decibels) {
    const std::uint32_t expected = kColours.pixel(float(decibels));
    for (std::uint32_t column = 0; column < image.numBins(); ++column) {
        const std::uint32_t pixel = image.pixel(row, column);
        const auto near = [](int a, int b) { return std::abs(a - b) <= 1; };
        if (pixel >> 24 != 0xFFu ||
            !near(SpectralHistoryColourMap::red(pixel), SpectralHistoryColourMap::red(expected)) ||
            !near(SpectralHistoryColourMap::green(pixel),
                  SpectralHistoryColourMap::green(expected)) ||
            !near(SpectralHistoryColourMap::blue(pixel),
                  SpectralHistoryColourMap::blue(expected))) {
            return false;
        }
    }
    return true;
}

bool rowIsEmpty(const SpectralHistoryImage& image, std::uint32_t row) {
    for (std::uint32_t column = 0; column < image.numBins(); ++column) {
        if (image.pixel(row, column) != 0) {
            return false;
        }
    }
    return true;
}

TEST(SpectralHistoryImage, BuffersFollowTheViewSize) {
    struct Size {
        double width, height;
    };
    struct Case {
        const char* what;
        Size first, second;
        std::uint32_t bins, slices;
        bool kept;
    };
    const Case cases[] = {
        {"wider than a row: 800 points", {1200, 600}, {1200, 600}, 800, 750, true},
        {"taller, within the kept rows", {1200, 600}, {1200, 700}, 800, 750, true},
        {"lower", {1200, 600}, {1200, 200}, 800, 750, true},
        {"taller than the kept rows", {1200, 600}, {1200, 800}, 800, 950, false},
        {"narrower", {1200, 600}, {700, 600}, 700, 750, false},
        {"fractions truncated", {1200, 600}, {300.7, 99.9}, 300, 249, false},
        {"rows capped at 1000 shown", {640, 480}, {640, 4000}, 640, 1150, false},
        {"empty", {1200, 600}, {0, 600}, 0, 0, false},
        {"flat: no width to remake for", {1200, 600}, {1200, 0}, 800, 750, true},
        {"out of nothing", {0, 0}, {400, 300}, 400, 450, false},
    };
    for (const Case& c : cases) {
        SpectralHistoryImage image;
        image.initializeBuffers(c.first.width, c.first.height);
        const void* before = image.pixelData();
        ASSERT_TRUE(image.processInput(flatSpectrum(-30.0), settings(), kColours) ||
                    before == nullptr)
            << c.what;
        const bool remade = image.initializeBuffers(c.second.width, c.second.height);
        EXPECT_EQ(image.numBins(), c.bins) << c.what;
        EXPECT_EQ(image.numSlices(), c.slices) << c.what;
        EXPECT_EQ(image.bufferSize(), std::uint64_t(c.bins) * c.slices) << c.what;
        EXPECT_EQ(remade, !c.kept) << c.what;
        if (c.kept) {
            EXPECT_EQ(image.pixelData(), before) << c.what;
            EXPECT_TRUE(rowIs(image, c.slices - 1, -30.0)) << c.what << ": history kept";
        } else if (c.slices != 0) {
            EXPECT_TRUE(rowIsEmpty(image, c.slices - 1)) << c.what << ": history dropped";
            EXPECT_EQ(image.writePosition(), image.bufferSize()) << c.what;
        }
    }
}

TEST(SpectralHistoryImage, RowsLandAtTheBottomAndScrollUp) {
    SpectralHistoryImage image;
    image.initializeBuffers(3.0, 1.0);
    const std::uint32_t slices = image.numSlices();
    ASSERT_EQ(slices, 151u);
    // a distinct level per row, 0.4 dB apart: a few bytes of colour between neighbours
    const auto level = [](std::uint32_t row) { return -79.0 + 0.4 * row; };

    ASSERT_TRUE(image.processInput(flatSpectrum(level(0)), settings(), kColours));
    EXPECT_TRUE(rowIs(image, slices - 1, level(0)));
    EXPECT_TRUE(rowIsEmpty(image, slices - 2));
    EXPECT_EQ(image.writePosition(), image.bufferSize());

    const std::uint32_t rows = slices + 9;
    for (std::uint32_t row = 1; row < rows; ++row) {
        ASSERT_TRUE(image.processInput(flatSpectrum(level(row)), settings(), kColours));
    }
    // oldest first: the first nine rows have dropped out at the top
    for (std::uint32_t r = 0; r < slices; ++r) {
        ASSERT_TRUE(rowIs(image, r, level(rows - slices + r))) << "row " << r;
    }
}

TEST(SpectralHistoryImage, ImageWrapsTheRowsWithoutCopying) {
    SpectralHistoryImage image;
    EXPECT_FALSE(image.processInput(flatSpectrum(-30.0), settings(), kColours));
    EXPECT_FALSE(image.createdData());

    image.initializeBuffers(20.0, 10.0);
    EXPECT_FALSE(image.createImage()) << "no row yet";
    EXPECT_FALSE(image.drawImage([](const QImage&) {}));

    ASSERT_TRUE(image.processInput(flatSpectrum(-62.5), settings(), kColours));
    EXPECT_TRUE(image.createdData());
    ASSERT_TRUE(image.createImage());
    EXPECT_FALSE(image.createdData());
    EXPECT_FALSE(image.createImage()) << "nothing new since the last image";

    const void* pixels = image.pixelData();
    const bool drawn = image.drawImage([pixels](const QImage& bitmap) {
        EXPECT_EQ(bitmap.width(), 20);
        EXPECT_EQ(bitmap.height(), 160);
        EXPECT_EQ(static_cast<const void*>(bitmap.constBits()), pixels);
        // Qt reads the pixels as this colour: half blue, opaque
        EXPECT_EQ(QColor::fromRgb(bitmap.pixel(7, 159)), QColor(0, 0, 127));
        EXPECT_EQ(QColor::fromRgb(bitmap.pixel(7, 0)), QColor(0, 0, 0));
    });
    EXPECT_TRUE(drawn);

    // the image never outlives the pixels it wraps
    image.initializeBuffers(10.0, 10.0);
    EXPECT_FALSE(image.drawImage([](const QImage&) {}));
}

} // namespace
