#include "utility/ui/VEViewAdditions.h"

#include <QWidget>

#include <algorithm>

int VEViewAdditions::width(const QWidget& view) {
    return view.width();
}

int VEViewAdditions::height(const QWidget& view) {
    return view.height();
}

void VEViewAdditions::setWidth(QWidget& view, int width) {
    view.resize(width, view.height());
}

void VEViewAdditions::setHeight(QWidget& view, int height) {
    view.resize(view.width(), height);
}

VEViewAdditions::DataRange VEViewAdditions::visibleDataRangeOfLength(const QWidget& view,
                                                                     std::uint32_t count) {
    const double width = view.width();
    const QRect visible = view.visibleRegion().boundingRect();
    if (width <= 0.0 || visible.isEmpty())
        return {};
    const double n = count;
    const double location = std::max(0.0, visible.x() * n / width);
    const double length = std::min(n, visible.width() * n / width);
    return {std::uint32_t(std::min(location, n)), std::uint32_t(length)};
}
