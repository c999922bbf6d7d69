#include "FilePlayerStream.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace koru {

namespace {

constexpr std::int64_t kBlockFrames = 4096;

} // namespace

FilePlayerStream::FilePlayerStream(std::unique_ptr<platform::AudioFileReader> reader,
                                   double outputRate)
    : mReader(std::move(reader)), mOutputRate(outputRate),
      mRaw(std::size_t(kBlockFrames) * std::size_t(std::max(mReader->channels(), 1))),
      mIn(std::size_t(kBlockFrames) * kChannels), mOut(std::size_t(kBlockFrames) * kChannels) {
    makeConverter();
}

FilePlayerStream::~FilePlayerStream() {
    if (mConverter != nullptr) {
        src_delete(mConverter);
    }
}

void FilePlayerStream::makeConverter() {
    if (mConverter != nullptr) {
        src_delete(mConverter);
        mConverter = nullptr;
    }
    mRatio = mOutputRate / fileRate();
    if (mOutputRate == fileRate()) {
        return; // frame for frame, bit for bit
    }
    int error = 0;
    mConverter = src_new(SRC_SINC_MEDIUM_QUALITY, int(kChannels), &error);
    if (mConverter == nullptr) {
        throw std::runtime_error(std::string("rate converter: ") + src_strerror(error));
    }
}

bool FilePlayerStream::seek(std::int64_t frame) {
    mInAt = mInFrames = 0;
    mInputDone = false;
    mEnded = false;
    mFailed = false;
    mInputSinceSeek = 0.0;
    mProduced = 0;
    mWraps.clear();
    if (mConverter != nullptr) {
        src_reset(mConverter);
    }
    frame = std::clamp<std::int64_t>(frame, 0, std::max<std::int64_t>(fileFrames(), 0));
    if (!mReader->seek(frame)) {
        mEnded = mFailed = true;
        return false;
    }
    return true;
}

bool FilePlayerStream::setOutputRate(double rate, std::int64_t frame) {
    mOutputRate = rate;
    makeConverter();
    return seek(frame);
}

std::vector<std::uint64_t> FilePlayerStream::takeWraps() {
    std::vector<std::uint64_t> wraps;
    wraps.swap(mWraps);
    return wraps;
}

std::int64_t FilePlayerStream::readFile(std::int64_t frames) {
    const int channels = mReader->channels();
    std::int64_t total = 0;
    bool justWrapped = false;
    while (total < frames) {
        const std::int64_t got = mReader->read(mRaw.data(), frames - total);
        if (got < 0) {
            mFailed = true;
            break;
        }
        if (got == 0) {
            if (!mLoop || justWrapped) {
                break; // the end, or a file that gives nothing even from its start
            }
            if (!mReader->seek(0)) {
                mFailed = true;
                break;
            }
            mWraps.push_back(std::uint64_t(std::llround(mInputSinceSeek * mRatio)));
            justWrapped = true;
            continue;
        }
        justWrapped = false;
        float* to = mIn.data() + std::size_t(mInFrames + std::size_t(total)) * kChannels;
        const float* from = mRaw.data();
        for (std::int64_t i = 0; i < got; ++i, from += channels, to += kChannels) {
            to[0] = from[0];
            to[1] = channels > 1 ? from[1] : from[0];
        }
        total += got;
        mInputSinceSeek += double(got);
    }
    return total;
}

bool FilePlayerStream::fillInput() {
    mInAt = mInFrames = 0;
    if (mFailed) {
        return false;
    }
    mInFrames = std::size_t(readFile(kBlockFrames));
    return mInFrames > 0;
}

std::uint32_t FilePlayerStream::produceDirect(float* const* channels, std::uint32_t frames) {
    std::uint32_t done = 0;
    while (done < frames) {
        if (mInAt == mInFrames && !fillInput()) {
            mEnded = true;
            break;
        }
        const std::size_t take = std::min<std::size_t>(frames - done, mInFrames - mInAt);
        const float* from = mIn.data() + mInAt * kChannels;
        for (std::size_t i = 0; i < take; ++i) {
            channels[0][done + i] = from[kChannels * i];
            channels[1][done + i] = from[kChannels * i + 1];
        }
        mInAt += take;
        done += std::uint32_t(take);
    }
    return done;
}

std::uint32_t FilePlayerStream::produceConverted(float* const* channels, std::uint32_t frames) {
    std::uint32_t done = 0;
    while (done < frames) {
        if (mInAt == mInFrames && !mInputDone && !fillInput()) {
            mInputDone = true; // the converter gives out what it still holds
        }
        SRC_DATA data{};
        data.data_in = mIn.data() + mInAt * kChannels;
        data.input_frames = long(mInFrames - mInAt);
        data.data_out = mOut.data();
        data.output_frames = long(std::min<std::size_t>(frames - done, kBlockFrames));
        data.end_of_input = mInputDone ? 1 : 0;
        data.src_ratio = mRatio;
        if (src_process(mConverter, &data) != 0) {
            mFailed = mEnded = true;
            break;
        }
        mInAt += std::size_t(data.input_frames_used);
        for (long i = 0; i < data.output_frames_gen; ++i) {
            channels[0][done + i] = mOut[kChannels * std::size_t(i)];
            channels[1][done + i] = mOut[kChannels * std::size_t(i) + 1];
        }
        done += std::uint32_t(data.output_frames_gen);
        if (data.output_frames_gen == 0 && mInputDone) {
            mEnded = true;
            break;
        }
    }
    return done;
}

std::uint32_t FilePlayerStream::produce(float* const* channels, std::uint32_t frames) {
    if (mEnded) {
        return 0;
    }
    const std::uint32_t done = mConverter != nullptr ? produceConverted(channels, frames)
                                                     : produceDirect(channels, frames);
    mProduced += done;
    return done;
}

} // namespace koru
