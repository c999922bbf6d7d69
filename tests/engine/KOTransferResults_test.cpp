#include "engine/KOBufferException.h"
#include "engine/KOComplexBuffer.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOMathException.h"
#include "engine/KOTransferResults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<float> valuesOf(const KOFloatBuffer* buffer) {
    if (!buffer)
        return {};
    return std::vector<float>(buffer->Data(), buffer->Data() + buffer->Length());
}

KOFloatBuffer bufferOf(const std::vector<float>& values, bool decibel = false) {
    return KOFloatBuffer(values.data(), std::uint32_t(values.size()), decibel);
}

// Magnitude, phase and coherence with distinct values, so a buffer crossed with another shows.
KOTransferResults distinctResults() {
    const KOFloatBuffer magnitude = bufferOf({1, 2, 3, 4});
    const KOFloatBuffer phase = bufferOf({-1, -2, -3, -4});
    const KOFloatBuffer coherence = bufferOf({0.1f, 0.2f, 0.3f, 0.4f});
    return KOTransferResults(&magnitude, &phase, &coherence);
}

struct Snapshot {
    std::vector<float> magnitude, phase, coherence;
    bool magnitudeDecibel, phaseDecibel, coherenceDecibel;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshotOf(const KOTransferResults& results) {
    return {valuesOf(results.magnitude()), valuesOf(results.phase()),
            valuesOf(results.coherence()), results.magnitude()->IsDecibel(),
            results.phase()->IsDecibel(),  results.coherence()->IsDecibel()};
}

TEST(KOTransferResultsTest, LengthConstructorGivesZerosWithPhaseAndCoherenceFlagged) {
    const KOTransferResults results(8);
    ASSERT_TRUE(results.HasBuffers());
    EXPECT_EQ(snapshotOf(results), (Snapshot{std::vector<float>(8), std::vector<float>(8),
                                             std::vector<float>(8), false, true, true}));
    EXPECT_THROW(KOTransferResults(0), KOBufferException);
}

TEST(KOTransferResultsTest, BufferConstructorCopiesDeeplyAndFlagsPhaseAndCoherence) {
    KOFloatBuffer magnitude = bufferOf({1, 2}, true);
    KOFloatBuffer phase = bufferOf({3, 4});
    KOFloatBuffer coherence = bufferOf({0.5f, 0.25f});
    const KOTransferResults results(&magnitude, &phase, &coherence);
    magnitude.Fill(9);
    phase.Fill(9);
    coherence.Fill(9);
    EXPECT_EQ(snapshotOf(results), (Snapshot{{1, 2}, {3, 4}, {0.5f, 0.25f}, true, true, true}));
    EXPECT_NE(results.magnitude(), &magnitude);
}

TEST(KOTransferResultsTest, AnyMissingBufferLeavesTheResultsWithoutBuffers) {
    const KOFloatBuffer buffer = bufferOf({1, 2});
    const struct {
        const KOFloatBuffer *magnitude, *phase, *coherence;
    } cases[] = {
        {nullptr, &buffer, &buffer}, {&buffer, nullptr, &buffer}, {&buffer, &buffer, nullptr}};
    for (const auto& c : cases) {
        KOTransferResults results(c.magnitude, c.phase, c.coherence);
        EXPECT_FALSE(results.HasBuffers());
        EXPECT_EQ(results.magnitude(), nullptr);
        EXPECT_EQ(results.phase(), nullptr);
        EXPECT_EQ(results.coherence(), nullptr);
        // Every operation copes with the empty state.
        KOComplexBuffer transfer(2);
        EXPECT_NO_THROW(results.SetFromTransfer(transfer, true));
        EXPECT_NO_THROW(results.Stretch(44100, 48000));
        EXPECT_NO_THROW(results.ResizeTo(4));
        EXPECT_FALSE(results.HasBuffers());
    }
}

TEST(KOTransferResultsTest, CopiesAreByValue) {
    const KOTransferResults original = distinctResults();
    const Snapshot expected = snapshotOf(original);

    KOTransferResults copied(original);
    KOTransferResults assigned(16);
    assigned = original;
    for (KOTransferResults* copy : {&copied, &assigned}) {
        EXPECT_EQ(snapshotOf(*copy), expected);
        EXPECT_NE(copy->magnitude(), original.magnitude());
        copy->magnitude()->Fill(7);
        copy->phase()->Fill(7);
        copy->coherence()->Fill(7);
    }
    EXPECT_EQ(snapshotOf(original), expected);

    KOTransferResults& self = assigned;
    const KOFloatBuffer* storage = assigned.magnitude();
    assigned = self;
    EXPECT_EQ(assigned.magnitude(), storage);
    EXPECT_EQ(valuesOf(assigned.magnitude()), std::vector<float>(4, 7.0f));
}

TEST(KOTransferResultsTest, AssignmentCarriesTheEmptyStateBothWays) {
    const KOTransferResults empty(nullptr, nullptr, nullptr);
    KOTransferResults results = distinctResults();
    results = empty;
    EXPECT_FALSE(results.HasBuffers());
    results = distinctResults();
    ASSERT_TRUE(results.HasBuffers());
    EXPECT_EQ(snapshotOf(results), snapshotOf(distinctResults()));
}

TEST(KOTransferResultsTest, SetFromTransferWritesTheBinsOfH) {
    KOComplexBuffer transfer(2);
    transfer.Real().Data()[0] = 3;
    transfer.Imag().Data()[0] = 4;
    transfer.Real().Data()[1] = -1;
    transfer.Imag().Data()[1] = 0;

    KOTransferResults results = distinctResults();
    results.magnitude()->SetDecibel(true);
    results.SetFromTransfer(transfer, false);
    // Only the bins are written; the upper half and the phase keep their values.
    EXPECT_EQ(valuesOf(results.magnitude()), (std::vector<float>{25, 1, 3, 4}));
    EXPECT_FALSE(results.magnitude()->IsDecibel());
    EXPECT_EQ(valuesOf(results.phase()), (std::vector<float>{-1, -2, -3, -4}));

    results.SetFromTransfer(transfer, true);
    const std::vector<float> phase = valuesOf(results.phase());
    EXPECT_FLOAT_EQ(phase[0], std::atan2(4.0f, 3.0f));
    EXPECT_FLOAT_EQ(phase[1], std::atan2(0.0f, -1.0f));
    EXPECT_EQ(phase[2], -3);
    EXPECT_TRUE(results.phase()->IsDecibel());
    EXPECT_EQ(valuesOf(results.coherence()), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
}

TEST(KOTransferResultsTest, SetFromTransferRefusesAnHLongerThanTheResults) {
    KOComplexBuffer transfer(8);
    transfer.Real().Fill(1);
    for (const bool withPhase : {false, true}) {
        KOTransferResults results = distinctResults();
        EXPECT_THROW(results.SetFromTransfer(transfer, withPhase), KOMathException);
        EXPECT_EQ(snapshotOf(results), snapshotOf(distinctResults()));
    }
}

TEST(KOTransferResultsTest, StretchAndResizeTreatAllThreeBuffersAlike) {
    const std::vector<float> ramp{0, 1, 2, 3};
    auto expectedAfter = [&](auto operation) {
        KOFloatBuffer single = bufferOf(ramp);
        operation(single);
        return valuesOf(&single);
    };
    KOFloatBuffer buffer = bufferOf(ramp);
    KOTransferResults stretched(&buffer, &buffer, &buffer);
    stretched.Stretch(2.0, 1.0);
    const auto stretchedRamp = expectedAfter([](KOFloatBuffer& b) { b.Stretch(2.0, 1.0); });
    EXPECT_EQ(valuesOf(stretched.magnitude()), stretchedRamp);
    EXPECT_EQ(valuesOf(stretched.phase()), stretchedRamp);
    EXPECT_EQ(valuesOf(stretched.coherence()), stretchedRamp);

    KOTransferResults resized(&buffer, &buffer, &buffer);
    resized.ResizeTo(6);
    const auto resizedRamp = expectedAfter([](KOFloatBuffer& b) { b.ResizeTo(6); });
    EXPECT_EQ(valuesOf(resized.magnitude()), resizedRamp);
    EXPECT_EQ(valuesOf(resized.phase()), resizedRamp);
    EXPECT_EQ(valuesOf(resized.coherence()), resizedRamp);

    EXPECT_THROW(resized.ResizeTo(0), KOBufferException);
    EXPECT_EQ(resized.magnitude()->Length(), 6u);
    EXPECT_EQ(resized.phase()->Length(), 6u);
    EXPECT_EQ(resized.coherence()->Length(), 6u);
}

} // namespace

// this - other in decibels: each magnitude converted once (the other's in place), phases
// subtracted without re-wrapping, coherence averaged; silence stays finite; self is a no-op.
TEST(KOTransferResultsTest, DifferenceSubtractsDecibelsOnce) {
    struct Case {
        const char* name;
        float mine;
        bool mineInDecibels;
        float theirs;
        bool theirsInDecibels;
        float expected;
    };
    const Case cases[] = {{"both linear", 0.25f, false, 1.0f, false, -6.0206f},
                          {"mine already dB", -3.0f, true, 0.5f, false, 0.0103f},
                          {"both dB", 6.0f, true, 1.0f, true, 5.0f},
                          {"silent minuend", 0.0f, false, 1.0f, false, -144.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOTransferResults mine(4), theirs(4);
        mine.magnitude()->Fill(c.mine);
        mine.magnitude()->SetDecibel(c.mineInDecibels);
        theirs.magnitude()->Fill(c.theirs);
        theirs.magnitude()->SetDecibel(c.theirsInDecibels);
        mine.phase()->Fill(3.0f);
        theirs.phase()->Fill(-3.0f);
        mine.coherence()->Fill(1.0f);
        theirs.coherence()->Fill(0.5f);
        mine.difference(theirs);
        EXPECT_NEAR(mine.magnitude()->Data()[2], c.expected, 1e-3f);
        EXPECT_TRUE(mine.magnitude()->IsDecibel());
        EXPECT_TRUE(theirs.magnitude()->IsDecibel());
        EXPECT_FLOAT_EQ(mine.phase()->Data()[2], 6.0f);
        EXPECT_FLOAT_EQ(mine.coherence()->Data()[2], 0.75f);
    }
    KOTransferResults same(4);
    same.magnitude()->Fill(0.5f);
    same.difference(same);
    EXPECT_FLOAT_EQ(same.magnitude()->Data()[1], 0.5f);
    EXPECT_FALSE(same.magnitude()->IsDecibel());
}
