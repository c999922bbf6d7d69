#pragma once

#include "zotools/ZOAudioStreamDescription.h"

#include <cstdint>
#include <vector>

// What an encoder offers for one conversion from the input device's format into a file format:
// its bit rates (the largest of each offered range) and its sample rates (the smallest of each
// range). Made for one query. Both lists stay empty when no conversion can be made (a format
// nothing here encodes, a channel count or map the encoder does not take) and for linear PCM,
// which has neither.
class KOEncoderCapabilities {
public:
    // `map` (file channel -> device channel, -1 none) may be null; with n > 0 entries it sets the
    // number of encoded channels, otherwise the destination's channel count does, or the
    // source's when the destination names none.
    KOEncoderCapabilities(std::uint32_t mapLength, const std::int32_t* map,
                          const ZOAudioStreamDescription& source,
                          const ZOAudioStreamDescription& destination);

    // False when no converter could be made for the conversion.
    bool hasConverter() const { return mHasConverter; }
    std::uint32_t encodedChannels() const { return mChannels; }
    const std::vector<std::int32_t>& channelMap() const { return mChannelMap; }
    const std::vector<double>& sampleRates() const { return mSampleRates; }
    const std::vector<std::uint32_t>& bitRates() const { return mBitRates; }

private:
    bool mHasConverter = false;
    std::uint32_t mChannels = 0;
    std::vector<double> mSampleRates;
    std::vector<std::uint32_t> mBitRates;
    std::vector<std::int32_t> mChannelMap;
};
