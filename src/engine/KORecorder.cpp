#include "engine/KORecorder.h"

#include "platform/audiofile/AudioFormatServices.h"
#include "platform/audiofile/FFmpegFileSink.h"
#include "platform/audiofile/ResamplingFileSink.h"
#include "platform/fourcc/FourCC.h"
#include "zotools/CAException.h"
#include "zotools/ZOInputClientException.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace {

constexpr std::uint32_t kFormatFlagBigEndian = 1u << 1;
constexpr OSStatus kRecorderCreationFailed = 2;

std::uint32_t ringFramesFor(double rate, double seconds) {
    const double frames = std::max(rate, 8000.0) * std::max(seconds, 0.0);
    return std::uint32_t(std::clamp(frames, 1024.0, double(1u << 26)));
}

} // namespace

KORecorder::KORecorder(const QString& path, std::uint32_t fileType,
                       const std::vector<std::int32_t>& map, std::uint32_t bitRate,
                       const ZOAudioStreamDescription& clientFormat,
                       const ZOAudioStreamDescription& fileFormat, double ringSeconds)
    : mPath(path), mMap(map), mPeaks(map.size()) {
    namespace services = koru::platform::AudioFormatServices;
    const double clientRate = clientFormat.sampleRate();
    const std::uint32_t channels = std::uint32_t(map.size());
    const std::uint32_t formatID = fileFormat.streamDescription().mFormatID;
    // PCM files are written at the device rate, never converted. A compressed file takes the
    // rate its format asks for (the device rate when it names none), or the nearest one its
    // encoder takes; the writer thread converts when that differs from the device rate.
    ZOAudioStreamDescription written = fileFormat;
    double fileRate = clientRate;
    if (!fileFormat.isPCM()) {
        const double requested =
            fileFormat.sampleRate() > 0.0 ? fileFormat.sampleRate() : clientRate;
        fileRate = services::encodeSampleRateFor(formatID, requested);
    }
    written.setSampleRate(fileRate);
    std::printf("\nTrying to create a Recorder:\n");
    std::printf("%s%s %s\n", " -> Source ",
                "AudioStreamBasicDescription:", clientFormat.name().toUtf8().constData());
    std::printf("%s%s %s\n", " -> File   ",
                "AudioStreamBasicDescription:", written.name().toUtf8().constData());
    std::printf("ok.\nCreating File...");
    std::unique_ptr<koru::platform::AudioFileSink> sink;
    try {
        if (channels == 0)
            throw std::runtime_error("no channels to record");
        if (fileFormat.isPCM()) {
            const AudioStreamBasicDescription& format = fileFormat.streamDescription();
            koru::platform::PcmFileSpec spec;
            spec.fileType = fileType;
            spec.bitDepth = format.mBitsPerChannel;
            spec.isFloat = (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
            spec.bigEndian = (format.mFormatFlags & kFormatFlagBigEndian) != 0;
            spec.channels = channels;
            spec.sampleRate = clientRate;
            sink = koru::platform::openPcmFileSink(path.toStdString(), spec);
        } else {
            const bool losslessCaf = fileType == koru::platform::fourCC("caff") &&
                                     formatID == koru::platform::fourCC("alac");
            if (fileType != koru::platform::fourCC("m4af") && !losslessCaf)
                throw std::runtime_error("compressed formats go into M4A files (or CAF, lossless)");
            if (!(fileRate > 0.0) || !(clientRate > 0.0))
                throw std::runtime_error("no sample rate for this format");
            // A bit rate the encoder does not offer is no error: it records at its default.
            std::printf("ok.\nSetting the converters encode bit rate to %u bps...", bitRate);
            const auto offered = services::applicableEncodeBitRates(formatID, channels, fileRate);
            const bool bitRateTaken =
                offered && std::any_of(offered->begin(), offered->end(), [&](const auto& r) {
                    return double(bitRate) >= r.minimum && double(bitRate) <= r.maximum;
                });
            std::printf(bitRateTaken || !offered ? "ok.\n" : "failed.\n");
            if (losslessCaf)
                sink = koru::platform::openLosslessCafSink(path.toStdString(), channels, fileRate);
            else
                sink = koru::platform::openCompressedFileSink(
                    path.toStdString(), formatID, channels, fileRate, bitRateTaken ? bitRate : 0);
            if (fileRate != clientRate) {
                std::printf("Trying to set the converter quality to the max...");
                sink = koru::platform::makeResamplingSink(std::move(sink), channels, clientRate,
                                                          fileRate);
                std::printf("ok.\n");
            }
        }
        std::printf("ok.\nSetting client data format...ok.\nSetting the converter channel map...");
        start(std::move(sink), clientRate, ringSeconds);
        std::printf("ok.\n");
    } catch (const CAException&) {
        std::printf("failed.\n");
        throw;
    } catch (const std::exception& e) {
        std::printf("failed. (%s)\n", e.what());
        throw CAException(kRecorderCreationFailed);
    }
    std::printf("Good news: Recorder creation was successful.\n");
}

KORecorder::KORecorder(std::unique_ptr<koru::platform::AudioFileSink> sink, const QString& path,
                       const std::vector<std::int32_t>& map, double clientRate, double ringSeconds)
    : mPath(path), mMap(map), mPeaks(map.size()) {
    start(std::move(sink), clientRate, ringSeconds);
}

void KORecorder::start(std::unique_ptr<koru::platform::AudioFileSink> sink, double clientRate,
                       double ringSeconds) {
    if (mMap.empty()) {
        throw CAException(kRecorderCreationFailed);
    }
    mRecordRate = clientRate;
    mWriter = std::make_unique<koru::platform::AsyncAudioFileWriter>(
        std::move(sink), std::uint32_t(mMap.size()), ringFramesFor(clientRate, ringSeconds));
    mWriteFailed.store(false, std::memory_order_release);
}

KORecorder::~KORecorder() {
    // No Process runs once the client is removed; only then is the file finished.
    DetachFromHost();
    CloseFile();
}

void KORecorder::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    if (mClosed.load(std::memory_order_acquire))
        return;
    const auto status = mWriter->writeAsync(buffers, mMap.data(), frames);
    using Status = koru::platform::AsyncAudioFileWriter::Status;
    if (status == Status::Closed)
        return; // closed by another thread between the check and the write
    if (status != Status::Ok) {
        // The writer thread writes what was queued and finishes the file on its own.
        mClosed.store(true, std::memory_order_release);
        mWriteFailed.store(true, std::memory_order_release);
        throw ZOInputClientException(std::uint64_t(std::uint32_t(kAudioHardwareUnspecifiedError)));
    }
    const std::uint32_t available = buffers ? buffers->mNumberBuffers : 0;
    for (std::size_t k = 0; k < mMap.size(); ++k) {
        float peak = 0.0f;
        const std::int32_t source = mMap[k];
        if (source >= 0 && std::uint32_t(source) < available) {
            const AudioBuffer& buffer = buffers->mBuffers[source];
            if (buffer.mData && buffer.mDataByteSize / sizeof(float) >= frames) {
                const float* in = static_cast<const float*>(buffer.mData);
                for (std::uint32_t i = 0; i < frames; ++i)
                    peak = std::max(peak, std::fabs(in[i]));
            }
        }
        mPeaks[k].store(peak, std::memory_order_relaxed);
    }
    mFramesWritten.fetch_add(frames, std::memory_order_relaxed);
}

void KORecorder::SetHost(ZOAudioInput* host) {
    koru::SafeModeInstrument::SetHost(host);
    if (host && mRecordRate > 0.0 && HostSampleRate() != mRecordRate)
        CloseFile();
}

void KORecorder::ChannelsChanged(std::uint32_t, std::uint32_t) {
    CloseFile();
}

bool KORecorder::CloseFile() {
    std::lock_guard lock(InstrumentMutex());
    mClosed.store(true, std::memory_order_release);
    if (mFileFinished || !mWriter)
        return !mWriteFailed.load(std::memory_order_acquire);
    mFileFinished = true;
    if (!mWriter->close()) {
        // A file that stopped growing must never read as a finished recording.
        mWriteFailed.store(true, std::memory_order_release);
        return false;
    }
    return !mWriteFailed.load(std::memory_order_acquire);
}
