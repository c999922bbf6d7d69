#include "engine/KOTransferAnalyzer.h"

#include "SpectrumTestSupport.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "platform/fourcc/FourCC.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kFrames = 1024;

// Source and response as the engine hands them: two channels, 1024 frames a buffer.
class TwoChannelBlocks {
public:
    TwoChannelBlocks(const std::vector<float>& source, const std::vector<float>& response)
        : mSource(source), mResponse(response) {
        mList.mNumberBuffers = 2;
        mList.mBuffers = mEntries;
        for (AudioBuffer& entry : mEntries)
            entry.mNumberChannels = 1;
    }
    std::size_t blockCount() const { return std::min(mSource.size(), mResponse.size()) / kFrames; }
    const AudioBufferList* block(std::size_t index) {
        mEntries[0].mData = const_cast<float*>(mSource.data() + index * kFrames);
        mEntries[1].mData = const_cast<float*>(mResponse.data() + index * kFrames);
        mEntries[0].mDataByteSize = mEntries[1].mDataByteSize = kFrames * sizeof(float);
        return &mList;
    }
    void feed(KOTransferAnalyzer& analyzer, std::size_t from = 0) {
        for (std::size_t i = from; i < blockCount(); ++i)
            analyzer.Process(block(i), kFrames);
    }

private:
    const std::vector<float>& mSource;
    const std::vector<float>& mResponse;
    AudioBuffer mEntries[2]{};
    AudioBufferList mList;
};

// y = filter(x) moved `delay` samples later (zeros before), the filter a short FIR plus a pole.
std::vector<float> filteredAndDelayed(const std::vector<float>& x, std::int64_t delay) {
    std::vector<float> y(x.size(), 0.0f);
    double previous = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double x0 = x[n];
        const double x1 = n >= 1 ? x[n - 1] : 0.0;
        const double x2 = n >= 2 ? x[n - 2] : 0.0;
        const double out = 0.6 * x0 + 0.3 * x1 - 0.2 * x2 + 0.4 * previous;
        previous = out;
        if (n + std::size_t(delay) < y.size())
            y[n + std::size_t(delay)] = float(out);
    }
    return y;
}

// Per bin 1 .. N/2-1: scipy's (or, for λ < 1, a float64 loop's) |H|², arg H and coherence for
// source frames at k·hop and response frames at delay + k·hop, then the filter's own |H|² and
// arg H from freqz.
const char* kReferenceScript = R"PY(
import sys
import numpy as np
from scipy import signal
x = np.fromfile(sys.argv[1], dtype='<f4').astype(np.float64)
y = np.fromfile(sys.argv[2], dtype='<f4').astype(np.float64)
N = int(sys.argv[3]); D = int(sys.argv[4]); lam = float(sys.argv[5]); K = int(sys.argv[6])
hop = N // 4
L = (K - 1) * hop + N
xs = x[:L]; ys = y[D:D + L]
if lam == 1.0:
    kw = dict(window='hann', nperseg=N, noverlap=3 * N // 4, detrend=False)
    _, Pxy = signal.csd(xs, ys, **kw)
    _, Pxx = signal.welch(xs, **kw)
    _, C = signal.coherence(xs, ys, **kw)
else:
    w = signal.get_window('hann', N)
    Pxy = 0; Pxx = 0; Pyy = 0
    for j in range(K):
        A = np.fft.rfft(w * xs[j * hop:j * hop + N]); B = np.fft.rfft(w * ys[j * hop:j * hop + N])
        Pxy = Pxy * lam + np.conj(A) * B
        Pxx = Pxx * lam + np.abs(A) ** 2
        Pyy = Pyy * lam + np.abs(B) ** 2
    C = np.abs(Pxy) ** 2 / (Pxx * Pyy)
H = Pxy / Pxx
_, F = signal.freqz([0.6, 0.3, -0.2], [1.0, -0.4], worN=N // 2, whole=False)
k = np.arange(1, N // 2)
out = np.column_stack([k, np.abs(H[k]) ** 2, np.angle(H[k]), C[k], np.abs(F[k]) ** 2, np.angle(F[k])])
np.savetxt(sys.stdout, out, fmt='%.9g')
)PY";

double wrapped(double phase) {
    return std::remainder(phase, 2.0 * std::numbers::pi);
}

struct ReferenceCase {
    const char* name;
    std::uint32_t fftSize;
    std::int64_t signalDelay;  // how much later the response carries the source
    std::int64_t compensation; // the analyser's delay
    float rate;                // averaging rate r
    int frames;                // frame pairs averaged
    bool compareWithFilter;    // the delay is compensated: H is the filter itself
};

class TransferAgainstScipy : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(TransferAgainstScipy, MagnitudePhaseAndCoherenceMatch) {
    const ReferenceCase& c = GetParam();
    const std::uint32_t hop = c.fftSize / 4;
    // Exactly `frames` response frames become complete, never one more.
    const std::int64_t needed = c.compensation + std::int64_t(c.frames - 1) * hop + c.fftSize;
    const std::size_t total = std::size_t((needed + kFrames - 1) / kFrames * kFrames);
    const auto x = koru::test::noise(total + std::size_t(c.signalDelay), 0.5, 7);
    const auto y = filteredAndDelayed(x, c.signalDelay);

    QTemporaryFile xFile, yFile;
    ASSERT_TRUE(koru::test::writeSamples(xFile, x));
    ASSERT_TRUE(koru::test::writeSamples(yFile, y));
    const auto reference = koru::test::runNumpy(
        QString::fromLatin1(kReferenceScript),
        {xFile.fileName(), yFile.fileName(), QString::number(c.fftSize),
         QString::number(c.compensation),
         QString::number(double(std::pow(c.rate, c.fftSize / 16384.0f)), 'g', 9),
         QString::number(c.frames)});
    if (!reference.skipReason.isEmpty())
        GTEST_SKIP() << reference.skipReason.toStdString();
    ASSERT_TRUE(reference.error.isEmpty()) << reference.error.toStdString();
    ASSERT_EQ(reference.rows.size(), c.fftSize / 2 - 1);

    KOTransferAnalyzer analyzer(c.fftSize, fourCC("hann"));
    analyzer.SetNumberOfChannels(2);
    analyzer.SetAveragingRate(c.rate);
    analyzer.SetDelay(c.compensation);
    const std::vector<float> source(x.begin(), x.begin() + std::ptrdiff_t(total));
    const std::vector<float> response(y.begin(), y.begin() + std::ptrdiff_t(total));
    TwoChannelBlocks(source, response).feed(analyzer);
    ASSERT_EQ(analyzer.Steps(), std::uint64_t(c.frames));

    KOTransferResults results(c.fftSize);
    analyzer.CopyResults(results, true);
    const float* magnitude = results.magnitude()->Data();
    const float* phase = results.phase()->Data();
    const float* coherence = results.coherence()->Data();
    int compared = 0;
    for (const auto& row : reference.rows) {
        const auto k = std::size_t(row[0]);
        SCOPED_TRACE(testing::Message() << "bin " << k);
        ASSERT_TRUE(std::isfinite(magnitude[k]) && std::isfinite(phase[k]) &&
                    std::isfinite(coherence[k]));
        ASSERT_GE(coherence[k], 0.0f);
        ASSERT_LE(coherence[k], 1.0f);
        // Coherence everywhere within 1e-4; magnitude and phase where the estimate means
        // something.
        ASSERT_NEAR(coherence[k], std::min(row[3], 1.0), 1e-4);
        if (row[3] <= 0.9)
            continue;
        ++compared;
        ASSERT_NEAR(magnitude[k] / row[1], 1.0, 1e-3);
        ASSERT_NEAR(wrapped(phase[k] - row[2]), 0.0, 1e-3);
        if (c.compareWithFilter && row[3] > 0.99) {
            // The filter itself: within 0.1 dB and 0.02 rad.
            ASSERT_NEAR(10.0 * std::log10(magnitude[k] / row[4]), 0.0, 0.1);
            ASSERT_NEAR(wrapped(phase[k] - row[5]), 0.0, 0.02);
        }
    }
    // Most bins are coherent in every case; a case that compares nothing proves nothing.
    EXPECT_GT(compared, int(c.fftSize / 2) * 8 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    NoiseThroughAFilter, TransferAgainstScipy,
    ::testing::Values(
        ReferenceCase{"Aligned", 8192, 0, 0, 1.0f, 12, true},
        // A small delay left uncompensated: the coherence drops a little, H turns.
        ReferenceCase{"Uncompensated", 8192, 200, 0, 1.0f, 12, false},
        // Delays longer than the hop (2048) and than the frame: strictly paired frames see the
        // filter, latest-frame pairing would not.
        ReferenceCase{"CompensatedBeyondTheHop", 8192, 3000, 3000, 1.0f, 12, true},
        ReferenceCase{"CompensatedBeyondTheFrame", 16384, 40000, 40000, 1.0f, 8, true},
        ReferenceCase{"LargestDelayAtLargestSize", 65536, 131072, 131072, 1.0f, 5, true},
        ReferenceCase{"Decaying", 16384, 500, 500, 0.8f, 10, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- bounds and special cases ----

TEST(KOTransferAnalyzer, ClampsDelayRateAndRefusesOddSizes) {
    KOTransferAnalyzer analyzer(65536, fourCC("hann"));
    struct Delay {
        std::int64_t asked;
        std::int64_t stored;
    };
    for (const Delay& d :
         {Delay{-5, 0}, Delay{200000, 131072}, Delay{131072, 131072}, Delay{4800, 4800}}) {
        analyzer.SetDelay(d.asked);
        EXPECT_EQ(analyzer.Delay(), d.stored) << d.asked;
    }
    analyzer.SetAveragingRate(0.8f);
    EXPECT_NEAR(analyzer.AveragingFactor(), 0.4096f, 1e-6f);
    analyzer.SetAveragingRate(1.5f);
    EXPECT_EQ(analyzer.AveragingRate(), 1.0f) << "a decay above 1 would let the sums grow";
    analyzer.SetAveragingRate(std::nanf(""));
    EXPECT_GT(analyzer.AveragingRate(), 0.0f);
    for (std::uint32_t size : {4096u, 12000u, 131072u, 0u}) {
        EXPECT_FALSE(analyzer.SetFFTSize(size)) << size;
        EXPECT_EQ(analyzer.FFTSize(), 65536u);
    }
    EXPECT_THROW(KOTransferAnalyzer(1024, fourCC("hann")), std::invalid_argument);
}

// A clean gain: rounding lifts many bins just above coherence 1, which must read 1, not 0.
// A silent response (or source) reads H = 0 and coherence 0 in every bin, never NaN.
TEST(KOTransferAnalyzer, CoherenceStaysWithinZeroAndOneAndSilenceIsZero) {
    const auto x = koru::test::noise(8192 * 4, 0.5, 3);
    struct Case {
        const char* name;
        std::vector<float> source;
        std::vector<float> response;
        float lowestCoherence;
        float highestCoherence;
    };
    std::vector<float> half(x.size()), silence(x.size(), 0.0f);
    for (std::size_t i = 0; i < x.size(); ++i)
        half[i] = 0.5f * x[i];
    const Case cases[] = {{"gain", x, half, 0.9999f, 1.0f},
                          {"silent response", x, silence, 0.0f, 0.0f},
                          {"silent source", silence, x, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOTransferAnalyzer analyzer(8192, fourCC("hann"));
        analyzer.SetNumberOfChannels(2);
        TwoChannelBlocks(c.source, c.response).feed(analyzer);
        ASSERT_GT(analyzer.Steps(), 0u);
        KOTransferResults results(8192);
        analyzer.CopyResults(results, true);
        for (std::uint32_t k = 1; k < 4096; ++k) {
            const float coherence = results.coherence()->Data()[k];
            ASSERT_TRUE(std::isfinite(results.magnitude()->Data()[k])) << k;
            ASSERT_TRUE(std::isfinite(results.phase()->Data()[k])) << k;
            ASSERT_GE(coherence, c.lowestCoherence) << k;
            ASSERT_LE(coherence, c.highestCoherence) << k;
        }
        if (c.lowestCoherence > 0.0f)
            EXPECT_NEAR(results.magnitude()->Data()[100], 0.25f, 1e-4f);
        else
            EXPECT_EQ(results.magnitude()->Data()[100], 0.0f);
        // In decibels silence lands on a finite floor.
        results.MagnitudeToDecibels();
        for (std::uint32_t k = 0; k < 8192; ++k)
            ASSERT_TRUE(std::isfinite(results.magnitude()->Data()[k])) << k;
    }
}

// Pause, reset, restart and channels the buffer list does not have.
TEST(KOTransferAnalyzer, PauseResetAndMissingChannels) {
    const auto x = koru::test::noise(8192 * 6, 0.5, 5);
    TwoChannelBlocks blocks(x, x);
    KOTransferAnalyzer analyzer(8192, fourCC("hann"));
    analyzer.SetNumberOfChannels(2);
    blocks.feed(analyzer);
    const std::uint64_t steps = analyzer.Steps();
    ASSERT_GT(steps, 10u);

    // Paused: nothing is stored, and a reset asked for now still happens afterwards.
    analyzer.SetAnalyzerPaused(true);
    analyzer.ResetSpectra();
    blocks.feed(analyzer);
    EXPECT_EQ(analyzer.Steps(), steps);
    analyzer.SetAnalyzerPaused(false);
    for (std::size_t i = 0; i < 4; ++i)
        analyzer.Process(blocks.block(i), kFrames);
    EXPECT_LT(analyzer.Steps(), 4u) << "the reset asked for while paused was lost";

    // A new delay restarts the clocks: the first step needs delay + N samples again.
    analyzer.SetDelay(4096);
    for (std::size_t i = 0; i < 11; ++i)
        analyzer.Process(blocks.block(i), kFrames);
    EXPECT_EQ(analyzer.Steps(), 0u);
    analyzer.Process(blocks.block(11), kFrames);
    EXPECT_EQ(analyzer.Steps(), 1u);

    // A response channel the engine's list does not carry: nothing analysed, nothing read.
    analyzer.SetNumberOfChannels(4);
    analyzer.SetResponseChannel(3);
    const std::uint64_t analysed = analyzer.FramesAnalysed();
    blocks.feed(analyzer);
    EXPECT_EQ(analyzer.FramesAnalysed(), analysed);
    EXPECT_EQ(analyzer.Steps(), 0u);
    KOTransferResults results(8192);
    analyzer.CopyResults(results, true);
    EXPECT_EQ(results.coherence()->Data()[100], 0.0f);
}

// Results of another size (a model that has not caught up with a size change) get zeros, not
// bins of the wrong frequency.
TEST(KOTransferAnalyzer, ResultsOfAnotherSizeAreCleared) {
    const auto x = koru::test::noise(16384 * 3, 0.5, 9);
    KOTransferAnalyzer analyzer(16384, fourCC("hann"));
    analyzer.SetNumberOfChannels(2);
    TwoChannelBlocks(x, x).feed(analyzer);
    KOTransferResults other(8192);
    other.magnitude()->Fill(3.0f);
    analyzer.CopyResults(other, true);
    for (std::uint32_t k = 0; k < 8192; ++k)
        ASSERT_EQ(other.magnitude()->Data()[k], 0.0f) << k;
    KOTransferResults same(16384);
    analyzer.CopyResults(same, true);
    EXPECT_NEAR(same.magnitude()->Data()[200], 1.0f, 1e-4f);
    EXPECT_FALSE(same.magnitude()->IsDecibel());
    EXPECT_TRUE(same.phase()->IsDecibel());
    EXPECT_TRUE(same.coherence()->IsDecibel());
}

} // namespace
