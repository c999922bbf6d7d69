#pragma once

#include "engine/SafeModeInstrument.h"
#include "platform/audiofile/AsyncAudioFileWriter.h"
#include "zotools/ZOAudioStreamDescription.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The recorder's signal processing: writes the mapped input channels into one audio file.
//
// The audio thread only copies into the writer's preallocated ring; the writer thread encodes
// and writes. A full ring or a failing disk ends the file with what reached it, sets write
// failed and reports one client error to the engine (which posts the I/O error notification).
// While attached the engine stays in safe mode, so the channel layout cannot change under the
// file; the destructor removes the client and leaves safe mode exactly once.
class KORecorder : public koru::SafeModeInstrument {
public:
    // Ring length in seconds of audio at the client rate: a writer stalled this long fails the
    // recording rather than blocking the audio thread.
    static constexpr double kDefaultRingSeconds = 4.0;

    // Creates the file. PCM files are written at the client rate whatever the file format says;
    // a compressed file at the format's rate (the client rate when it names none), moved to the
    // nearest rate its encoder takes and converted from the client rate on the writer thread. A
    // bit rate the encoder does not offer records at its default. Throws CAException(2) when
    // anything that must succeed fails (no file is left open).
    KORecorder(const QString& path, std::uint32_t fileType, const std::vector<std::int32_t>& map,
               std::uint32_t bitRate, const ZOAudioStreamDescription& clientFormat,
               const ZOAudioStreamDescription& fileFormat,
               double ringSeconds = kDefaultRingSeconds);
    // Tests hand in their own sink (slow, failing).
    KORecorder(std::unique_ptr<koru::platform::AudioFileSink> sink, const QString& path,
               const std::vector<std::int32_t>& map, double clientRate, double ringSeconds);
    ~KORecorder() override;

    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    // The recorder keeps its own channel count.
    void SetNumberOfChannels(std::uint32_t) override {}
    // Any layout change ends the file: the mapped inputs no longer mean what they did.
    void ChannelsChanged(std::uint32_t position, std::uint32_t delta) override;
    // A rate change ends the file too: its header names the old rate, and samples at another
    // rate behind it would play at the wrong speed.
    void SetHost(ZOAudioInput* host) override;

    // Finishes the file; later buffers are ignored. Returns false when the file could not be
    // finished cleanly (that also sets write failed). Main or reconfiguring thread.
    bool CloseFile();

    std::uint32_t ChannelCount() const { return std::uint32_t(mMap.size()); }
    // Largest magnitude of the last block per file channel; 0 for an unmapped channel.
    float Peak(std::uint32_t channel) const {
        return channel < mPeaks.size() ? mPeaks[channel].load(std::memory_order_relaxed) : 0.0f;
    }
    // Frames handed to the writer; 64 bits, so days of recording never wrap.
    std::uint64_t FramesWritten() const { return mFramesWritten.load(std::memory_order_relaxed); }
    // Frames the writer thread has passed on to the file so far (behind FramesWritten() by
    // what waits in the ring).
    std::uint64_t FramesPassedToFile() const { return mWriter ? mWriter->framesWritten() : 0; }
    // True when the writer thread has nothing left to pass on: every frame handed over reached
    // the file, or the writer stopped on an error.
    bool WriterCaughtUp() const {
        return !mWriter || mWriter->status() != koru::platform::AsyncAudioFileWriter::Status::Ok ||
               mWriter->framesWritten() >= FramesWritten();
    }
    bool WriteFailed() const { return mWriteFailed.load(std::memory_order_acquire); }
    bool IsClosed() const { return mClosed.load(std::memory_order_acquire); }
    const QString& FileURL() const { return mPath; }

private:
    void start(std::unique_ptr<koru::platform::AudioFileSink> sink, double clientRate,
               double ringSeconds);

    QString mPath;
    std::vector<std::int32_t> mMap;
    double mRecordRate = 0.0; // the client rate the file was opened at
    std::vector<std::atomic<float>> mPeaks;
    std::unique_ptr<koru::platform::AsyncAudioFileWriter> mWriter;
    std::atomic<std::uint64_t> mFramesWritten{0};
    std::atomic<bool> mWriteFailed{true}; // set until construction succeeds
    std::atomic<bool> mClosed{false};
    bool mFileFinished = false; // under the instrument mutex
};
