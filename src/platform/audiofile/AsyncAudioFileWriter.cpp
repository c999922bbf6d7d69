#include "platform/audiofile/AsyncAudioFileWriter.h"

#include "platform/fourcc/FourCC.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace koru::platform {

namespace {

// Headers are rewritten this often, so a crash leaves a file that reads up to about here.
constexpr std::uint64_t kHeaderUpdateFrames = 1u << 17;
constexpr std::uint32_t kChunkFrames = 4096;
constexpr auto kPollInterval = std::chrono::milliseconds(5);

class SndfileSink final : public AudioFileSink {
public:
    SndfileSink(SNDFILE* file, bool updateHeaders) : mFile(file), mUpdateHeaders(updateHeaders) {}
    ~SndfileSink() override {
        if (mFile)
            sf_close(mFile);
    }
    bool write(const float* interleaved, std::uint64_t frames) override {
        if (!mFile)
            return false;
        const sf_count_t done = sf_writef_float(mFile, interleaved, sf_count_t(frames));
        if (done != sf_count_t(frames))
            return false;
        mSinceHeader += frames;
        if (mUpdateHeaders && mSinceHeader >= kHeaderUpdateFrames) {
            mSinceHeader = 0;
            sf_command(mFile, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        }
        return true;
    }
    bool finish() override {
        if (!mFile)
            return false;
        sf_write_sync(mFile);
        const int status = sf_close(mFile);
        mFile = nullptr;
        return status == 0;
    }

private:
    SNDFILE* mFile;
    bool mUpdateHeaders;
    std::uint64_t mSinceHeader = 0;
};

int subtypeFor(const PcmFileSpec& spec, int major) {
    if (spec.isFloat) {
        if (spec.bitDepth == 32)
            return SF_FORMAT_FLOAT;
        if (spec.bitDepth == 64)
            return SF_FORMAT_DOUBLE;
        return 0;
    }
    switch (spec.bitDepth) {
    case 8:
        return major == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
    case 16:
        return SF_FORMAT_PCM_16;
    case 24:
        return SF_FORMAT_PCM_24;
    case 32:
        return SF_FORMAT_PCM_32;
    default:
        return 0;
    }
}

} // namespace

std::unique_ptr<AudioFileSink> openPcmFileSink(const std::string& path, const PcmFileSpec& spec) {
    int major = 0;
    int endian = SF_ENDIAN_FILE;
    if (spec.fileType == fourCC("WAVE")) {
        major = SF_FORMAT_WAV;
    } else if (spec.fileType == fourCC("AIFF")) {
        major = SF_FORMAT_AIFF;
        if (spec.isFloat || !spec.bigEndian)
            throw std::runtime_error("AIFF holds big-endian integer samples only");
    } else if (spec.fileType == fourCC("AIFC")) {
        major = SF_FORMAT_AIFF;
        endian = spec.bigEndian ? SF_ENDIAN_FILE : SF_ENDIAN_LITTLE; // both default to big
    } else if (spec.fileType == fourCC("caff")) {
        major = SF_FORMAT_CAF;
        endian = spec.bigEndian ? SF_ENDIAN_FILE : SF_ENDIAN_LITTLE; // both default to big
    } else {
        throw std::runtime_error("file type " + fourCCToString(spec.fileType).toStdString() +
                                 " is not written here");
    }
    const int subtype = subtypeFor(spec, major);
    if (subtype == 0 || spec.channels == 0 || spec.sampleRate < 1.0)
        throw std::runtime_error("unsupported sample format");

    SF_INFO info{};
    info.samplerate = int(spec.sampleRate + 0.5);
    info.channels = int(spec.channels);
    info.format = major | subtype | endian;
    if (!sf_format_check(&info))
        throw std::runtime_error("libsndfile refuses format " + std::to_string(info.format));
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error(std::string("cannot create the file: ") + sf_strerror(nullptr));
    // Without it a float above 1.0 wraps round to the other end of an integer file.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (major == SF_FORMAT_WAV)
        sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    return std::make_unique<SndfileSink>(file, true);
}

std::unique_ptr<AudioFileSink> openLosslessCafSink(const std::string& path, std::uint32_t channels,
                                                   double sampleRate) {
    if (channels == 0 || channels > 8 || sampleRate < 1.0)
        throw std::runtime_error("unsupported lossless format");
    SF_INFO info{};
    info.samplerate = int(sampleRate + 0.5);
    info.channels = int(channels);
    info.format = SF_FORMAT_CAF | SF_FORMAT_ALAC_24;
    if (!sf_format_check(&info))
        throw std::runtime_error("libsndfile refuses format " + std::to_string(info.format));
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error(std::string("cannot create the file: ") + sf_strerror(nullptr));
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The lossless encoder writes its packet table at the end: no header updates on the way.
    return std::make_unique<SndfileSink>(file, false);
}

AsyncAudioFileWriter::AsyncAudioFileWriter(std::unique_ptr<AudioFileSink> sink,
                                           std::uint32_t channels, std::uint32_t ringFrames)
    : mSink(std::move(sink)), mChannels(std::max(1u, channels)),
      mMask(std::bit_ceil(std::max(ringFrames, 1024u)) - 1) {
    mRing.assign(std::size_t(mMask + 1) * mChannels, 0.0f);
    mChunk.assign(std::size_t(kChunkFrames) * mChannels, 0.0f);
    mThread = std::thread([this] { run(); });
}

AsyncAudioFileWriter::~AsyncAudioFileWriter() {
    close();
}

void AsyncAudioFileWriter::fail(Status status) {
    int expected = 0;
    mStatus.compare_exchange_strong(expected, int(status), std::memory_order_acq_rel);
}

AsyncAudioFileWriter::Status AsyncAudioFileWriter::writeAsync(const AudioBufferList* buffers,
                                                              const std::int32_t* map,
                                                              std::uint32_t frames) {
    const int current = mStatus.load(std::memory_order_acquire);
    if (current != 0)
        return Status(current);
    if (mStop.load(std::memory_order_acquire))
        return Status::Closed;
    const std::uint64_t head = mHead.load(std::memory_order_relaxed);
    const std::uint64_t tail = mTail.load(std::memory_order_acquire);
    if (head - tail + frames > std::uint64_t(mMask) + 1) {
        fail(Status::Overflow);
        return Status::Overflow;
    }
    const std::uint32_t available = buffers ? buffers->mNumberBuffers : 0;
    for (std::uint32_t k = 0; k < mChannels; ++k) {
        const std::int32_t source = map ? map[k] : std::int32_t(k);
        const float* in = nullptr;
        if (source >= 0 && std::uint32_t(source) < available) {
            const AudioBuffer& buffer = buffers->mBuffers[source];
            if (buffer.mData && buffer.mDataByteSize / sizeof(float) >= frames)
                in = static_cast<const float*>(buffer.mData);
        }
        for (std::uint32_t i = 0; i < frames; ++i) {
            const std::size_t slot = std::size_t((head + i) & mMask) * mChannels + k;
            mRing[slot] = in ? in[i] : 0.0f;
        }
    }
    mHead.store(head + frames, std::memory_order_release);
    return Status::Ok;
}

bool AsyncAudioFileWriter::drain() {
    for (;;) {
        const std::uint64_t tail = mTail.load(std::memory_order_relaxed);
        const std::uint64_t head = mHead.load(std::memory_order_acquire);
        if (head == tail)
            return true;
        const std::uint32_t count =
            std::uint32_t(std::min<std::uint64_t>(head - tail, kChunkFrames));
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t slot = std::size_t((tail + i) & mMask) * mChannels;
            std::memcpy(&mChunk[std::size_t(i) * mChannels], &mRing[slot],
                        mChannels * sizeof(float));
        }
        mTail.store(tail + count, std::memory_order_release);
        if (!mSink->write(mChunk.data(), count)) {
            fail(Status::SinkFailed);
            return false;
        }
        mWritten.fetch_add(count, std::memory_order_release);
    }
}

void AsyncAudioFileWriter::run() {
    bool sinkOk = true;
    while (!mStop.load(std::memory_order_acquire)) {
        if (sinkOk)
            sinkOk = drain();
        if (mStatus.load(std::memory_order_acquire) != 0) {
            // Nothing more will come: finish the file now, so it reads whole before anyone
            // gets round to closing the writer.
            if (sinkOk)
                drain();
            mFinishResult = mSink->finish();
            mFinished = true;
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    if (sinkOk)
        drain();
}

bool AsyncAudioFileWriter::close() {
    if (mClosed)
        return mCloseResult;
    mClosed = true;
    mStop.store(true, std::memory_order_release);
    if (mThread.joinable())
        mThread.join();
    const bool finished = mFinished ? mFinishResult : (mSink ? mSink->finish() : false);
    const int status = mStatus.load(std::memory_order_acquire);
    mCloseResult = finished && status == 0;
    return mCloseResult;
}

} // namespace koru::platform
