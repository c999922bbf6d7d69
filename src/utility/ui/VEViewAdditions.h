#pragma once

#include <cstdint>

class QWidget;

// Size setters of views, and the part of a long data row that a view shows.
class VEViewAdditions {
public:
    struct DataRange {
        std::uint32_t location = 0;
        std::uint32_t length = 0;
        bool operator==(const DataRange&) const = default;
    };

    static int width(const QWidget& view);
    static int height(const QWidget& view);
    // Only that size component changes; the position stays.
    static void setWidth(QWidget& view, int width);
    static void setHeight(QWidget& view, int height);
    // The points of a row of `count` values laid across the view's full width that lie in its
    // visible part: location = max(0, visible x x count / width), length = min(count, visible
    // width x count / width), both truncated. A view without width or with nothing visible
    // shows none.
    static DataRange visibleDataRangeOfLength(const QWidget& view, std::uint32_t count);
};
