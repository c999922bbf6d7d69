#include "engine/KOAudioFileTypeHelper.h"

#include "engine/KOEncoderCapabilities.h"

#include "platform/audiofile/AudioFormatServices.h"
#include "platform/fourcc/FourCC.h"

#include <algorithm>

namespace services = koru::platform::AudioFormatServices;
using koru::platform::fourCC;

namespace {

const QString kTypeKey = QStringLiteral("FileFormat.AudioFileTypeID");
const QString kFormatKey = QStringLiteral("FileFormat.FormatID");
const QString kIndexKey = QStringLiteral("FileFormat.StreamDescription.Index");
const QString kRateKey = QStringLiteral("FileFormat.SampleRate");
const QString kBitRateKey = QStringLiteral("FileFormat.BitRate");

ZOAudioStreamDescription standInSource() {
    AudioStreamBasicDescription d;
    d.mSampleRate = 48000.0;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagsFloatNonInterleaved;
    d.mBytesPerPacket = d.mBytesPerFrame = 4;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = 2;
    d.mBitsPerChannel = 32;
    return ZOAudioStreamDescription(d);
}

template <typename T> bool contains(const std::vector<T>& list, T value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

KOAudioFileTypeHelper::KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults)
    : mDefaults(defaults), mSource(standInSource()) {
    setAudioFileTypeID(preferredFileType());
    setFormatID(preferredFormatID());
}

KOAudioFileTypeHelper::KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults,
                                             std::uint32_t fileType)
    : mDefaults(defaults), mSource(standInSource()) {
    setAudioFileTypeID(fileType);
}

KOAudioFileTypeHelper::KOAudioFileTypeHelper(koru::platform::UserDefaults& defaults,
                                             const QVariantMap& dictionary)
    : mDefaults(defaults), mSource(standInSource()) {
    setAudioFileTypeID(dictionary.value(kTypeKey).toUInt());
    setFormatID(dictionary.value(kFormatKey).toUInt());
    const std::uint32_t index = dictionary.value(kIndexKey).toUInt();
    if (index != 0)
        selectStreamDescriptionAtIndex(index);
    setSampleRate(dictionary.value(kRateKey).toDouble());
    setBitrate(dictionary.value(kBitRateKey).toUInt());
}

std::vector<std::uint32_t> KOAudioFileTypeHelper::availableAudioFileTypeIDs() {
    return services::writableFileTypes();
}

bool KOAudioFileTypeHelper::formatIDCanEncodeToLinearPCM(std::uint32_t formatID) const {
    const bool nonLinear =
        mDefaults.boolForKey(QStringLiteral("KORU.Recorder.SupportNonLinearPCM"));
    if (nonLinear && mDefaults.boolForKey(QStringLiteral("KORU.Recorder.SupportAllFormats")))
        return ZOAudioStreamDescription::streamDescriptionWithFormatID(formatID).canBeEncoded();
    if (formatID == fourCC("aac ") || formatID == fourCC("alac"))
        return nonLinear;
    return formatID == kAudioFormatLinearPCM;
}

QVariantMap KOAudioFileTypeHelper::dictionaryRepresentation() {
    return {{kTypeKey, mFileType},
            {kFormatKey, mFormat},
            {kIndexKey, indexOfSelectedStreamDescription()},
            {kRateKey, sampleRate()},
            {kBitRateKey, bitrate()}};
}

void KOAudioFileTypeHelper::setAudioFileTypeID(std::uint32_t fileType) {
    if (contains(availableAudioFileTypeIDs(), fileType)) {
        mFileType = fileType;
        setFormatID(preferredFormatID());
    } else {
        mFileType = fourCC("AIFC");
        setFormatID(kAudioFormatLinearPCM);
    }
}

void KOAudioFileTypeHelper::setFormatID(std::uint32_t formatID) {
    const std::uint32_t previous = mFormat;
    const auto offered = formatIDs();
    if (formatID == mFormat && offered && contains(*offered, formatID)) {
        const auto current = streamDescription();
        if (current && !current->isPCM())
            return; // the same compressed format keeps its choice
    }
    if (!offered) {
        mFormat = 0;
    } else if (!offered->empty()) {
        mFormat = offered->front();
        clearChoice();
    }
    if (offered && contains(*offered, formatID)) {
        mFormat = formatID;
        clearChoice();
    }
    // A bit rate chosen for one encoder means nothing to another (and a lossless one has none).
    if (mFormat != previous)
        mBitRate = 0;
}

std::optional<std::vector<std::uint32_t>> KOAudioFileTypeHelper::formatIDs() const {
    const auto all = services::formatIDsForType(mFileType);
    if (!all)
        return std::nullopt;
    std::vector<std::uint32_t> out;
    for (std::uint32_t f : *all)
        if (formatIDCanEncodeToLinearPCM(f))
            out.push_back(f);
    return out;
}

std::optional<std::vector<ZOAudioStreamDescription>>
KOAudioFileTypeHelper::streamDescriptions() const {
    const auto all = services::streamDescriptionsFor(mFileType, mFormat);
    if (!all)
        return std::nullopt;
    std::vector<ZOAudioStreamDescription> out;
    for (const auto& d : *all)
        out.emplace_back(d);
    return out;
}

std::optional<ZOAudioStreamDescription> KOAudioFileTypeHelper::streamDescription() {
    if (mChoice == Choice::Cleared) {
        const auto list = streamDescriptions();
        if (!list || list->empty()) {
            mChoice = Choice::None;
            mIndex = kNoStreamDescription;
        } else {
            mChoice = Choice::Chosen;
            mDescription = list->front();
            mIndex = 0;
            if (!mDescription.isPCM())
                mDescription.setSampleRate(44100.0);
            if (mFormat == kAudioFormatLinearPCM) {
                const QString key = QStringLiteral("AudioFileFormat.LinearPCM.BitDepth");
                qint64 depth = mDefaults.integerForKey(key);
                if (depth == 0) {
                    depth = 24;
                    mDefaults.setInteger(key, depth);
                }
                // The last match wins, so the table's order decides between forms of one depth.
                for (std::uint32_t i = 0; i < list->size(); ++i) {
                    if (qint64((*list)[i].bitDepth()) == depth) {
                        mDescription = (*list)[i];
                        mIndex = i;
                    }
                }
            }
        }
    }
    if (mChoice == Choice::None)
        return std::nullopt;
    return mDescription;
}

void KOAudioFileTypeHelper::selectStreamDescriptionAtIndex(std::uint32_t index) {
    const auto list = streamDescriptions();
    if (list && index < list->size()) {
        mChoice = Choice::Chosen;
        mDescription = (*list)[index];
        mIndex = index;
    } else {
        mChoice = Choice::None;
        mIndex = kNoStreamDescription;
    }
}

std::uint32_t KOAudioFileTypeHelper::indexOfSelectedStreamDescription() {
    streamDescription();
    return mIndex;
}

std::vector<std::uint32_t> KOAudioFileTypeHelper::bitrates() {
    const auto d = streamDescription();
    if (!d)
        return {};
    return KOEncoderCapabilities(mChannelMapLength, mChannelMap, mSource, *d).bitRates();
}

std::vector<std::uint32_t> KOAudioFileTypeHelper::bitratesWithChannelMap(const std::int32_t* map,
                                                                         std::uint32_t length) {
    setChannelMap(map, length);
    const auto d = streamDescription();
    if (!d)
        return {};
    // All entries count, also beyond the 128 kept: the encoder sees every file channel.
    return KOEncoderCapabilities(length, map, mSource, *d).bitRates();
}

std::vector<double> KOAudioFileTypeHelper::sampleRates() {
    std::vector<double> out;
    const auto d = streamDescription();
    if (!d)
        return out;
    const KOEncoderCapabilities probe(0, nullptr, mSource, *d);
    for (double r : probe.sampleRates())
        if (r > 1.0)
            out.push_back(r);
    return out;
}

QString KOAudioFileTypeHelper::stringForFormatID(std::uint32_t formatID) {
    if (formatID == kAudioFormatLinearPCM)
        return QStringLiteral("Linear PCM");
    return ZOAudioStreamDescription::streamDescriptionWithFormatID(formatID)
        .nameOmittingChannelInfo();
}

QString KOAudioFileTypeHelper::name() const {
    const QString text = services::fileTypeName(mFileType);
    return text.isEmpty() ? QStringLiteral("<< No Name Available >>") : text;
}

QString KOAudioFileTypeHelper::fileExtension() const {
    return fileExtensions().value(0);
}

QString KOAudioFileTypeHelper::readableName() {
    const auto d = streamDescription();
    if (d && d->isPCM())
        return QStringLiteral("%1, %2").arg(name(), d->nameOmittingChannelInfo());
    const QString rate = QString::asprintf("%.0f", sampleRate());
    if (bitrates().empty())
        return QStringLiteral("%1, %2, Sample Rate: %3Hz").arg(name(), nameForFormatID(), rate);
    return QStringLiteral("%1, %2, Sample Rate: %3Hz, Bitrate: %4 bps")
        .arg(name(), nameForFormatID(), rate)
        .arg(bitrate());
}

std::uint32_t KOAudioFileTypeHelper::bitrate() {
    const auto d = streamDescription();
    if (d && d->isPCM())
        return 0;
    if (mBitRate == 0)
        setBitrate(kDefaultBitRate);
    return mBitRate;
}

void KOAudioFileTypeHelper::setBitrate(std::uint32_t bitRate) {
    const auto list = bitrates();
    if (contains(list, bitRate))
        mBitRate = bitRate;
    else if (contains(list, kDefaultBitRate))
        mBitRate = kDefaultBitRate;
    else
        mBitRate = list.empty() ? 0 : list.back();
}

double KOAudioFileTypeHelper::sampleRate() {
    const auto d = streamDescription();
    return d ? d->sampleRate() : 0.0;
}

void KOAudioFileTypeHelper::setSampleRate(double rate) {
    if (streamDescription())
        mDescription.setSampleRate(rate);
    setBitrate(mBitRate);
}

QStringList KOAudioFileTypeHelper::fileExtensions() const {
    return services::extensionsForType(mFileType);
}

void KOAudioFileTypeHelper::setChannelMap(const std::int32_t* map, std::uint32_t length) {
    mChannelMapLength = std::min(length, kMaxChannelMap);
    std::copy(map, map + mChannelMapLength, mChannelMap);
}

std::uint32_t KOAudioFileTypeHelper::preferredFileType() const {
    return std::uint32_t(mDefaults.integerForKey(QStringLiteral("AudioFileTypes.FileTypeID")));
}

void KOAudioFileTypeHelper::setPreferredFileType(std::uint32_t fileType) {
    mDefaults.setInteger(QStringLiteral("AudioFileTypes.FileTypeID"), fileType);
}

std::uint32_t KOAudioFileTypeHelper::preferredFormatID() const {
    return std::uint32_t(mDefaults.integerForKey(
        QStringLiteral("AudioFileTypeID.FormatForFileType.%1").arg(mFileType)));
}

void KOAudioFileTypeHelper::setPreferredFormat(std::uint32_t formatID) {
    mDefaults.setInteger(QStringLiteral("AudioFileTypeID.FormatForFileType.%1").arg(mFileType),
                         formatID);
}

void KOAudioFileTypeHelper::saveToUserDefaults() {
    setPreferredFileType(mFileType);
    setPreferredFormat(mFormat);
}
