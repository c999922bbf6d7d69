#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

namespace koru {

// The audio settings of a session in the form they travel in: which device, its input patch,
// the auxiliary inputs, the summing channels and the clip switch. read() takes what it can from
// a damaged dictionary (wrong types, missing keys) and logs the rest; it never throws.
class AudioSettingsDictionary {
public:
    static constexpr const char* kDeviceNameKey = "AudioDevice.DeviceName";
    static constexpr const char* kUIDKey = "AudioDevice.UID";
    static constexpr const char* kAuxInputsKey = "AudioDevice.AuxInputs";
    static constexpr const char* kSummingChannelsKey = "AudioDevice.SummingChannels";
    static constexpr const char* kChannelAKey = "AudioDevice.SummingChannel.ChannelA";
    static constexpr const char* kChannelBKey = "AudioDevice.SummingChannel.ChannelB";
    static constexpr const char* kSendGrowlNotificationOnClipKey =
        "AudioDevice.SendGrowlNotificationOnClip";
    static constexpr const char* kInputPatchMatrixKey = "AudioDevice.InputPatchMatrixDictionary";
    static constexpr const char* kTypeKey = "KOType";
    // The device offers 32 summing channels, two per summing pair.
    static constexpr std::size_t kMaxSummingPairs = 16;

    struct SummingPair {
        std::uint32_t channelA = 0;
        std::uint32_t channelB = 0;
        bool operator==(const SummingPair&) const = default;
    };

    static AudioSettingsDictionary read(const QVariantMap& dictionary);
    QVariantMap write() const;

    // A present UID always decides, even one that cannot be read (then nothing matches).
    std::optional<QString> uid;
    std::optional<QString> deviceName;
    QList<QVariantMap> auxInputs;
    std::vector<SummingPair> summingChannels;
    bool sendGrowlNotificationOnClip = false;
    std::optional<QVariantMap> inputPatchMatrix;
};

} // namespace koru
