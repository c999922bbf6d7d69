#include "StreamResampler.h"

#include "platform/log/Log.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace koru::netaudio {

StreamResampler::~StreamResampler() {
    if (mState != nullptr)
        src_delete(mState);
}

bool StreamResampler::canConvert(double from, double to) {
    return from > 0.0 && to > 0.0 && std::isfinite(from) && std::isfinite(to) &&
           src_is_valid_ratio(to / from) != 0;
}

bool StreamResampler::configure(double from, double to) {
    if (mState != nullptr) {
        src_delete(mState);
        mState = nullptr;
    }
    mFrom = from;
    mTo = to;
    if (from == to)
        return true;
    if (!canConvert(from, to))
        return false;
    int error = 0;
    mState = src_new(SRC_SINC_MEDIUM_QUALITY, 2, &error);
    if (mState == nullptr) {
        log::error("Net receive: no rate converter ({})", src_strerror(error));
        return false;
    }
    return true;
}

std::uint32_t StreamResampler::process(const float* left, const float* right,
                                       std::uint32_t frames) {
    if (mState == nullptr) {
        mLeftOut.assign(left, left + frames);
        mRightOut.assign(right, right + frames);
        return frames;
    }
    const double ratio = mTo / mFrom;
    const auto room = std::size_t(std::ceil(double(frames) * ratio)) + 16;
    mIn.resize(std::size_t(frames) * 2);
    mOut.resize(room * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        mIn[2 * i] = left[i];
        mIn[2 * i + 1] = right[i];
    }
    std::uint32_t produced = 0;
    long consumed = 0;
    // The converter may stop short of the input when its output is full: go round until it
    // has taken every frame.
    while (consumed < long(frames)) {
        SRC_DATA data{};
        data.data_in = mIn.data() + 2 * consumed;
        data.input_frames = long(frames) - consumed;
        if (mOut.size() < (std::size_t(produced) + room) * 2)
            mOut.resize((std::size_t(produced) + room) * 2);
        data.data_out = mOut.data() + 2 * std::size_t(produced);
        data.output_frames = long(room);
        data.src_ratio = ratio;
        if (src_process(mState, &data) != 0)
            break;
        consumed += data.input_frames_used;
        produced += std::uint32_t(data.output_frames_gen);
        if (data.input_frames_used == 0 && data.output_frames_gen == 0)
            break;
    }
    mLeftOut.resize(produced);
    mRightOut.resize(produced);
    for (std::uint32_t i = 0; i < produced; ++i) {
        mLeftOut[i] = mOut[2 * i];
        mRightOut[i] = mOut[2 * i + 1];
    }
    return produced;
}

} // namespace koru::netaudio
