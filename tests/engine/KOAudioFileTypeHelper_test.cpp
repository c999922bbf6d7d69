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
        {false, false, fourCC("WAVE"), {lpcm}},    {false, false, fourCC("m4af"), {}},
        {false, true, fourCC("m4af"), {}},         {true, false, fourCC("m4af"), {aac, alac}},
        {true, true, fourCC("m4af"), {aac, alac}}, {true, true, fourCC("caff"), {lpcm}},
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
