#include "support/TestSupport.h"

#include "app/KORUDictionaryAdditions.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/exceptions/FrameworkException.h"
#include "utility/VEFileManager.h"

#include <QDir>
#include <QFile>
#include <QPoint>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Additions = KORUDictionaryAdditions;
using koru::platform::FrameworkException;

const QString kD = QStringLiteral("d");
const QString kL = QStringLiteral("l");
const QString kDbc = QStringLiteral("dbc");

KOFloatBuffer bufferOf(const std::vector<float>& values, bool decibel = false) {
    return KOFloatBuffer(values.data(), std::uint32_t(values.size()), decibel);
}

// Bit patterns, so NaN payloads and signed zeros compare too.
std::vector<std::uint32_t> bitsOf(const KOFloatBuffer& buffer) {
    std::vector<std::uint32_t> bits;
    for (std::uint32_t i = 0; i < buffer.Length(); ++i)
        bits.push_back(std::bit_cast<std::uint32_t>(buffer.Data()[i]));
    return bits;
}

std::vector<float> valuesOf(const KOFloatBuffer& buffer) {
    return std::vector<float>(buffer.Data(), buffer.Data() + buffer.Length());
}

struct BufferState {
    std::vector<std::uint32_t> bits;
    bool decibel;
    bool operator==(const BufferState&) const = default;
};

BufferState stateOf(const KOFloatBuffer& buffer) {
    return {bitsOf(buffer), buffer.IsDecibel()};
}

std::vector<BufferState> stateOf(const KOTransferResults& results) {
    return {stateOf(*results.magnitude()), stateOf(*results.phase()),
            stateOf(*results.coherence())};
}

KOTransferResults resultsOf(const std::vector<float>& magnitude, const std::vector<float>& phase,
                            const std::vector<float>& coherence) {
    const KOFloatBuffer m = bufferOf(magnitude);
    const KOFloatBuffer p = bufferOf(phase);
    const KOFloatBuffer c = bufferOf(coherence);
    return KOTransferResults(&m, &p, &c);
}

QString supportPath(const QString& name) {
    return VEFileManager::pathToFileInSupportDirectory(name);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// Every file of the support folder with its contents.
std::map<QString, QByteArray> supportFolderContents() {
    std::map<QString, QByteArray> contents;
    const QDir folder(VEFileManager::mySupportDirectory());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
        contents[name] = fileBytes(folder.filePath(name));
    return contents;
}

struct Raised {
    QString name;
    QString reason;
    bool operator==(const Raised&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Raised& raised) {
    return os << raised.name.toStdString() << " / " << raised.reason.toStdString();
}

std::optional<Raised> raisedBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const FrameworkException& e) {
        return Raised{e.name(), e.reason()};
    }
    return std::nullopt;
}

const QString kBufferError = QString::fromLatin1(Additions::kUnableToCopyFloatBuffer);
const QString kResultsError = QString::fromLatin1(Additions::kUnableToCopyTransferResults);

TEST(KORUDictionaryAdditionsTest, FloatBufferElementsAreLittleEndianFloat32Bytes) {
    const QVariantMap dictionary =
        Additions::dictionaryFromFloatBuffer(bufferOf({1.0f, -1.0f, 0.5f, 0.0f}, true));
    EXPECT_EQ(dictionary.value(kD).toByteArray(),
              QByteArray::fromHex("0000803F000080BF0000003F00000000"));
    EXPECT_EQ(dictionary.value(kL).toUInt(), 4u);
    EXPECT_EQ(dictionary.value(kDbc), QVariant(true));
    EXPECT_EQ(dictionary.size(), 3);
}

// Every form through a file written and read back by the program, and every refusal, in the C
// locale and in one that writes decimal commas.
class DictionaryFormsUnderLocale : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        locale.emplace(GetParam());
        if (!locale->active())
            GTEST_SKIP() << GetParam() << " is not installed";
    }

    QVariantMap throughFile(const QVariantMap& dictionary) {
        const QString name = QStringLiteral("roundtrip-%1.plist").arg(++files);
        EXPECT_TRUE(Additions::writeToFileInAppSupportDirectory(dictionary, name));
        EXPECT_TRUE(fileBytes(supportPath(name)).startsWith("<?xml"));
        const auto read = Additions::dictionaryFromFileInSupportDirectory(name);
        EXPECT_TRUE(read.has_value()) << name.toStdString();
        return read.value_or(QVariantMap());
    }

    std::optional<koru::test::ScopedLocale> locale;
    int files = 0;
};

TEST_P(DictionaryFormsUnderLocale, FloatBufferKeepsEveryBitAndItsFlag) {
    const std::vector<float> values{1.0f,
                                    -1.0f,
                                    0.1f,
                                    -0.0f,
                                    std::numeric_limits<float>::denorm_min(),
                                    -3.4e38f,
                                    std::numeric_limits<float>::infinity(),
                                    std::bit_cast<float>(0x7FC01234u)};
    for (const bool decibel : {false, true}) {
        const KOFloatBuffer original = bufferOf(values, decibel);
        const QVariantMap read = throughFile(Additions::dictionaryFromFloatBuffer(original));

        const auto made = Additions::floatBuffer(read);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(stateOf(*made), stateOf(original));

        KOFloatBuffer destination(std::uint32_t(values.size()));
        destination.SetDecibel(!decibel);
        Additions::copyToFloatBuffer(read, destination);
        EXPECT_EQ(stateOf(destination), stateOf(original));
    }
}

TEST_P(DictionaryFormsUnderLocale, TransferResultsComeBackIntoTheirOwnBuffers) {
    KOTransferResults original = resultsOf({1e-3f, 2, 3}, {-3.14f, 0, 1.5f}, {0.25f, 0.5f, 1});
    original.magnitude()->ToDecibels(0, 1.0f);
    const QVariantMap read = throughFile(Additions::dictionaryWithTransferResult(original));

    KOTransferResults destination(3);
    const KOFloatBuffer* magnitude = destination.magnitude();
    Additions::copyToTransferResults(read, destination);
    EXPECT_EQ(stateOf(destination), stateOf(original));
    EXPECT_EQ(destination.magnitude(), magnitude) << "overwritten in place";
}

TEST_P(DictionaryFormsUnderLocale, DrawingDataKeepsItsSettings) {
    const struct Case {
        QColor color;
        std::uint32_t drawMode;
        double offset;
        double offsetBack;
        bool visible, invert, showDetails;
    } cases[] = {
        {QColor::fromRgbF(0.25f, 0.5f, 0.75f, 0.8f), KOFFTDrawingData::kPeakBars, 0.1, double(0.1f),
         false, true, true},
        {QColor::fromRgbF(0, 0, 1, 1), KOFFTDrawingData::kContinuous, -144.0, -144.0, true, false,
         false},
        {QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1), KOFFTDrawingData::kOctaveBars, -12.5, -12.5, true,
         true, false},
        {QColor::fromRgbF(1, 0.2f, 0, 0.5f), 0xFFFFFFFFu, 96.0, 96.0, false, false, true},
    };
    for (const Case& c : cases) {
        KOFFTDrawingData original(c.drawMode, c.visible, c.offset);
        original.SetColor(c.color);
        original.setInvert(c.invert);
        original.setShowDetails(c.showDetails);
        const QVariantMap read = throughFile(Additions::dictionaryWithDrawingData(original));

        KOFFTDrawingData restored(KOFFTDrawingData::kFilled, !c.visible, 0.0);
        restored.setInvert(!c.invert);
        restored.setShowDetails(!c.showDetails);
        Additions::copyToDrawingData(read, restored);
        EXPECT_EQ(restored.Color(), c.color.toRgb()) << c.color.name().toStdString();
        EXPECT_EQ(restored.drawMode(), c.drawMode);
        EXPECT_EQ(restored.offset(), c.offsetBack);
        EXPECT_EQ(restored.visible(), c.visible);
        EXPECT_EQ(restored.invert(), c.invert);
        EXPECT_EQ(restored.showDetails(), c.showDetails);
    }
}

TEST_P(DictionaryFormsUnderLocale, ASessionLikeDictionaryReadsBackEqual) {
    KOFFTDrawingData trace(KOFFTDrawingData::kFilled, true, 0.1);
    const QVariantMap session{
        {"KORU.SessionID", "6F1B8C1E-3A2B-4C5D-8E9F-0A1B2C3D4E5F"},
        {"buffer", Additions::dictionaryFromFloatBuffer(bufferOf({0.1f, -2.5f}, true))},
        {"result", Additions::dictionaryWithTransferResult(KOTransferResults(4))},
        {"trace", Additions::dictionaryWithDrawingData(trace)},
        {"list", QVariantList{1, 2.5, "drei"}},
    };
    EXPECT_EQ(throughFile(session), session);
}

TEST_P(DictionaryFormsUnderLocale, BadFloatBufferDictionariesRaiseAndLeaveTheBufferAlone) {
    const QVariantMap good = Additions::dictionaryFromFloatBuffer(bufferOf({1, 2, 3, 4}, true));
    const auto with = [&](const QString& key, const QVariant& value) {
        QVariantMap dictionary = good;
        if (value.isValid())
            dictionary.insert(key, value);
        else
            dictionary.remove(key);
        return dictionary;
    };
    const QByteArray bytes = good.value(kD).toByteArray();
    const struct Case {
        const char* what;
        QVariantMap dictionary;
        QString copyReason; // into a buffer of four elements
        QString makeReason; // floatBuffer()
    } cases[] = {
        {"longer l", with(kL, 16384), "Length in Dictionary is 16384, given buffer is4 long",
         R"("d" in Dictionary holds 16 bytes, 16384 elements need 65536)"},
        {"one byte short", with(kD, bytes.left(15)),
         R"("d" in Dictionary holds 15 bytes, 4 elements need 16)",
         R"("d" in Dictionary holds 15 bytes, 4 elements need 16)"},
        {"l of -1", with(kL, -1), "Length in Dictionary is 4294967295, given buffer is4 long",
         R"("d" in Dictionary holds 16 bytes, 4294967295 elements need 17179869180)"},
        {"4 l past 32 bits", with(kL, 1 << 30),
         "Length in Dictionary is 1073741824, given buffer is4 long",
         R"("d" in Dictionary holds 16 bytes, 1073741824 elements need 4294967296)"},
        {"l of 0", with(kL, 0), "Length in Dictionary is 0, given buffer is4 long",
         "Length in Dictionary is 0"},
        {"no d", with(kD, {}), R"("d" in Dictionary is missing or no data)",
         R"("d" in Dictionary is missing or no data)"},
        {"d as text", with(kD, QString::fromLatin1(bytes.toHex())),
         R"("d" in Dictionary is missing or no data)",
         R"("d" in Dictionary is missing or no data)"},
        {"no l", with(kL, {}), R"("l" in Dictionary is missing or no number)",
         R"("l" in Dictionary is missing or no number)"},
        {"l as text", with(kL, "4"), R"("l" in Dictionary is missing or no number)",
         R"("l" in Dictionary is missing or no number)"},
        {"dbc as data", with(kDbc, QByteArray("\1")), R"("dbc" in Dictionary is no number)",
         R"("dbc" in Dictionary is no number)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KOFloatBuffer destination = bufferOf({9, 8, 7, 6});
        const BufferState before = stateOf(destination);
        EXPECT_EQ(raisedBy([&] { Additions::copyToFloatBuffer(c.dictionary, destination); }),
                  (Raised{kBufferError, c.copyReason}));
        EXPECT_EQ(stateOf(destination), before);
        EXPECT_EQ(raisedBy([&] { Additions::floatBuffer(c.dictionary); }),
                  (Raised{kBufferError, c.makeReason}));
    }
}

TEST_P(DictionaryFormsUnderLocale, AMissingFlagReadsAsLinearAndALongerDataIsCut) {
    QVariantMap dictionary = Additions::dictionaryFromFloatBuffer(bufferOf({1, 2}, true));
    dictionary.remove(kDbc);
    dictionary.insert(kD, dictionary.value(kD).toByteArray() + QByteArray(4, '\x7f'));
    KOFloatBuffer destination(2);
    destination.SetDecibel(true);
    Additions::copyToFloatBuffer(dictionary, destination);
    EXPECT_EQ(valuesOf(destination), (std::vector<float>{1, 2}));
    EXPECT_FALSE(destination.IsDecibel());
    EXPECT_EQ(Additions::floatBuffer(dictionary)->Length(), 2u);
}

TEST_P(DictionaryFormsUnderLocale, BadTransferDictionariesRaiseBeforeAnyBufferIsWritten) {
    const QVariantMap good = Additions::dictionaryWithTransferResult(
        resultsOf({1, 2, 3, 4}, {5, 6, 7, 8}, {0.1f, 0.2f, 0.3f, 0.4f}));
    const QVariantMap fiveLong = Additions::dictionaryFromFloatBuffer(KOFloatBuffer(5));
    const auto with = [&](const char* key, const QVariant& value) {
        QVariantMap dictionary = good;
        if (value.isValid())
            dictionary.insert(QString::fromLatin1(key), value);
        else
            dictionary.remove(QString::fromLatin1(key));
        return dictionary;
    };
    QVariantMap shortCoherence = good.value(Additions::kCoherenceKey).toMap();
    shortCoherence.insert(kD, shortCoherence.value(kD).toByteArray().left(12));
    const QString mismatch = "Length in Dictionary is 5, given buffer is4 long";
    const struct Case {
        const char* what;
        QVariantMap dictionary;
        Raised raised;
    } cases[] = {
        {"magnitude length", with(Additions::kMagnitudeKey, fiveLong), {kResultsError, mismatch}},
        {"phase length", with(Additions::kPhaseKey, fiveLong), {kBufferError, mismatch}},
        {"coherence length", with(Additions::kCoherenceKey, fiveLong), {kBufferError, mismatch}},
        {"coherence data short",
         with(Additions::kCoherenceKey, shortCoherence),
         {kBufferError, R"("d" in Dictionary holds 12 bytes, 4 elements need 16)"}},
        {"no phase",
         with(Additions::kPhaseKey, {}),
         {kResultsError, R"("Data.Phase" in Dictionary is missing or no dictionary)"}},
        {"coherence as text",
         with(Additions::kCoherenceKey, "0.5"),
         {kResultsError, R"("Data.Coherence" in Dictionary is missing or no dictionary)"}},
        {"empty dictionary",
         {},
         {kResultsError, R"("Data.Magnitude" in Dictionary is missing or no dictionary)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KOTransferResults destination = resultsOf({-1, -2, -3, -4}, {9, 9, 9, 9}, {1, 1, 1, 1});
        const auto before = stateOf(destination);
        EXPECT_EQ(raisedBy([&] { Additions::copyToTransferResults(c.dictionary, destination); }),
                  c.raised);
        EXPECT_EQ(stateOf(destination), before);
    }

    KOTransferResults empty(nullptr, nullptr, nullptr);
    EXPECT_EQ(raisedBy([&] { Additions::copyToTransferResults(good, empty); }),
              (Raised{kResultsError, "Given results hold no buffers"}));
    EXPECT_TRUE(Additions::dictionaryWithTransferResult(empty).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Locales, DictionaryFormsUnderLocale, ::testing::Values("C", "de_DE.UTF-8"),
                         [](const auto& info) {
                             return std::string(info.param[0] == 'C' ? "C" : "decimalComma");
                         });

TEST(KORUDictionaryAdditionsTest, DamagedDrawingDictionariesReadAsDefaults) {
    const struct Case {
        const char* what;
        QVariantMap dictionary;
        std::uint32_t drawMode;
        double offset;
    } cases[] = {
        {"empty", {}, 0, 0.0},
        {"texts",
         {{Additions::kDrawingModeKey, "2 bars"},
          {Additions::kOffsetKey, "-6,5"},
          {Additions::kVisibleKey, "YES"},
          {Additions::kColorKey, "red"}},
         2,
         -6.0},
        {"mistyped",
         {{Additions::kDrawingModeKey, QVariantList{3}},
          {Additions::kOffsetKey, QByteArray("\1\2")},
          {Additions::kInvertKey, QVariantMap{}},
          {Additions::kColorKey, QVariantList{1, 0, 0, 1}}},
         0,
         0.0},
        {"not finite", {{Additions::kOffsetKey, std::numeric_limits<double>::quiet_NaN()}}, 0, 0.0},
        {"too large", {{Additions::kOffsetKey, 1e300}}, 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KOFFTDrawingData data(KOFFTDrawingData::kPeakBars, true, -144.0);
        data.setInvert(true);
        data.setShowDetails(true);
        Additions::copyToDrawingData(c.dictionary, data);
        EXPECT_EQ(data.drawMode(), c.drawMode);
        EXPECT_EQ(data.offset(), c.offset);
        EXPECT_EQ(data.visible(), std::string(c.what) == "texts");
        EXPECT_FALSE(data.invert());
        EXPECT_FALSE(data.showDetails());
        EXPECT_TRUE(data.Color().isValid());
        EXPECT_GT(data.Color().alphaF(), 0.0f) << "a missing colour gives a visible trace colour";
    }
}

TEST(KORUDictionaryAdditionsTest, UnusableFilesAnswerNoneAndChangeNothing) {
    const QVariantMap session{{"KORU.SessionID", "A"}, {"n", 3}};
    ASSERT_TRUE(Additions::writeToFileInAppSupportDirectory(session, "keep.kosession"));
    const QByteArray whole = fileBytes(supportPath("keep.kosession"));
    writeBytes(supportPath("truncated.kosession"), whole.left(whole.size() / 2));
    writeBytes(supportPath("empty.kosession"), {});
    // An array is a valid property list, but no dictionary.
    writeBytes(supportPath("list.plist"), "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                          "<integer>1</integer></array></plist>");
    const auto before = supportFolderContents();

    for (const char* name :
         {"missing.kosession", "truncated.kosession", "empty.kosession", "list.plist"}) {
        EXPECT_FALSE(Additions::dictionaryFromFileInSupportDirectory(name).has_value()) << name;
    }
    EXPECT_EQ(supportFolderContents(), before);
    EXPECT_EQ(Additions::dictionaryFromFileInSupportDirectory("keep.kosession"), session);
}

TEST(KORUDictionaryAdditionsTest, AFailedWriteKeepsTheOldFile) {
    const QVariantMap first{{"generation", 1}};
    ASSERT_TRUE(Additions::writeToFileInAppSupportDirectory(first, "failing.kosession"));
    const auto before = supportFolderContents();

    // A value no property list can hold makes the write fail after the old file was there.
    EXPECT_FALSE(Additions::writeToFileInAppSupportDirectory(
        {{"generation", 2}, {"where", QPoint(1, 2)}}, "failing.kosession"));
    EXPECT_EQ(supportFolderContents(), before) << "no temporary file is left behind either";
    EXPECT_EQ(Additions::dictionaryFromFileInSupportDirectory("failing.kosession"), first);

    const QVariantMap second{{"generation", 2}};
    ASSERT_TRUE(Additions::writeToFileInAppSupportDirectory(second, "failing.kosession"));
    EXPECT_EQ(Additions::dictionaryFromFileInSupportDirectory("failing.kosession"), second);
}

} // namespace
