#include "spl/KOSplInstrument.h"

#include "platform/fourcc/FourCC.h"
#include "zotools/ZOAudioInput.h"

#include <bit>
#include <cmath>
#include <limits>
#include <mutex>

using koru::platform::fourCC;

namespace {

bool isAcceptedSize(std::uint32_t size) {
    return std::has_single_bit(size) && size >= KOSpectrumAnalyzer::kMinimumFFTSize &&
           size <= KOSplInstrument::kMaximumSplFFTSize;
}

} // namespace

KOSplInstrument::KOSplInstrument(std::uint32_t initialSize, std::uint32_t speed,
                                 std::uint32_t weighting, double sampleRate)
    : KOSpectrumAnalyzer(isAcceptedSize(initialSize) ? initialSize : FFTSizeFor(speed, sampleRate),
                         fourCC("hann"), kMaximumSplFFTSize),
      mWeightingTable(std::make_unique<KOWeightingBuffer>(FFTSize(), weighting, sampleRate)),
      mSampleRate(sampleRate) {
    mWeighting = mWeightingTable->Weighting();
    SetSquaredMagnitudes(true);
    SetSpeed(speed);
}

KOSplInstrument::~KOSplInstrument() {
    // Leave the engine before anything of ours goes, so no Process runs into a half-destroyed
    // instrument; with the host forgotten the analyser has nothing left to remove.
    if (ZOAudioInput* host = Host()) {
        host->RemoveClient(this);
        ZOInputClient::SetHost(nullptr);
    }
}

std::uint32_t KOSplInstrument::FFTSizeFor(std::uint32_t speed, double sampleRate) {
    const std::uint32_t base = speed == fourCC("slow") ? 65536 : 8192;
    if (sampleRate <= 50000.0)
        return base;
    if (sampleRate <= 100000.0)
        return base * 2;
    return base * 4;
}

void KOSplInstrument::SetHost(ZOAudioInput* host) {
    KOSpectrumAnalyzer::SetHost(host);
    // The engine calls this after every reconfiguration, a rate change included; most of them
    // change channels only, and then there is nothing to rebuild.
    const double rate = HostSampleRate();
    if (rate == SampleRate() && FFTSizeFor(Speed(), rate) == FFTSize())
        return;
    SampleRateChanged(rate);
}

void KOSplInstrument::SetSpeed(std::uint32_t speed) {
    const double rate = HostSampleRate();
    SetFFTSize(FFTSizeFor(speed, rate));
    Configure(speed, rate);
}

void KOSplInstrument::SampleRateChanged(double rate) {
    const std::uint32_t speed = Speed();
    if (FFTSizeFor(speed, rate) != FFTSize())
        SetFFTSize(FFTSizeFor(speed, rate));
    Configure(speed, rate);
}

// Builds the table for the size the analyser now has and swaps it in. Building happens outside
// the mutex, so a reader is not held up by a long table; the audio thread never uses it.
void KOSplInstrument::Configure(std::uint32_t speed, double rate) {
    std::uint32_t weighting = 0;
    {
        const std::lock_guard lock(InstrumentMutex());
        weighting = mWeighting;
    }
    auto table = std::make_unique<KOWeightingBuffer>(FFTSize(), weighting, rate);
    {
        const std::lock_guard lock(InstrumentMutex());
        // A weighting chosen while the table was being built still applies.
        if (mWeighting != table->Weighting())
            table->SetWeighting(mWeighting);
        std::swap(mWeightingTable, table);
        mSampleRate.store(rate, std::memory_order_relaxed);
        mSpeed.store(speed, std::memory_order_relaxed);
    }
}

void KOSplInstrument::SetWeighting(std::uint32_t type) {
    const std::lock_guard lock(InstrumentMutex());
    mWeightingTable->SetWeighting(type);
    mWeighting = mWeightingTable->Weighting();
}

std::uint32_t KOSplInstrument::Weighting() {
    const std::lock_guard lock(InstrumentMutex());
    return mWeighting;
}

float KOSplInstrument::GetLevel() {
    if (!HasNewData())
        return mLevel.load(std::memory_order_relaxed);
    const std::lock_guard lock(InstrumentMutex());
    // Another caller may have taken this spectrum while we waited for the mutex, or a size change
    // left nothing to take.
    if (!TakeNewestSpectrum()) {
        SettleNewData();
        return mLevel.load(std::memory_order_relaxed);
    }
    const KOFloatBuffer& spectrum = NewestSpectrum();
    const KOWeightingBuffer& table = *mWeightingTable;
    // A spectrum of a new size that comes before its table is passed over.
    if (table.Length() != spectrum.Length()) {
        SettleNewData();
        return mLevel.load(std::memory_order_relaxed);
    }

    // Σ P·W without touching the spectrum, in four running sums so the loop vectorises.
    const std::uint32_t half = spectrum.Length() / 2;
    const float* p = spectrum.Data();
    const float* w = table.Data();
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::uint32_t i = 0; i < half; i += 4)
        for (std::uint32_t k = 0; k < 4; ++k)
            sums[k] += double(p[i + k]) * double(w[i + k]);
    const double weighted = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    // The spectrum holds |X|²; the power scale 2/N and the mean over N/2 bins come in here.
    const double n = double(spectrum.Length());
    const double meanPower = weighted * (2.0 / n) / (n / 2.0);
    const float level = meanPower > 0.0 ? float(10.0 * std::log10(meanPower))
                                        : -std::numeric_limits<float>::infinity();
    // The level goes out before the flag drops, so a caller taking the fast path meanwhile
    // never answers the previous one.
    mLevel.store(level, std::memory_order_relaxed);
    SettleNewData();
    return level;
}
