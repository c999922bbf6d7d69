#pragma once

#include "analysers/KOFFTInstrumentWrapperDelegate.h"
#include "platform/audio/AudioTypes.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace koru::test {

// Debian's interpreter, which has numpy; the one first on PATH may not.
inline constexpr const char* kPython = "/usr/bin/python3";

// Runs a python snippet with numpy and reads what it prints: one line of numbers per row,
// separated by blanks. Empty, with `skipReason` set, when python3 or numpy is missing; a snippet
// that fails is reported through `error`.
struct NumpyResult {
    std::vector<std::vector<double>> rows;
    QString skipReason;
    QString error;
};

inline NumpyResult runNumpy(const QString& script, const QStringList& arguments = {}) {
    NumpyResult result;
    QProcess probe;
    probe.start(QString::fromLatin1(kPython),
                {QStringLiteral("-c"), QStringLiteral("import numpy")});
    if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() != 0) {
        result.skipReason = QStringLiteral("%1 with numpy is not installed (scripts/setup-deps "
                                           "installs python3-numpy)")
                                .arg(QString::fromLatin1(kPython));
        return result;
    }
    QProcess python;
    python.start(QString::fromLatin1(kPython),
                 QStringList{QStringLiteral("-c"), script} + arguments);
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        result.error = QString::fromUtf8(python.readAllStandardError());
        return result;
    }
    const QByteArray out = python.readAllStandardOutput();
    for (const QByteArray& line : out.split('\n')) {
        std::vector<double> row;
        for (const QByteArray& field : line.simplified().split(' ')) {
            if (field.isEmpty())
                continue;
            double value = 0.0;
            const auto [end, ec] =
                std::from_chars(field.constData(), field.constData() + field.size(), value);
            if (ec != std::errc() || end != field.constData() + field.size()) {
                result.error =
                    QStringLiteral("unreadable number \"%1\"").arg(QString::fromLatin1(field));
                return result;
            }
            row.push_back(value);
        }
        if (!row.empty())
            result.rows.push_back(std::move(row));
    }
    return result;
}

// The samples as raw little-endian float32 in a temporary file numpy can read with fromfile.
inline bool writeSamples(QTemporaryFile& file, const std::vector<float>& samples) {
    if (!file.open())
        return false;
    const auto bytes = qint64(samples.size() * sizeof(float));
    const bool written = file.write(reinterpret_cast<const char*>(samples.data()), bytes) == bytes;
    file.flush();
    return written;
}

inline std::vector<float> sine(std::size_t frames, double cyclesPerSample, double amplitude) {
    std::vector<float> x(frames);
    for (std::size_t n = 0; n < frames; ++n)
        x[n] = float(amplitude * std::sin(2.0 * std::numbers::pi * cyclesPerSample * double(n)));
    return x;
}

// Uniform noise in [-amplitude, amplitude), the same for a seed on every run.
inline std::vector<float> noise(std::size_t frames, double amplitude, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<float> x(frames);
    for (float& sample : x)
        sample = float(uniform(generator));
    return x;
}

// One channel of engine-style buffers over a stretch of samples.
class OneChannelBlocks {
public:
    static constexpr std::uint32_t kFrames = 1024;

    explicit OneChannelBlocks(const std::vector<float>& samples) : mSamples(samples) {
        mList.mNumberBuffers = 1;
        mList.mBuffers = &mEntry;
        mEntry.mNumberChannels = 1;
    }
    std::size_t blockCount() const { return mSamples.size() / kFrames; }
    // The buffer list of block `index`.
    const AudioBufferList* block(std::size_t index) {
        mEntry.mData = const_cast<float*>(mSamples.data() + index * kFrames);
        mEntry.mDataByteSize = kFrames * sizeof(float);
        return &mList;
    }

private:
    const std::vector<float>& mSamples;
    AudioBuffer mEntry{};
    AudioBufferList mList;
};

// Records what a model tells its window.
class RecordingFFTDelegate : public KOFFTInstrumentWrapperDelegate {
public:
    double currentSampleRate() override { return sampleRate; }
    void wrapperDidChangeFFTSize(KOFFTInstrumentWrapperBase*, std::uint32_t size) override {
        sizes.push_back(size);
    }
    void wrapperDidChangeWindowType(KOFFTInstrumentWrapperBase*, std::uint32_t type) override {
        windowTypes.push_back(type);
    }
    void wrapperDidChangeColorAttributes(KOFFTInstrumentWrapperBase*) override { ++colorChanges; }
    void wrapperDidChangeDrawingAttributes(KOFFTInstrumentWrapperBase*) override {
        ++drawingChanges;
    }
    bool shouldPatchToNextConsecutiveChannel(KOFFTInstrumentWrapperBase*) override { return false; }

    double sampleRate = 48000.0;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint32_t> windowTypes;
    int colorChanges = 0;
    int drawingChanges = 0;
};

} // namespace koru::test
