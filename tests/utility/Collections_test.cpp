#include "utility/Collections.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using namespace koru::utility::collections;

using Ints = std::vector<int>;
using Dict = std::map<std::string, int>;

const auto odd = [](int x) { return x % 2 != 0; };

TEST(CollectionsTest, ValueOperationsKeepTheReceiversKindAndAMapsKeys) {
    const Ints numbers{1, 2, 3, 4, 5};
    EXPECT_EQ(select(numbers, odd), (Ints{1, 3, 5}));
    EXPECT_EQ(reject(numbers, odd), (Ints{2, 4}));
    EXPECT_EQ(collect(numbers, [](int x) { return x * 10; }), (Ints{10, 20, 30, 40, 50}));
    EXPECT_EQ(inject(numbers, 100, [](int sum, int x) { return sum - x; }), 85);
    EXPECT_EQ(partition(numbers, odd), (MDPair<Ints>{{1, 3, 5}, {2, 4}}));

    const std::set<int> set{3, 1, 2, 5};
    EXPECT_EQ(select(set, odd), (std::set<int>{1, 3, 5}));
    EXPECT_EQ(collect(set, [](int x) { return x / 2; }), (std::set<int>{0, 1, 2}))
        << "equal results fold into one set member";

    // Value blocks see a map's values; the keys travel along.
    const Dict dict{{"a", 1}, {"b", 2}, {"c", 3}};
    EXPECT_EQ(select(dict, odd), (Dict{{"a", 1}, {"c", 3}}));
    EXPECT_EQ(reject(dict, odd), (Dict{{"b", 2}}));
    EXPECT_EQ(collect(dict, [](int x) { return std::to_string(x); }),
              (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
    EXPECT_EQ(inject(dict, 0, [](int sum, int x) { return sum + x; }), 6);
    EXPECT_EQ(partition(dict, odd), (MDPair<Dict>{{{"a", 1}, {"c", 3}}, {{"b", 2}}}));

    const std::unordered_map<int, int> hashed{{1, 10}, {2, 20}};
    EXPECT_EQ(select(hashed, [](int v) { return v > 15; }),
              (std::unordered_map<int, int>{{2, 20}}));

    // A deque answers a vector, like every sequence.
    const std::deque<int> deque{4, 5};
    EXPECT_EQ(select(deque, odd), (Ints{5}));
}

TEST(CollectionsTest, CollectLeavesOutNoneResults) {
    const auto halfOfEven = [](int x) -> std::optional<int> {
        if (x % 2 != 0)
            return std::nullopt;
        return x / 2;
    };
    EXPECT_EQ(collect(Ints{1, 2, 3, 4}, halfOfEven), (Ints{1, 2}));
    EXPECT_EQ(collect(Dict{{"a", 1}, {"b", 2}}, halfOfEven), (Dict{{"b", 1}}))
        << "the key whose value gives none is left out";
    EXPECT_TRUE(collect(Ints{}, halfOfEven).empty());
}

TEST(CollectionsTest, DoVisitsEveryValueAndSequencesMayStop) {
    std::vector<int> seen;
    const Dict dict{{"x", 7}, {"y", 8}};
    EXPECT_EQ(&do_(dict, [&](int v) { seen.push_back(v); }), &dict);
    EXPECT_EQ(seen, (Ints{7, 8}));

    std::vector<std::size_t> indexes;
    do_(Ints{5, 6, 7, 8}, [&](int x, std::size_t index, bool& stop) {
        indexes.push_back(index);
        stop = x == 6;
    });
    EXPECT_EQ(indexes, (std::vector<std::size_t>{0, 1}));
}

struct PredicateCase {
    const char* name;
    Ints items;
    bool (*accept)(int);
    bool all;
    bool any;
    bool none;
    bool one;
};

class PredicateTest : public ::testing::TestWithParam<PredicateCase> {};

TEST_P(PredicateTest, AnswersForSequencesSetsAndMapKeys) {
    const PredicateCase& c = GetParam();
    const std::set<int> set(c.items.begin(), c.items.end());
    std::map<int, std::string> keyed; // values that no predicate can read as the key
    for (const int x : c.items)
        keyed.emplace(x, "value");
    const auto accept = c.accept;

    EXPECT_EQ(all(c.items, accept), c.all);
    EXPECT_EQ(any(c.items, accept), c.any);
    EXPECT_EQ(none(c.items, accept), c.none);
    EXPECT_EQ(one(c.items, accept), c.one);
    EXPECT_EQ(all(set, accept), c.all);
    EXPECT_EQ(one(set, accept), c.one);
    EXPECT_EQ(all(keyed, accept), c.all) << "a map's predicate sees its keys";
    EXPECT_EQ(any(keyed, accept), c.any);
    EXPECT_EQ(none(keyed, accept), c.none);
    EXPECT_EQ(one(keyed, accept), c.one);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PredicateTest,
    ::testing::Values(
        PredicateCase{"OddOfOneToThree",
                      {1, 2, 3},
                      [](int x) { return x % 2 != 0; },
                      false,
                      true,
                      false,
                      false},
        PredicateCase{"OnlyTwo", {1, 2, 3}, [](int x) { return x == 2; }, false, true, false, true},
        PredicateCase{
            "AllPositive", {1, 2, 3}, [](int x) { return x > 0; }, true, true, false, false},
        PredicateCase{
            "NoneNegative", {1, 2, 3}, [](int x) { return x < 0; }, false, false, true, false},
        PredicateCase{"Empty", {}, [](int) { return true; }, true, false, true, false},
        PredicateCase{"SingleAccepted", {4}, [](int) { return true; }, true, true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CollectionsTest, OneStopsAtTheSecondAcceptedItem) {
    int calls = 0;
    EXPECT_FALSE(one(Ints{1, 1, 2, 2, 2}, [&](int x) {
        ++calls;
        return x == 1;
    }));
    EXPECT_EQ(calls, 2);
}

struct Tagged {
    int key;
    char tag;
};

TEST(CollectionsTest, ExtremesKeepTheEarlierItemOnTies) {
    const std::vector<Tagged> items{{3, 'a'}, {7, 'b'}, {7, 'c'}, {1, 'd'}, {1, 'e'}};
    const auto byKey = [](const Tagged& x, const Tagged& y) { return x.key <=> y.key; };
    EXPECT_EQ(max(items, byKey)->tag, 'b');
    EXPECT_EQ(min(items, byKey)->tag, 'd');

    EXPECT_EQ(max(Ints{3, 7, 7}), 7);
    EXPECT_EQ(min(std::set<int>{4, 2, 9}), 2);
    EXPECT_FALSE(max(Ints{}).has_value());
    EXPECT_FALSE(min(Dict{}).has_value());

    // A map's comparator sees keys, and the answer is a key.
    const Dict dict{{"apple", 9}, {"kiwi", 1}, {"banana", 5}};
    EXPECT_EQ(max(dict), "kiwi");
    const auto byLength = [](const std::string& a, const std::string& b) {
        return int(a.size()) - int(b.size());
    };
    EXPECT_EQ(max(dict, byLength), "banana");
    EXPECT_EQ(min(dict, byLength), "kiwi");
}

TEST(CollectionsTest, DetectFindsTheFirstAcceptedElementOrAsksTheNoneBlock) {
    const Ints numbers{2, 4, 5, 7};
    EXPECT_EQ(detect(numbers, odd), 5);
    EXPECT_FALSE(detect(Ints{2, 4}, odd).has_value());
    EXPECT_EQ(detect(Ints{2, 4}, odd, [] { return -1; }), -1);
    int noneCalls = 0;
    EXPECT_EQ(detect(numbers, odd,
                     [&] {
                         ++noneCalls;
                         return -1;
                     }),
              5);
    EXPECT_EQ(noneCalls, 0);
}

struct SliceCase {
    const char* name;
    Ints items;
    std::size_t n;
    Ints dropped;
    Ints taken;
};

class SliceTest : public ::testing::TestWithParam<SliceCase> {};

TEST_P(SliceTest, DropAndTakeSplitAtN) {
    const SliceCase& c = GetParam();
    EXPECT_EQ(drop(c.items, c.n), c.dropped);
    EXPECT_EQ(take(c.items, c.n), c.taken);
}

INSTANTIATE_TEST_SUITE_P(Cases, SliceTest,
                         ::testing::Values(SliceCase{"Middle", {1, 2, 3, 4}, 1, {2, 3, 4}, {1}},
                                           SliceCase{"Zero", {1, 2}, 0, {1, 2}, {}},
                                           SliceCase{"AtCount", {1, 2}, 2, {}, {1, 2}},
                                           SliceCase{"BeyondCount", {1, 2}, 5, {}, {1, 2}},
                                           SliceCase{"Empty", {}, 3, {}, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CollectionsTest, WhileOperationsSplitAtTheFirstRejectedElement) {
    const auto below3 = [](int x) { return x < 3; };
    EXPECT_EQ(dropWhile(Ints{1, 2, 5, 1}, below3), (Ints{5, 1}));
    EXPECT_EQ(takeWhile(Ints{1, 2, 5, 1}, below3), (Ints{1, 2}));
    EXPECT_EQ(dropWhile(Ints{1, 2}, below3), Ints{});
    EXPECT_EQ(takeWhile(Ints{1, 2}, below3), (Ints{1, 2}));
    EXPECT_EQ(dropWhile(Ints{5}, below3), (Ints{5}));
    EXPECT_EQ(takeWhile(Ints{}, below3), Ints{});
}

TEST(CollectionsTest, ComparatorSearchFindsEveryElementAndNothingElse) {
    const Ints sorted{1, 3, 5, 7, 9, 11};
    for (int wanted = 0; wanted <= 12; ++wanted) {
        SCOPED_TRACE(wanted);
        const auto compare = [wanted](int element) { return wanted <=> element; };
        const std::optional<int> found = findWithBinaryComparator(sorted, compare);
        if (wanted % 2 != 0) {
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(*found, wanted);
            EXPECT_EQ(sorted[*findIndexWithBinaryComparator(sorted, compare)], wanted);
        } else {
            EXPECT_FALSE(found.has_value());
        }
    }
    EXPECT_FALSE(findWithBinaryComparator(Ints{}, [](int) { return 0; }).has_value());
    EXPECT_EQ(findWithBinaryComparator(Ints{4}, [](int e) { return 4 <=> e; }), 4);
}

struct BoundaryCase {
    const char* name;
    Ints items;
    int threshold;
    std::optional<std::size_t> firstAtLeast; // first element >= threshold
    std::optional<std::size_t> lastBelow;    // last element < threshold
};

class BoundarySearchTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundarySearchTest, FindsTheBoundaryOfAPartitionedSequence) {
    const BoundaryCase& c = GetParam();
    const auto atLeast = [&](int x) { return x >= c.threshold; };
    const auto below = [&](int x) { return x < c.threshold; };
    EXPECT_EQ(findIndexOfFirstItemMatchingBlock(c.items, atLeast), c.firstAtLeast);
    EXPECT_EQ(findIndexOfLastItemMatchingBlock(c.items, below), c.lastBelow);

    const std::optional<int> first = findFirstItemMatchingBlock(c.items, atLeast);
    const std::optional<int> last = findLastItemMatchingBlock(c.items, below);
    EXPECT_EQ(first.has_value(), c.firstAtLeast.has_value());
    EXPECT_EQ(last.has_value(), c.lastBelow.has_value());
    if (first) {
        EXPECT_EQ(*first, c.items[*c.firstAtLeast]);
    }
    if (last) {
        EXPECT_EQ(*last, c.items[*c.lastBelow]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundarySearchTest,
    ::testing::Values(BoundaryCase{"Middle", {1, 3, 5, 7, 9}, 6, 3, 2},
                      BoundaryCase{"AllAccepted", {1, 3, 5, 7, 9}, 0, 0, std::nullopt},
                      BoundaryCase{"NoneAccepted", {1, 3, 5, 7, 9}, 10, std::nullopt, 4},
                      BoundaryCase{"LastOnly", {1, 3, 5, 7, 9}, 9, 4, 3},
                      BoundaryCase{"SecondOnward", {1, 3, 5, 7, 9}, 2, 1, 0},
                      BoundaryCase{"TwoElements", {1, 9}, 5, 1, 0},
                      BoundaryCase{"SingleAccepted", {4}, 4, 0, std::nullopt},
                      BoundaryCase{"SingleRejected", {4}, 5, std::nullopt, 0},
                      BoundaryCase{"Empty", {}, 5, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CollectionsTest, BoundarySearchFindsEveryCutOfALongSequence) {
    Ints items(1000);
    for (int i = 0; i < 1000; ++i)
        items[std::size_t(i)] = i;
    for (int cut = 1; cut < 1000; ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(findIndexOfFirstItemMatchingBlock(items, [&](int x) { return x >= cut; }),
                  std::size_t(cut));
        EXPECT_EQ(findIndexOfLastItemMatchingBlock(items, [&](int x) { return x < cut; }),
                  std::size_t(cut - 1));
    }
}

TEST(CollectionsTest, TestBlocksSeeIndexesAndMayStop) {
    const Ints numbers{5, 6, 7, 8, 9};
    const auto evenIndex = [](int, std::size_t index, bool&) { return index % 2 == 0; };
    EXPECT_EQ(objectsPassingTest(numbers, evenIndex), (Ints{5, 7, 9}));
    EXPECT_EQ(countOfObjectsPassingTest(numbers, evenIndex), 3U);
    EXPECT_EQ(firstObjectPassingTest(numbers, [](int x, std::size_t, bool&) { return x > 6; }), 7);
    EXPECT_FALSE(firstObjectPassingTest(numbers, [](int x, std::size_t, bool&) { return x > 9; }));

    // Stopping ends the walk after the element at hand, whose answer still counts.
    const auto stopAtSeven = [](int x, std::size_t, bool& stop) {
        stop = x == 7;
        return x != 6;
    };
    EXPECT_EQ(objectsPassingTest(numbers, stopAtSeven), (Ints{5, 7}));
    EXPECT_EQ(countOfObjectsPassingTest(numbers, stopAtSeven), 2U);
    EXPECT_FALSE(firstObjectPassingTest(numbers, [](int, std::size_t, bool& stop) {
        stop = true;
        return false;
    }));
}

} // namespace
