#include "meters/RBPatchMatrix.h"

#include <gtest/gtest.h>

#include <QVariantList>

namespace {

std::vector<std::int32_t> entries(const RBPatchMatrix& matrix) {
    std::vector<std::int32_t> out;
    for (std::uint32_t k = 0; k < RBPatchMatrix::kEntries; ++k)
        out.push_back(matrix.channelNumberAtIndex(k));
    return out;
}

std::vector<std::int32_t> identityWith(std::initializer_list<std::pair<int, int>> changes) {
    std::vector<std::int32_t> out;
    for (std::int32_t k = 0; k < std::int32_t(RBPatchMatrix::kEntries); ++k)
        out.push_back(k);
    for (const auto& [index, value] : changes)
        out[std::size_t(index)] = value;
    return out;
}

class CountingDelegate : public RBPatchMatrixDelegate {
public:
    void didChangePatching() override { ++changes; }
    int changes = 0;
};

TEST(RBPatchMatrix, ANewMatrixIsTheIdentityAndSavesAll256Entries) {
    const RBPatchMatrix matrix({"In 1", "In 2"});
    EXPECT_EQ(entries(matrix), identityWith({}));
    const QVariantList saved =
        matrix.dictionaryRepresentation().value(QStringLiteral("Patching.Array")).toList();
    ASSERT_EQ(saved.size(), 256);
    EXPECT_EQ(saved.front().toInt(), 0);
    EXPECT_EQ(saved.back().toInt(), 255);
    EXPECT_EQ(matrix.channelNames(), QStringList({"In 1", "In 2"}));
}

// A saved array is applied entry by entry: short ones change only their entries, long ones
// stop at 256, and values no recorder could use become silence instead of an index past the
// engine's channels.
TEST(RBPatchMatrix, RestoringAppliesTheSavedEntriesInOrder) {
    QVariantList longArray;
    for (int k = 0; k < 300; ++k)
        longArray << (k < 256 ? 255 - k : 7);
    std::vector<std::int32_t> reversed;
    for (int k = 0; k < 256; ++k)
        reversed.push_back(255 - k);
    struct Case {
        const char* what;
        QVariant saved;
        std::vector<std::int32_t> expected;
    };
    const Case cases[] = {
        {"short array", QVariantList{3, 2}, identityWith({{0, 3}, {1, 2}})},
        {"longer than 256", longArray, reversed},
        {"missing key", QVariant(), identityWith({})},
        {"none and out of range", QVariantList{-1, 256, -5, 255},
         identityWith({{0, -1}, {1, -1}, {2, -1}, {3, 255}})},
        {"not a number", QVariantList{QStringLiteral("left"), 9}, identityWith({{1, 9}})},
        {"not an array", QStringLiteral("3,2"), identityWith({})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QVariantMap dictionary;
        if (c.saved.isValid())
            dictionary.insert(QStringLiteral("Patching.Array"), c.saved);
        const RBPatchMatrix matrix({"a"}, dictionary);
        EXPECT_EQ(entries(matrix), c.expected);
        // What it saves restores to the same entries.
        const RBPatchMatrix again({"a"}, matrix.dictionaryRepresentation());
        EXPECT_EQ(entries(again), c.expected);
    }
}

TEST(RBPatchMatrix, OutOfRangeIndicesAnswerNoneAndChangesReachTheDelegate) {
    RBPatchMatrix matrix({"a", "b"});
    EXPECT_EQ(matrix.channelNumberAtIndex(256), -1);
    EXPECT_EQ(matrix.channelNumberAtIndex(0xFFFFFFFF), -1);
    EXPECT_EQ(matrix.patchItemAtIndex(256), nullptr);

    CountingDelegate delegate;
    matrix.setDelegate(&delegate);
    matrix.patchItemAtIndex(4)->setChannelNumber(1);
    matrix.patchItemAtIndex(0)->setChannelNumber(-1);
    EXPECT_EQ(delegate.changes, 2);
    EXPECT_EQ(matrix.channelMap(5), (std::vector<std::int32_t>{-1, 1, 2, 3, 1}));
    EXPECT_EQ(matrix.channelMap(400).size(), 256u);
}

// Labels come from the device as it is now; without a source, from the names it was made with.
TEST(RBPatchMatrix, ChannelNamesComeFromTheCurrentDevice) {
    const RBPatchMatrix copied({"Left", "Right"});
    EXPECT_EQ(copied.channelNameAtIndex(1), QStringLiteral("Right"));
    EXPECT_EQ(copied.channelNameAtIndex(2), QString());
    const RBPatchMatrix live({"Left", "Right"},
                             [](std::uint32_t i) { return QStringLiteral("Mic %1").arg(i + 1); });
    EXPECT_EQ(live.channelNameAtIndex(1), QStringLiteral("Mic 2"));
    EXPECT_EQ(live.channelNames().size(), 2);
}

} // namespace
