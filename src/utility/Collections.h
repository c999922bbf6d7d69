#pragma once

#include <compare>
#include <cstddef>
#include <iterator>
#include <map>
#include <optional>
#include <ranges>
#include <set>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// Block-style operations on the standard containers, in three kinds: sequences (vector, deque,
// list, array), sets and maps. For a map the "item" is the key and the "value" the mapped value:
// the predicates of all/any/none/one and the comparators of max/min see keys, while
// do_/collect/select/reject/inject/partition see values and keep a map's keys in their result.
// Results come back in a container of the receiver's kind (a vector for any sequence). Nothing is
// cached; every operation walks its input once, in the container's order.
namespace koru::utility::collections {

template <typename C>
concept MapContainer = requires {
    typename C::key_type;
    typename C::mapped_type;
};

template <typename C>
concept SetContainer = requires {
    typename C::key_type;
}
&&!MapContainer<C>;

template <typename C>
concept SequenceContainer = requires(const C& c) {
    std::begin(c);
    std::end(c);
    std::size(c);
}
&&!requires {
    typename C::key_type;
};

template <typename C>
concept Collection = MapContainer<C> || SetContainer<C> || SequenceContainer<C>;

// The pair partition() answers: accepted values first, rejected second.
template <typename First, typename Second = First> struct MDPair {
    First firstObject;
    Second secondObject;
    bool operator==(const MDPair&) const = default;
};

namespace detail {

// The container a result of element type U goes into, for a receiver of type C.
template <typename C, typename U> struct Rebind {
    using type = std::vector<U>; // every sequence answers a vector
};
template <typename T, typename Compare, typename Alloc, typename U>
struct Rebind<std::set<T, Compare, Alloc>, U> {
    using type = std::set<U>;
};
template <typename T, typename Hash, typename Eq, typename Alloc, typename U>
struct Rebind<std::unordered_set<T, Hash, Eq, Alloc>, U> {
    using type = std::unordered_set<U>;
};
template <typename K, typename V, typename Compare, typename Alloc, typename U>
struct Rebind<std::map<K, V, Compare, Alloc>, U> {
    using type = std::map<K, U, Compare>;
};
template <typename K, typename V, typename Hash, typename Eq, typename Alloc, typename U>
struct Rebind<std::unordered_map<K, V, Hash, Eq, Alloc>, U> {
    using type = std::unordered_map<K, U, Hash, Eq>;
};

template <typename C>
using ValueType = std::remove_cvref_t<decltype(*std::begin(std::declval<C&>()))>;

// The item the enumeration yields (a map's key) and the value the value-blocks see.
template <typename C> decltype(auto) itemOf(const auto& element) {
    if constexpr (MapContainer<C>)
        return (element.first);
    else
        return (element);
}
template <typename C> decltype(auto) valueOf(const auto& element) {
    if constexpr (MapContainer<C>)
        return (element.second);
    else
        return (element);
}

template <typename C>
using ItemType = std::remove_cvref_t<decltype(itemOf<C>(*std::begin(std::declval<const C&>())))>;
template <typename C>
using MappedValue =
    std::remove_cvref_t<decltype(valueOf<C>(*std::begin(std::declval<const C&>())))>;

// Stores `value` for the enumerated element: appended or inserted, or under the element's key.
template <typename C, typename Out, typename V>
void store(Out& out, const auto& element, V&& value) {
    if constexpr (MapContainer<C>)
        out.emplace(element.first, std::forward<V>(value));
    else if constexpr (SetContainer<C>)
        out.insert(std::forward<V>(value));
    else
        out.push_back(std::forward<V>(value));
}

template <typename T> struct IsOptional : std::false_type {};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type {};

template <typename C> using Same = typename Rebind<C, MappedValue<C>>::type;

} // namespace detail

// Calls `block` with each value; for a sequence the block may also take the index and a stop
// flag (bool&) that ends the walk after the current element. Answers the receiver.
template <Collection C, typename F> const C& do_(const C& c, F&& block) {
    if constexpr (SequenceContainer<C> &&
                  std::is_invocable_v<F&, const detail::ValueType<C>&, std::size_t, bool&>) {
        std::size_t index = 0;
        bool stop = false;
        for (const auto& element : c) {
            block(element, index++, stop);
            if (stop)
                break;
        }
    } else {
        for (const auto& element : c)
            block(detail::valueOf<C>(element));
    }
    return c;
}

// The block's results, in a container of the receiver's kind (a map keeps its keys). A block
// answering std::optional leaves out the values it answers nullopt for.
template <Collection C, typename F> auto collect(const C& c, F&& block) {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, const detail::MappedValue<C>&>>;
    if constexpr (detail::IsOptional<R>::value) {
        typename detail::Rebind<C, typename R::value_type>::type out;
        for (const auto& element : c) {
            std::optional result = block(detail::valueOf<C>(element));
            if (result)
                detail::store<C>(out, element, std::move(*result));
        }
        return out;
    } else {
        typename detail::Rebind<C, R>::type out;
        for (const auto& element : c)
            detail::store<C>(out, element, block(detail::valueOf<C>(element)));
        return out;
    }
}

template <Collection C, typename F> detail::Same<C> select(const C& c, F&& block) {
    detail::Same<C> out;
    for (const auto& element : c) {
        if (block(detail::valueOf<C>(element)))
            detail::store<C>(out, element, detail::valueOf<C>(element));
    }
    return out;
}

template <Collection C, typename F> detail::Same<C> reject(const C& c, F&& block) {
    return select(c, [&](const auto& value) { return !block(value); });
}

// Folds the values: the accumulator starts as `initial`, each call's answer is the next one.
template <Collection C, typename A, typename F> A inject(const C& c, A initial, F&& block) {
    A accumulator = std::move(initial);
    for (const auto& element : c)
        accumulator = block(std::move(accumulator), detail::valueOf<C>(element));
    return accumulator;
}

template <Collection C, typename F> MDPair<detail::Same<C>> partition(const C& c, F&& block) {
    MDPair<detail::Same<C>> pair;
    for (const auto& element : c) {
        auto& side = block(detail::valueOf<C>(element)) ? pair.firstObject : pair.secondObject;
        detail::store<C>(side, element, detail::valueOf<C>(element));
    }
    return pair;
}

// The first element the block accepts.
template <SequenceContainer C, typename F>
std::optional<detail::ValueType<C>> detect(const C& c, F&& block) {
    for (const auto& element : c) {
        if (block(element))
            return element;
    }
    return std::nullopt;
}

// The first element the block accepts, else what `ifNone` answers.
template <SequenceContainer C, typename F, typename N>
detail::ValueType<C> detect(const C& c, F&& block, N&& ifNone) {
    for (const auto& element : c) {
        if (block(element))
            return element;
    }
    return ifNone();
}

template <Collection C, typename F> bool all(const C& c, F&& block) {
    for (const auto& element : c) {
        if (!block(detail::itemOf<C>(element)))
            return false;
    }
    return true;
}

template <Collection C, typename F> bool any(const C& c, F&& block) {
    for (const auto& element : c) {
        if (block(detail::itemOf<C>(element)))
            return true;
    }
    return false;
}

template <Collection C, typename F> bool none(const C& c, F&& block) {
    return !any(c, block);
}

// Exactly one item accepted; stops at the second.
template <Collection C, typename F> bool one(const C& c, F&& block) {
    bool found = false;
    for (const auto& element : c) {
        if (block(detail::itemOf<C>(element))) {
            if (found)
                return false;
            found = true;
        }
    }
    return found;
}

// The largest item by `compare(candidate, best)` (anything ordered against 0: an int or a
// std::*_ordering); on ties the earlier item stays. nullopt when empty.
template <Collection C, typename F = std::compare_three_way>
std::optional<detail::ItemType<C>> max(const C& c, F&& compare = {}) {
    std::optional<detail::ItemType<C>> best;
    for (const auto& element : c) {
        const auto& item = detail::itemOf<C>(element);
        if (!best || compare(item, *best) > 0)
            best = item;
    }
    return best;
}

template <Collection C, typename F = std::compare_three_way>
std::optional<detail::ItemType<C>> min(const C& c, F&& compare = {}) {
    std::optional<detail::ItemType<C>> best;
    for (const auto& element : c) {
        const auto& item = detail::itemOf<C>(element);
        if (!best || compare(item, *best) < 0)
            best = item;
    }
    return best;
}

// The elements from index n on (none when n reaches the count).
template <SequenceContainer C> std::vector<detail::ValueType<C>> drop(const C& c, std::size_t n) {
    std::vector<detail::ValueType<C>> out;
    if (n < std::size(c))
        out.assign(std::next(std::begin(c), std::ptrdiff_t(n)), std::end(c));
    return out;
}

// The first n elements; a count beyond the end stops at the end.
template <SequenceContainer C> std::vector<detail::ValueType<C>> take(const C& c, std::size_t n) {
    const std::size_t count = std::min(n, std::size(c));
    return std::vector<detail::ValueType<C>>(std::begin(c),
                                             std::next(std::begin(c), std::ptrdiff_t(count)));
}

// The elements from the first one the block rejects on.
template <SequenceContainer C, typename F>
std::vector<detail::ValueType<C>> dropWhile(const C& c, F&& block) {
    auto it = std::begin(c);
    while (it != std::end(c) && block(*it))
        ++it;
    return std::vector<detail::ValueType<C>>(it, std::end(c));
}

// The leading elements the block accepts.
template <SequenceContainer C, typename F>
std::vector<detail::ValueType<C>> takeWhile(const C& c, F&& block) {
    std::vector<detail::ValueType<C>> out;
    for (const auto& element : c) {
        if (!block(element))
            break;
        out.push_back(element);
    }
    return out;
}

template <typename C>
concept IndexedSequence = SequenceContainer<C> && std::ranges::random_access_range<const C>;

// Bisection over a sorted random-access sequence. `compare(element)` answers how the wanted
// element compares with the one shown: greater means it lies further right, less further left,
// equivalent means found.
template <IndexedSequence C, typename F>
std::optional<std::size_t> findIndexWithBinaryComparator(const C& c, F&& compare) {
    std::ptrdiff_t low = 0;
    std::ptrdiff_t high = std::ptrdiff_t(std::size(c)) - 1;
    while (low <= high) {
        const std::ptrdiff_t middle = low + (high - low) / 2;
        const auto order = compare(c[std::size_t(middle)]);
        if (order > 0)
            low = middle + 1;
        else if (order < 0)
            high = middle - 1;
        else
            return std::size_t(middle);
    }
    return std::nullopt;
}

template <IndexedSequence C, typename F>
std::optional<detail::ValueType<C>> findWithBinaryComparator(const C& c, F&& compare) {
    if (const auto index = findIndexWithBinaryComparator(c, compare))
        return c[*index];
    return std::nullopt;
}

// The first accepted element of a sequence whose rejected elements all come before its accepted
// ones.
template <IndexedSequence C, typename F>
std::optional<std::size_t> findIndexOfFirstItemMatchingBlock(const C& c, F&& block) {
    const std::size_t count = std::size(c);
    if (count == 0 || !block(c[count - 1]))
        return std::nullopt;
    if (block(c[0]))
        return 0;
    std::size_t low = 0;          // rejected
    std::size_t high = count - 1; // accepted
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (block(c[middle]))
            high = middle;
        else
            low = middle;
    }
    return high;
}

// The last accepted element of a sequence whose accepted elements all come before its rejected
// ones.
template <IndexedSequence C, typename F>
std::optional<std::size_t> findIndexOfLastItemMatchingBlock(const C& c, F&& block) {
    const std::size_t count = std::size(c);
    if (count == 0 || !block(c[0]))
        return std::nullopt;
    if (block(c[count - 1]))
        return count - 1;
    std::size_t low = 0;          // accepted
    std::size_t high = count - 1; // rejected
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (block(c[middle]))
            low = middle;
        else
            high = middle;
    }
    return low;
}

template <IndexedSequence C, typename F>
std::optional<detail::ValueType<C>> findFirstItemMatchingBlock(const C& c, F&& block) {
    if (const auto index = findIndexOfFirstItemMatchingBlock(c, block))
        return c[*index];
    return std::nullopt;
}

template <IndexedSequence C, typename F>
std::optional<detail::ValueType<C>> findLastItemMatchingBlock(const C& c, F&& block) {
    if (const auto index = findIndexOfLastItemMatchingBlock(c, block))
        return c[*index];
    return std::nullopt;
}

// Test blocks see (element, index, stop): setting `stop` ends the walk after that element,
// whose answer still counts.
template <SequenceContainer C, typename F>
std::vector<detail::ValueType<C>> objectsPassingTest(const C& c, F&& test) {
    std::vector<detail::ValueType<C>> out;
    std::size_t index = 0;
    bool stop = false;
    for (const auto& element : c) {
        if (test(element, index++, stop))
            out.push_back(element);
        if (stop)
            break;
    }
    return out;
}

template <SequenceContainer C, typename F>
std::optional<detail::ValueType<C>> firstObjectPassingTest(const C& c, F&& test) {
    std::size_t index = 0;
    bool stop = false;
    for (const auto& element : c) {
        if (test(element, index++, stop))
            return element;
        if (stop)
            break;
    }
    return std::nullopt;
}

template <SequenceContainer C, typename F>
std::size_t countOfObjectsPassingTest(const C& c, F&& test) {
    std::size_t count = 0;
    std::size_t index = 0;
    bool stop = false;
    for (const auto& element : c) {
        if (test(element, index++, stop))
            ++count;
        if (stop)
            break;
    }
    return count;
}

} // namespace koru::utility::collections
