#include "engine/KOAudioFileTypeHelper.h"

#include "platform/fourcc/FourCC.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using koru::platform::fourCC;

namespace {

class KOAudioFileTypeHelperTest : public ::testing::Test {
protected:
    KOAudioFileTypeHelperTest() : defaults(freshPath()) {}
    static QString freshPath() {
        QDir().mkpath(koru::test::testRoot() + "/helper");
        const QString path = koru::test::testRoot() + "/helper/defaults.plist";
        QFile::remove(path);
        return path;
    }
    void allow(bool nonLinear, bool all) {
        defaults.setBool(QStringLiteral("KORU.Recorder.SupportNonLinearPCM"), nonLinear);
        defaults.setBool(QStringLiteral("KORU.Recorder.SupportAllFormats"), all);
    }
    koru::platform::UserDefaults defaults;
};

TEST_F(KOAudioFileTypeHelperTest, OfferedFormatsFollowTheTwoDefaults) {
    struct Case {
        bool nonLinear, all;
        std::uint32_t type;
        std::vector<std::uint32_t> expected;
    };
    const std::uint32_t lpcm = kAudioFormatLinearPCM, aac = fourCC("aac "), alac = fourCC("alac");
    const Case cases[] = {
        {false, false, fourCC("WAVE"), {lpcm}},      {false, false, fourCC("m4af"), {}},
        {false, true, fourCC("m4af"), {}},           {true, false, fourCC("m4af"), {aac, alac}},
        {true, true, fourCC("m4af"), {aac, alac}},   {true, true, fourCC("caff"), {lpcm, alac}},
        {true, false, fourCC("caff"), {lpcm, alac}}, {false, false, fourCC("caff"), {lpcm}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(koru::platform::fourCCToString(c.type).toStdString() + " " +
                     std::to_string(c.nonLinear) + std::to_string(c.all));
        allow(c.nonLinear, c.all);
        KOAudioFileTypeHelper helper(defaults, c.type);
        EXPECT_EQ(helper.fileTypeID(), c.type);
        ASSERT_TRUE(helper.formatIDs().has_value());
        EXPECT_EQ(*helper.formatIDs(), c.expected);
    }
}

// The preferred depth picks the last description of that depth in the table's order.
TEST_F(KOAudioFileTypeHelperTest, AutomaticChoiceTakesTheLastDescriptionOfThePreferredDepth) {
    struct Case {
        std::uint32_t type;
        qint64 depth; // 0: missing
        std::uint32_t index;
        bool isFloat;
    };
    const Case cases[] = {
        {fourCC("WAVE"), 0, 2, false},  {fourCC("WAVE"), 32, 4, true},
        {fourCC("WAVE"), 16, 1, false}, {fourCC("AIFC"), 16, 6, false},
        {fourCC("caff"), 24, 4, false}, {fourCC("AIFF"), 8, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(koru::platform::fourCCToString(c.type).toStdString() + " " +
                     std::to_string(c.depth));
        if (c.depth)
            defaults.setInteger(QStringLiteral("AudioFileFormat.LinearPCM.BitDepth"), c.depth);
        else
            defaults.removeObjectForKey(QStringLiteral("AudioFileFormat.LinearPCM.BitDepth"));
        KOAudioFileTypeHelper helper(defaults, c.type);
        EXPECT_EQ(helper.indexOfSelectedStreamDescription(), c.index);
        const auto d = helper.streamDescription();
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->bitDepth(), std::uint32_t(c.depth ? c.depth : 24));
        EXPECT_EQ((d->streamDescription().mFormatFlags & kAudioFormatFlagIsFloat) != 0, c.isFloat);
        EXPECT_EQ(helper.bitrate(), 0u);
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("AudioFileFormat.LinearPCM.BitDepth")),
                  c.depth ? c.depth : 24);
    }
}

TEST_F(KOAudioFileTypeHelperTest, DictionaryRestoresAndFallsBack) {
    allow(true, false);
    struct Case {
        const char* name;
        QVariantMap in;
        std::uint32_t type, format, index;
        std::uint32_t bitRate;
        double rate;
    };
    const Case cases[] = {
        {"type no longer writable",
         {{"FileFormat.AudioFileTypeID", fourCC("MPG3")}},
         fourCC("AIFC"),
         kAudioFormatLinearPCM,
         2,
         0,
         0.0},
        {"index 0 keeps the automatic choice",
         {{"FileFormat.AudioFileTypeID", fourCC("WAVE")},
          {"FileFormat.FormatID", kAudioFormatLinearPCM},
          {"FileFormat.StreamDescription.Index", 0u}},
         fourCC("WAVE"),
         kAudioFormatLinearPCM,
         2,
         0,
         0.0},
        {"index out of range",
         {{"FileFormat.AudioFileTypeID", fourCC("WAVE")},
          {"FileFormat.FormatID", kAudioFormatLinearPCM},
          {"FileFormat.StreamDescription.Index", 99u}},
         fourCC("WAVE"),
         kAudioFormatLinearPCM,
         4294967295u,
         0,
         0.0},
        {"AAC with a bit rate it offers",
         {{"FileFormat.AudioFileTypeID", fourCC("m4af")},
          {"FileFormat.FormatID", fourCC("aac ")},
          {"FileFormat.SampleRate", 48000.0},
          {"FileFormat.BitRate", 192000u}},
         fourCC("m4af"),
         fourCC("aac "),
         0,
         192000,
         48000.0},
        {"AAC with a bit rate it does not offer",
         {{"FileFormat.AudioFileTypeID", fourCC("m4af")},
          {"FileFormat.FormatID", fourCC("aac ")},
          {"FileFormat.BitRate", 100000u}},
         fourCC("m4af"),
         fourCC("aac "),
         0,
         128000,
         0.0},
        {"format the type does not take",
         {{"FileFormat.AudioFileTypeID", fourCC("m4af")}, {"FileFormat.FormatID", 12345u}},
         fourCC("m4af"),
         fourCC("aac "),
         0,
         128000,
         0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.removeObjectForKey(QStringLiteral("AudioFileFormat.LinearPCM.BitDepth"));
        KOAudioFileTypeHelper helper(defaults, c.in);
        EXPECT_EQ(helper.fileTypeID(), c.type);
        EXPECT_EQ(helper.formatID(), c.format);
        EXPECT_EQ(helper.indexOfSelectedStreamDescription(), c.index);
        EXPECT_EQ(helper.bitrate(), c.bitRate);
        EXPECT_EQ(helper.sampleRate(), c.rate);
        // What it saves restores to the same choice.
        const QVariantMap saved = helper.dictionaryRepresentation();
        EXPECT_EQ(saved.value("FileFormat.StreamDescription.Index").toUInt(), c.index);
        KOAudioFileTypeHelper again(defaults, saved);
        EXPECT_EQ(again.dictionaryRepresentation(), saved);
    }
}

TEST_F(KOAudioFileTypeHelperTest, CompressedChoiceStartsAt44100AndKeepsItsSettings) {
    allow(true, false);
    KOAudioFileTypeHelper helper(defaults, fourCC("m4af"));
    helper.setFormatID(fourCC("aac "));
    EXPECT_EQ(helper.sampleRate(), 44100.0);
    EXPECT_EQ(helper.bitrate(), 128000u);
    helper.setSampleRate(48000.0);
    helper.setBitrate(256000);
    helper.setFormatID(fourCC("aac ")); // choosing it again changes nothing
    EXPECT_EQ(helper.sampleRate(), 48000.0);
    EXPECT_EQ(helper.bitrate(), 256000u);
    helper.setFormatID(fourCC("alac"));
    EXPECT_EQ(helper.sampleRate(), 44100.0);
    EXPECT_TRUE(helper.bitrates().empty());
    EXPECT_EQ(helper.bitrate(), 0u) << "lossless takes no bit rate";
}

TEST_F(KOAudioFileTypeHelperTest, ChannelMapKeepsAtMost128Entries) {
    std::vector<std::int32_t> map(200, 3);
    KOAudioFileTypeHelper helper(defaults, fourCC("WAVE"));
    helper.setChannelMap(map.data(), 200);
    EXPECT_EQ(helper.channelMapLength(), 128u);
    helper.setChannelMap(map.data(), 5);
    EXPECT_EQ(helper.channelMapLength(), 5u);
}

TEST_F(KOAudioFileTypeHelperTest, PreferencesChooseTypeAndFormatPerType) {
    allow(true, false);
    {
        KOAudioFileTypeHelper helper(defaults, fourCC("m4af"));
        helper.setFormatID(fourCC("alac"));
        helper.saveToUserDefaults();
    }
    KOAudioFileTypeHelper helper(defaults);
    EXPECT_EQ(helper.fileTypeID(), fourCC("m4af"));
    EXPECT_EQ(helper.formatID(), fourCC("alac"));
    defaults.reload();
    KOAudioFileTypeHelper reloaded(defaults);
    EXPECT_EQ(reloaded.formatID(), fourCC("alac"));
}

} // namespace

#include "engine/KOEncoderCapabilities.h"
#include "platform/audiofile/AudioFormatServices.h"

namespace {

ZOAudioStreamDescription floatSource(std::uint32_t channels, double rate) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagsFloatNonInterleaved;
    d.mBytesPerPacket = d.mBytesPerFrame = 4;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = 32;
    return ZOAudioStreamDescription(d);
}

ZOAudioStreamDescription fileFormat(std::uint32_t formatID, double rate) {
    auto d = ZOAudioStreamDescription::streamDescriptionWithFormatID(formatID);
    d.setSampleRate(rate);
    return d;
}

// What the probe offers decides the bit-rate and sample-rate menus: wrong lists offer settings
// the encoder refuses or hide ones it takes.
TEST(KOEncoderCapabilities, ListsWhatTheEncoderTakesForOneConversion) {
    const std::uint32_t aac = fourCC("aac "), alac = fourCC("alac");
    struct Case {
        const char* name;
        ZOAudioStreamDescription source, destination;
        std::vector<std::int32_t> map;
        bool converter;
        std::size_t bitRates;
        std::uint32_t firstBitRate, lastBitRate;
        std::size_t sampleRates;
    };
    const Case cases[] = {
        {"PCM has neither list",
         floatSource(2, 48000),
         fileFormat(kAudioFormatLinearPCM, 0),
         {},
         true,
         0,
         0,
         0,
         0},
        {"AAC stereo from the source's count",
         floatSource(2, 48000),
         fileFormat(aac, 44100),
         {},
         true,
         15,
         32000,
         512000,
         12},
        {"AAC for eight mapped channels",
         floatSource(2, 48000),
         fileFormat(aac, 48000),
         {0, 1, 0, 1, 0, 1, 0, 1},
         true,
         11,
         128000,
         768000,
         12},
        {"AAC mono at 8 kHz: the frame limit",
         floatSource(2, 48000),
         fileFormat(aac, 8000),
         {1},
         true,
         2,
         32000,
         48000,
         12},
        {"AAC rate from the source when the file names none",
         floatSource(1, 8000),
         fileFormat(aac, 0),
         {},
         true,
         2,
         32000,
         48000,
         12},
        {"AAC takes no nine channels",
         floatSource(2, 48000),
         fileFormat(aac, 48000),
         {0, 1, 0, 1, 0, 1, 0, 1, 0},
         false,
         0,
         0,
         0,
         0},
        {"map naming a channel the device lacks",
         floatSource(2, 48000),
         fileFormat(aac, 48000),
         {0, 5},
         false,
         0,
         0,
         0,
         0},
        {"unmapped entries are allowed",
         floatSource(2, 48000),
         fileFormat(aac, 48000),
         {-1, 1},
         true,
         15,
         32000,
         512000,
         12},
        {"lossless has rates, no bit rates",
         floatSource(2, 48000),
         fileFormat(alac, 44100),
         {},
         true,
         0,
         0,
         0,
         14},
        {"format nothing encodes",
         floatSource(2, 48000),
         fileFormat(fourCC(".mp3"), 44100),
         {},
         false,
         0,
         0,
         0,
         0},
        {"compressed source",
         fileFormat(aac, 48000),
         fileFormat(aac, 48000),
         {},
         false,
         0,
         0,
         0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOEncoderCapabilities probe(std::uint32_t(c.map.size()),
                                    c.map.empty() ? nullptr : c.map.data(), c.source,
                                    c.destination);
        EXPECT_EQ(probe.hasConverter(), c.converter);
        ASSERT_EQ(probe.bitRates().size(), c.bitRates);
        if (c.bitRates) {
            EXPECT_EQ(probe.bitRates().front(), c.firstBitRate);
            EXPECT_EQ(probe.bitRates().back(), c.lastBitRate);
            EXPECT_TRUE(std::is_sorted(probe.bitRates().begin(), probe.bitRates().end()));
        }
        EXPECT_EQ(probe.sampleRates().size(), c.sampleRates);
        if (c.converter) {
            EXPECT_EQ(probe.channelMap(), c.map);
        }
    }
}

// The rate a compressed file is written at: the one asked for when the encoder takes it,
// otherwise the next one up, otherwise the highest.
TEST(KOEncoderCapabilities, CompressedFileRateIsOneTheEncoderTakes) {
    namespace services = koru::platform::AudioFormatServices;
    struct Case {
        std::uint32_t format;
        double requested, expected;
    };
    const Case cases[] = {
        {fourCC("aac "), 48000, 48000},   {fourCC("aac "), 44100, 44100},
        {fourCC("aac "), 50000, 64000},   {fourCC("aac "), 192000, 96000},
        {fourCC("aac "), 4000, 8000},     {fourCC("alac"), 192000, 192000},
        {fourCC("alac"), 384000, 192000}, {kAudioFormatLinearPCM, 48000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(koru::platform::fourCCToString(c.format).toStdString() + " " +
                     std::to_string(c.requested));
        EXPECT_EQ(services::encodeSampleRateFor(c.format, c.requested), c.expected);
    }
}

TEST_F(KOAudioFileTypeHelperTest, BitRatesFollowTheChannelMapAndTheRate) {
    allow(true, false);
    KOAudioFileTypeHelper helper(defaults, fourCC("m4af"));
    helper.setFormatID(fourCC("aac "));
    helper.setSourceFormat(floatSource(8, 48000));
    // Without a map the source's eight channels are encoded.
    EXPECT_EQ(helper.bitrates().front(), 128000u);
    const std::int32_t mono[] = {3};
    const auto monoRates = helper.bitratesWithChannelMap(mono, 1);
    ASSERT_FALSE(monoRates.empty());
    EXPECT_EQ(monoRates.front(), 32000u);
    EXPECT_EQ(helper.bitrates(), monoRates) << "the map is kept for later queries";
    // At 8 kHz a mono encoder offers neither the asked-for rate nor 128000: the last one.
    helper.setSampleRate(8000.0);
    helper.setBitrate(100000);
    EXPECT_EQ(helper.bitrate(), 48000u);
    // The probe sees every channel of a long map, while only 128 are stored.
    std::vector<std::int32_t> wide(200, 0);
    EXPECT_TRUE(helper.bitratesWithChannelMap(wide.data(), 200).empty());
    EXPECT_EQ(helper.channelMapLength(), 128u);
}

TEST_F(KOAudioFileTypeHelperTest, SampleRatesOnlyForCompressedFormats) {
    allow(true, false);
    KOAudioFileTypeHelper helper(defaults, fourCC("m4af"));
    helper.setFormatID(fourCC("aac "));
    const auto rates = helper.sampleRates();
    ASSERT_EQ(rates.size(), 12u);
    EXPECT_EQ(rates.front(), 8000.0);
    EXPECT_EQ(rates.back(), 96000.0);
    EXPECT_NE(std::find(rates.begin(), rates.end(), 44100.0), rates.end());
    helper.setAudioFileTypeID(fourCC("WAVE"));
    EXPECT_TRUE(helper.sampleRates().empty()) << "PCM is written at the device rate";
}

// The names the window's menus and summary show, also under a decimal-comma locale (a rate
// must never read "44.100").
TEST_F(KOAudioFileTypeHelperTest, NamesAndExtensionsOfTheChoice) {
    allow(true, false);
    struct Case {
        std::uint32_t type, format;
        const char* typeName;
        const char* formatName;
        const char* extension;
        const char* readable;
    };
    const Case cases[] = {
        {fourCC("WAVE"), kAudioFormatLinearPCM, "WAVE", "Linear PCM", "wav",
         "WAVE, 24-bit Little-Endian Signed Integer"},
        {fourCC("AIFF"), kAudioFormatLinearPCM, "AIFF", "Linear PCM", "aiff",
         "AIFF, 24-bit Big-Endian Signed Integer"},
        {fourCC("m4af"), fourCC("aac "), "Apple MPEG-4 Audio", "AAC", "m4a",
         "Apple MPEG-4 Audio, AAC, Sample Rate: 44100Hz, Bitrate: 128000 bps"},
        {fourCC("m4af"), fourCC("alac"), "Apple MPEG-4 Audio", "Apple Lossless", "m4a",
         "Apple MPEG-4 Audio, Apple Lossless, Sample Rate: 44100Hz"},
    };
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(locale) + " " + c.readable);
            defaults.removeObjectForKey(QStringLiteral("AudioFileFormat.LinearPCM.BitDepth"));
            KOAudioFileTypeHelper helper(defaults, c.type);
            helper.setFormatID(c.format);
            EXPECT_EQ(helper.name(), QString::fromUtf8(c.typeName));
            EXPECT_EQ(helper.nameForFormatID(), QString::fromUtf8(c.formatName));
            EXPECT_EQ(helper.fileExtension(), QString::fromUtf8(c.extension));
            EXPECT_EQ(helper.readableName(), QString::fromUtf8(c.readable));
        }
    }
}

} // namespace
