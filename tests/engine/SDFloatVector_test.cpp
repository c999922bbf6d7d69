#include "engine/KOFloatVector.h"
#include "engine/SDDoubleFloatVector.h"
#include "engine/SDFloatVector.h"
#include "platform/archive/KeyedArchive.h"
#include "platform/fourcc/FourCC.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

template <typename Vector> std::vector<typename Vector::value_type> valuesOf(const Vector& v) {
    return {v.data(), v.data() + v.length()};
}

template <typename Vector>
std::shared_ptr<Vector> vectorOf(const std::vector<typename Vector::value_type>& values) {
    return std::make_shared<Vector>(values.data(), values.size());
}

// Operations both precisions share.
template <typename Vector> class RealVectorTest : public ::testing::Test {
protected:
    using T = typename Vector::value_type;
    static std::shared_ptr<Vector> of(const std::vector<T>& values) {
        return vectorOf<Vector>(values);
    }
};

using RealVectorTypes = ::testing::Types<SDFloatVector, SDDoubleFloatVector>;
TYPED_TEST_SUITE(RealVectorTest, RealVectorTypes);

TYPED_TEST(RealVectorTest, StorageIsPageAlignedAndEmptyHasNone) {
    const auto v = TestFixture::of({1, 2, 3});
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v->data()) % 4096, 0u);
    EXPECT_EQ(v->byteLength(), 3 * sizeof(typename TestFixture::T));
    v->allocate(0);
    EXPECT_EQ(v->length(), 0u);
    EXPECT_EQ(v->data(), nullptr);
    v->allocate(2);
    EXPECT_EQ(valuesOf(*v), (std::vector<typename TestFixture::T>{0, 0}));
}

TYPED_TEST(RealVectorTest, ScalarAndElementwiseArithmetic) {
    using T = typename TestFixture::T;
    auto v = TestFixture::of({1, -2, 4});
    v->scalarMul(3).scalarDiv(2);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{1.5, -3, 6}));
    v->vmul(*TestFixture::of({2, 2, 0.5})).vdiv(*TestFixture::of({1, -3, 3}));
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{3, 2, 1}));
    v->square();
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{9, 4, 1}));
    v->sqrt();
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{3, 2, 1}));
    v->fill(7);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{7, 7, 7}));
    v->clear();
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{0, 0, 0}));
}

TYPED_TEST(RealVectorTest, AddAndSubtractWorkOverTheShorterLength) {
    using T = typename TestFixture::T;
    auto v = TestFixture::of({10, 20, 30});
    v->vadd(*TestFixture::of({1, 2}));
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{11, 22, 30}));
    v->vsub(*TestFixture::of({1, 2, 3, 4}));
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{10, 20, 27}));
}

TYPED_TEST(RealVectorTest, NormalizeLeavesASilentVectorUnchanged) {
    using T = typename TestFixture::T;
    auto v = TestFixture::of({1, -4, 2});
    v->normalize();
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{0.25, -1, 0.5}));
    auto silent = TestFixture::of({0, 0});
    silent->normalize();
    EXPECT_EQ(valuesOf(*silent), (std::vector<T>{0, 0}));
}

TYPED_TEST(RealVectorTest, ConvertToDecibels) {
    auto v = TestFixture::of({100, 0.1});
    v->convertToDecibels(0);
    EXPECT_NEAR(v->data()[0], 20, 1e-5);
    EXPECT_NEAR(v->data()[1], -10, 1e-5);
    auto a = TestFixture::of({100});
    a->convertToDecibels(1);
    EXPECT_NEAR(a->data()[0], 40, 1e-5);
}

TYPED_TEST(RealVectorTest, ReverseHalfAndRotation) {
    using T = typename TestFixture::T;
    auto v = TestFixture::of({1, 2, 3});
    v->shift(1);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{3, 1, 2}));
    v->shift(-1);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{1, 2, 3}));
    v->shift(-1);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{2, 3, 1}));
    v->shift(4).shift(0);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{1, 2, 3}));
    v->reverse();
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{3, 2, 1}));

    auto five = TestFixture::of({1, 2, 3, 4, 5});
    const auto* storage = five->data();
    five->half();
    EXPECT_EQ(five->length(), 2u);
    EXPECT_EQ(five->data(), storage);

    auto empty = TestFixture::of({});
    empty->shift(3).reverse();
    EXPECT_EQ(empty->length(), 0u);
}

TYPED_TEST(RealVectorTest, AppendVectorIncludingItself) {
    using T = typename TestFixture::T;
    auto v = TestFixture::of({1, 2});
    v->appendVector(*TestFixture::of({3}));
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{1, 2, 3}));
    v->appendVector(*v);
    EXPECT_EQ(valuesOf(*v), (std::vector<T>{1, 2, 3, 1, 2, 3}));
}

TYPED_TEST(RealVectorTest, MeasuresAndSubvectors) {
    using T = typename TestFixture::T;
    const auto v = TestFixture::of({1, -3, 3, 2});
    std::uint64_t index = 99;
    EXPECT_EQ(v->maxMag(&index), 3);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(v->maxMag(), 3);
    EXPECT_NEAR(v->rms(), std::sqrt(23.0 / 4.0), 1e-6);

    EXPECT_EQ(valuesOf(*v->subvectorOfRange(1, 2)), (std::vector<T>{-3, 3}));
    EXPECT_EQ(v->subvectorOfRange(4, 0)->length(), 0u);
    EXPECT_THROW(v->subvectorOfRange(3, 2), std::out_of_range);
    EXPECT_THROW(v->subvectorOfRange(5, 0), std::out_of_range);
}

TYPED_TEST(RealVectorTest, AdjustedToLengthResamplesLinearly) {
    const auto v = TestFixture::of({0, 1, 2});
    const auto five = v->vectorAdjustedToLength(5);
    const std::vector<double> expected{0, 0.4, 0.8, 1.2, 1.6};
    ASSERT_EQ(five->length(), 5u);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(five->data()[i], expected[i], 1e-6);

    const auto same = v->vectorAdjustedToLength(3);
    EXPECT_NE(same.get(), v.get());
    EXPECT_EQ(valuesOf(*same), valuesOf(*v));
    EXPECT_EQ(TestFixture::of({})->vectorAdjustedToLength(2)->length(), 2u);
}

TYPED_TEST(RealVectorTest, EqualElementsAreEqualWithTheSameHash) {
    const auto a = TestFixture::of({1.5, -2});
    const auto b = TestFixture::of({1.5, -2});
    const auto c = TestFixture::of({1.5, -2.5});
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_FALSE(a->isEqual(*TestFixture::of({1.5})));
    EXPECT_TRUE(TestFixture::of({})->isEqual(*TestFixture::of({})));
}

TYPED_TEST(RealVectorTest, DebugDescriptionIsLocaleIndependent) {
    const auto v = TestFixture::of({1.5, -2, 1e-7});
    const QString expected = QStringLiteral("0\t1.5\n1\t-2\n2\t1e-07\n");
    EXPECT_EQ(v->debugDescription(), expected);
    koru::test::ScopedLocale german("de_DE.UTF-8");
    if (!german.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(v->debugDescription(), expected);
}

TYPED_TEST(RealVectorTest, QuickLookPathRunsOverTheElements) {
    const auto path = TestFixture::of({0.5, -1})->debugQuickLookObject();
    ASSERT_EQ(path.elementCount(), 3);
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(512, -100));
}

TYPED_TEST(RealVectorTest, ArchiveRoundTripUnderEveryLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        const auto v = TestFixture::of({1.5, -2, 1e-30});
        QString error;
        const auto decoded = KeyedUnarchiver::unarchive(KeyedArchiver::archivedData(*v), &error);
        ASSERT_TRUE(decoded) << error.toStdString();
        const auto* typed = dynamic_cast<TypeParam*>(decoded.get());
        ASSERT_NE(typed, nullptr);
        EXPECT_EQ(valuesOf(*typed), valuesOf(*v)) << locale;
    }
}

TYPED_TEST(RealVectorTest, EmptyVectorArchivesWithoutDataAndReadsBackEmpty) {
    const auto empty = TestFixture::of({});
    EXPECT_FALSE(KeyedArchiver::encodeToDictionary(*empty).contains("dat"));
    const auto decoded = KeyedUnarchiver::unarchive(KeyedArchiver::archivedData(*empty));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(dynamic_cast<TypeParam&>(*decoded).length(), 0u);
}

TYPED_TEST(RealVectorTest, OnlyWholeArchivedElementsAreRead) {
    using T = typename TestFixture::T;
    auto dictionary = KeyedArchiver::encodeToDictionary(*TestFixture::of({4, 5}));
    QByteArray bytes = dictionary.value("dat").toByteArray();
    bytes.append(char(1));
    dictionary.insert("dat", bytes);
    const auto decoded = KeyedUnarchiver::decodeFromDictionary(dictionary);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(valuesOf(dynamic_cast<TypeParam&>(*decoded)), (std::vector<T>{4, 5}));
}

TEST(SDFloatVectorTest, PrecisionsAndSubclassesInEquality) {
    const float f[] = {1, 2};
    const double d[] = {1, 2};
    const auto single = SDFloatVector::vectorWithData(f, 2);
    const auto derived = KOFloatVector::vectorWithData(f, 2);
    const auto dbl = SDDoubleFloatVector::vectorWithData(d, 2);
    // A subclass instance is accepted by the base class, not the other way round.
    EXPECT_TRUE(single->isEqual(*derived));
    EXPECT_FALSE(derived->isEqual(*single));
    EXPECT_TRUE(derived->isEqual(*KOFloatVector::vectorWithData(f, 2)));
    EXPECT_FALSE(single->isEqual(*dbl));
    EXPECT_FALSE(dbl->isEqual(*single));
}

TEST(SDFloatVectorTest, CopyIsOfTheBaseClass) {
    const float f[] = {1, 2};
    const auto derived = KOFloatVector::vectorWithData(f, 2);
    const std::shared_ptr<SDFloatVector> copy = derived->copy();
    EXPECT_EQ(typeid(*copy), typeid(SDFloatVector));
    EXPECT_NE(copy->data(), derived->data());
    EXPECT_EQ(valuesOf(*copy), valuesOf(*derived));
}

TEST(SDFloatVectorTest, SubclassArchivesUnderItsOwnName) {
    const float f[] = {3, 4};
    const auto derived = KOFloatVector::vectorWithData(f, 2);
    const auto decoded = KeyedUnarchiver::unarchive(KeyedArchiver::archivedData(*derived));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->archiveClassName(), "KOFloatVector");
    EXPECT_NE(dynamic_cast<KOFloatVector*>(decoded.get()), nullptr);
}

TEST(SDFloatVectorTest, CorrelationNeedsEqualLengths) {
    const auto a = vectorOf<SDFloatVector>({1, 2, -1, 0.5f});
    auto b = a->copy();
    b->scalarMul(-2);
    EXPECT_NEAR(a->correlation(*a), 1.0f, 1e-6f);
    EXPECT_NEAR(a->correlation(*b), -1.0f, 1e-6f);
    EXPECT_TRUE(std::isnan(a->correlation(*vectorOf<SDFloatVector>({1, 2}))));
}

TEST(SDFloatVectorTest, PadToLengthAppendsZerosOnly) {
    auto v = vectorOf<SDFloatVector>({1, 2});
    v->padToLength(4);
    EXPECT_EQ(valuesOf(*v), (std::vector<float>{1, 2, 0, 0}));
    v->padToLength(4).padToLength(1);
    EXPECT_EQ(v->length(), 4u);
}

TEST(SDFloatVectorTest, PrecisionConversions) {
    EXPECT_EQ(SDFloatVector().doublePrecisionVector(), nullptr);
    EXPECT_EQ(SDDoubleFloatVector().singlePrecisionVector(), nullptr);
    const auto dbl = vectorOf<SDFloatVector>({0.1f, -3})->doublePrecisionVector();
    EXPECT_EQ(valuesOf(*dbl), (std::vector<double>{double(0.1f), -3}));
    const auto single = vectorOf<SDDoubleFloatVector>({0.1, 1e40})->singlePrecisionVector();
    EXPECT_EQ(single->data()[0], 0.1f);
    EXPECT_TRUE(std::isinf(single->data()[1]));
}

struct DecimationCase {
    std::vector<float> input;
    std::uint64_t target;
    std::vector<float> expected;
};

TEST(SDFloatVectorTest, PeakKeepingDecimation) {
    const std::vector<DecimationCase> cases{
        // q = 4, block 2, count 4: each block keeps its larger excursion with its sign.
        {{1, -3, 2, 2, 0, 5, -1, -1}, 2, {-3, 2, 5, -1}},
        // a tie keeps the maximum
        {{-2, 2, 2, -2}, 1, {2, 2}},
        // q = 3, block 2: a trailing partial block is dropped
        {{1, 2, 3, 4, 5, 6, 7}, 2, {2, 4, 6}},
        // q = 5, block 4
        {{0, 0, 0, -9, 1, 1, 1, 1, 0, 0}, 2, {-9, 1}},
    };
    for (const auto& c : cases) {
        const auto reduced =
            vectorOf<SDFloatVector>(c.input)->vectorMaxMagAdjustedToLength(c.target);
        EXPECT_EQ(valuesOf(*reduced), c.expected);
        EXPECT_EQ(typeid(*reduced), typeid(SDFloatVector));
    }
}

TEST(SDFloatVectorTest, DecimationReturnsTheVectorItselfWhenNothingIsReduced) {
    const auto five = vectorOf<SDFloatVector>({1, 2, 3, 4, 5});
    EXPECT_EQ(five->vectorMaxMagAdjustedToLength(3), five);
    EXPECT_EQ(five->vectorMaxMagAdjustedToLength(5), five);
    EXPECT_EQ(five->vectorMaxMagAdjustedToLength(9), five);
    try {
        five->vectorMaxMagAdjustedToLength(0);
        FAIL() << "a target of 0 must be refused";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter not satisfying: otherLength");
    }
}

class AIFFWriterTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return koru::test::testRoot() + "/" + name; }

    static std::vector<int> readInt24(const QString& file, SF_INFO& info) {
        info = {};
        SNDFILE* sound = sf_open(QFile::encodeName(file).constData(), SFM_READ, &info);
        if (!sound)
            return {};
        std::vector<int> frames(std::size_t(info.frames));
        sf_read_int(sound, frames.data(), info.frames);
        sf_close(sound);
        for (int& v : frames)
            v >>= 8; // libsndfile returns 24-bit samples in the top bits of an int
        return frames;
    }
};

TEST_F(AIFFWriterTest, WritesMono24BitPCMThatReadsBack) {
    const auto v = vectorOf<SDFloatVector>({0, 0.5f, -0.5f, 1, -1, 2, -2, 0.25f, 1.0f / 8388608});
    const QString file = path("impulse.aiff");
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        QString error;
        ASSERT_TRUE(v->writeToAIFFFileAtURL(file, 48000.0, &error)) << error.toStdString();
        SF_INFO info;
        const auto frames = readInt24(file, info);
        EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.samplerate, 48000);
        // Values beyond full scale clip instead of wrapping.
        EXPECT_EQ(frames, (std::vector<int>{0, 4194304, -4194304, 8388607, -8388608, 8388607,
                                            -8388608, 2097152, 1}))
            << locale;
    }
}

TEST_F(AIFFWriterTest, OddSampleRatesAndCountsReadBack) {
    const auto v = vectorOf<SDFloatVector>({0.1f, 0.2f, 0.3f});
    const QString file = path("odd.aiff");
    ASSERT_TRUE(v->writeToAIFFFileAtURL(file, 44100.0, nullptr));
    SF_INFO info;
    EXPECT_EQ(readInt24(file, info).size(), 3u);
    EXPECT_EQ(info.samplerate, 44100);
    ASSERT_TRUE(v->writeToAIFFFileAtURL(file, 96000.0, nullptr));
    readInt24(file, info);
    EXPECT_EQ(info.samplerate, 96000);
}

TEST_F(AIFFWriterTest, ReportsAFileThatCannotBeCreated) {
    QString error;
    EXPECT_FALSE(vectorOf<SDFloatVector>({1})->writeToAIFFFileAtURL(path("missing-folder/x.aiff"),
                                                                    48000.0, &error));
    EXPECT_FALSE(error.isEmpty());
}

// A write that runs out of room part-way, whether the file is larger or smaller than what the
// writer buffers: a small file used to fail only when flushed at the rename, unnoticed, and a
// truncated file replaced the old one while the save reported success.
TEST_F(AIFFWriterTest, ReportsAFailedWriteAndKeepsTheOldFile) {
    const QString file = path("kept.aiff");
    ASSERT_TRUE(vectorOf<SDFloatVector>({0.5f})->writeToAIFFFileAtURL(file, 48000.0, nullptr));
    const QByteArray before = [&] {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    for (const std::uint64_t samples : {std::uint64_t(2000), std::uint64_t(100000)}) {
        auto limit = std::make_unique<koru::test::ScopedFileSizeLimit>(1024);
        ASSERT_TRUE(limit->active());
        QString error;
        const bool written =
            SDFloatVector::vectorWithLength(samples)->writeToAIFFFileAtURL(file, 48000.0, &error);
        limit.reset();

        EXPECT_FALSE(written) << samples;
        EXPECT_FALSE(error.isEmpty()) << samples;
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before) << samples;
        EXPECT_EQ(QDir(QFileInfo(file).absolutePath())
                      .entryList({QStringLiteral("kept.aiff*")}, QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("kept.aiff")})
            << "no temporary file left, " << samples;
    }
}

TEST(SDDoubleFloatVectorTest, ScalarAddAndThresholdRaiseToTheFloor) {
    auto v = vectorOf<SDDoubleFloatVector>({-3, 0.5, 2});
    v->scalarAdd(1).threshold(1.5);
    EXPECT_EQ(valuesOf(*v), (std::vector<double>{1.5, 1.5, 3}));
}

TEST(SDDoubleFloatVectorTest, SqrtKeepsDoublePrecision) {
    auto v = vectorOf<SDDoubleFloatVector>({2});
    v->sqrt();
    EXPECT_EQ(v->data()[0], std::sqrt(2.0));
}

TEST(SDDoubleFloatVectorTest, ReplaceUnnormalValues) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    auto v =
        vectorOf<SDDoubleFloatVector>({0, std::nan(""), inf, -inf, 1e-310, -0.0, 1e-300, -5, 1});
    v->replaceUnnormalValuesWith(7);
    EXPECT_EQ(valuesOf(*v), (std::vector<double>{7, 7, 7, 7, 7, 7, 1e-300, -5, 1}));
}

TEST(SDDoubleFloatVectorTest, NormalizedBytesStayInTheByteRange) {
    const auto v = vectorOf<SDDoubleFloatVector>({0, 1, -1, 0.5, -0.2});
    std::vector<std::int8_t> bytes(v->length(), 99);
    v->toNormalizedByteVector(bytes.data());
    // (x + 0.5)·127 truncated: 63.5 → 63, 190.5 → held at 127, -63.5 → -63, 127, 38.1 → 38.
    EXPECT_EQ(bytes, (std::vector<std::int8_t>{63, 127, -63, 127, 38}));
    EXPECT_EQ(valuesOf(*v), (std::vector<double>{0, 1, -1, 0.5, -0.2}));

    const auto silent = vectorOf<SDDoubleFloatVector>({0, 0});
    std::vector<std::int8_t> quiet(2, 99);
    silent->toNormalizedByteVector(quiet.data());
    EXPECT_EQ(quiet, (std::vector<std::int8_t>{63, 63}));
}

} // namespace
