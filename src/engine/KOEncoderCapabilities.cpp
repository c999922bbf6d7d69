#include "engine/KOEncoderCapabilities.h"

#include "platform/audiofile/AudioFormatServices.h"

#include <algorithm>

namespace services = koru::platform::AudioFormatServices;

KOEncoderCapabilities::KOEncoderCapabilities(std::uint32_t mapLength, const std::int32_t* map,
                                             const ZOAudioStreamDescription& source,
                                             const ZOAudioStreamDescription& destination) {
    // The conversion starts from the engine's float samples; anything else has no converter.
    if (!source.isPCM() || source.numberChannels() == 0)
        return;
    const std::uint32_t formatID = destination.streamDescription().mFormatID;
    if (!destination.canBeEncoded())
        return;
    if (mapLength > 0 && map) {
        // Every entry names a device channel or none; the map decides the encoded count.
        for (std::uint32_t k = 0; k < mapLength; ++k)
            if (map[k] < -1 || (map[k] >= 0 && std::uint32_t(map[k]) >= source.numberChannels()))
                return;
        mChannelMap.assign(map, map + mapLength);
        mChannels = mapLength;
    } else {
        mChannels =
            destination.numberChannels() ? destination.numberChannels() : source.numberChannels();
    }
    const auto counts = destination.availableEncodeNumberChannels();
    const bool anyCount =
        std::find(counts.begin(), counts.end(), services::kAnyNumberOfChannels) != counts.end();
    if (!anyCount && std::find(counts.begin(), counts.end(), mChannels) == counts.end()) {
        mChannelMap.clear();
        return;
    }
    mHasConverter = true;
    // The bit rates depend on the rate the file is written at: the destination's, or the
    // source's when the destination has none yet.
    const double rate =
        destination.sampleRate() > 0.0 ? destination.sampleRate() : source.sampleRate();
    if (const auto ranges = services::applicableEncodeBitRates(formatID, mChannels, rate)) {
        for (const services::ValueRange& r : *ranges) {
            const auto b = std::uint32_t(std::max(0.0, r.maximum));
            if (b != 0)
                mBitRates.push_back(b);
        }
    }
    if (const auto ranges = services::applicableEncodeSampleRates(formatID)) {
        for (const services::ValueRange& r : *ranges)
            mSampleRates.push_back(r.minimum);
    }
}
