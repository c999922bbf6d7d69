#pragma once

#include "platform/defaults/UserDefaults.h"
#include "zotools/ZOAudioStreamDescription.h"

#include <QVariantMap>

#include <cstdint>
#include <optional>
#include <vector>

// One file-format choice of the recorder: file type, data format, stream description, bit rate,
// with the alternatives each menu lists and the per-type preferences in the user defaults.
// Main thread only.
class KOAudioFileTypeHelper {
public:
    static constexpr std::uint32_t kNoStreamDescription = 0xFFFFFFFF;
    static constexpr std::uint32_t kDefaultBitRate = 128000;
    static constexpr std::uint32_t kMaxChannelMap = 128;

    // Type and format from the preferences.
    explicit KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults);
    KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults, std::uint32_t fileType);
    // Missing keys read as 0.
    KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults, const QVariantMap& dictionary);

    static std::vector<std::uint32_t> availableAudioFileTypeIDs();
    bool formatIDCanEncodeToLinearPCM(std::uint32_t formatID) const;
    // The menu name of a data format: "Linear PCM", "AAC", "Apple Lossless".
    static QString stringForFormatID(std::uint32_t formatID);

    QVariantMap dictionaryRepresentation();

    std::uint32_t fileTypeID() const { return mFileType; }
    std::uint32_t formatID() const { return mFormat; }
    // An unknown type falls back to AIFC with linear PCM.
    void setAudioFileTypeID(std::uint32_t fileType);
    void setFormatID(std::uint32_t formatID);
    void setAudioFileType(std::uint32_t fileType, std::uint32_t formatID) {
        setAudioFileTypeID(fileType);
        setFormatID(formatID);
    }

    // The chosen description, computed when cleared; nullopt when none could be chosen.
    std::optional<ZOAudioStreamDescription> streamDescription();
    void selectStreamDescriptionAtIndex(std::uint32_t index);
    std::uint32_t indexOfSelectedStreamDescription();

    // 0 for linear PCM.
    std::uint32_t bitrate();
    void setBitrate(std::uint32_t bitRate);
    double sampleRate();
    void setSampleRate(double rate);

    // The formats of the current type this program offers; nullopt for an unknown type.
    std::optional<std::vector<std::uint32_t>> formatIDs() const;
    std::optional<std::vector<ZOAudioStreamDescription>> streamDescriptions() const;
    // The encoder's bit rates for the stored channel map, from the source format into the
    // chosen description; empty for linear PCM, lossless formats and conversions the encoder
    // refuses. Asks again on every call.
    std::vector<std::uint32_t> bitrates();
    // Stores the map (at most 128 entries) and probes with all `length` entries of it.
    std::vector<std::uint32_t> bitratesWithChannelMap(const std::int32_t* map,
                                                      std::uint32_t length);
    // The file rates the encoder of the chosen format takes; empty for linear PCM (written at
    // the device rate).
    std::vector<double> sampleRates();
    QStringList fileExtensions() const;
    // The first extension; empty when the type has none.
    QString fileExtension() const;

    // The type's name, or "<< No Name Available >>".
    QString name() const;
    QString nameForFormatID() const { return stringForFormatID(mFormat); }
    // One line for the settings summary: type, format, and for compressed formats the rate and
    // bit rate.
    QString readableName();

    // The input device's format, which the encoder probes convert from. Until the window sets
    // it, two float channels at 48 kHz stand in.
    void setSourceFormat(const ZOAudioStreamDescription& source) { mSource = source; }
    const ZOAudioStreamDescription& sourceFormat() const { return mSource; }

    void setChannelMap(const std::int32_t* map, std::uint32_t length);
    std::uint32_t channelMapLength() const { return mChannelMapLength; }

    std::uint32_t preferredFileType() const;
    void setPreferredFileType(std::uint32_t fileType);
    std::uint32_t preferredFormatID() const;
    void setPreferredFormat(std::uint32_t formatID);
    void saveToUserDefaults();

private:
    enum class Choice { Cleared, Chosen, None };
    void clearChoice() { mChoice = Choice::Cleared; }

    koru::platform::UserDefaults& mDefaults;
    std::uint32_t mFileType = 0;
    std::uint32_t mFormat = 0;
    Choice mChoice = Choice::Cleared;
    ZOAudioStreamDescription mDescription;
    std::uint32_t mIndex = kNoStreamDescription;
    std::uint32_t mBitRate = 0;
    std::uint32_t mChannelMapLength = 0;
    std::int32_t mChannelMap[kMaxChannelMap] = {};
    ZOAudioStreamDescription mSource;
};
