#pragma once

#include <QColor>
#include <QLinearGradient>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

class VEColor {
public:
    // The default text colour of the plots and their legends.
    static QColor noBlueColor() { return QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1.0f); }

    // "rrggbbaa", two hexadecimal digits per component: exactly eight of them, or no colour
    // (an invalid QColor).
    static QColor colorFromRgbaString(const QString& text);
    // Each component x 255, truncated; "778899ff" for no colour.
    static QString rgbaStringValue(const QColor& colour);
    // Red, green and blue from bits 31-24, 23-16 and 15-8 of the number; opaque.
    static QColor randomColor(std::uint32_t random);
    static QColor randomColor();
    // The colour under key (random + 1) mod count of a colour list; none for an empty list.
    static std::optional<QColor> nextColor(const QList<QColor>& list, std::uint32_t random);
    static std::optional<QColor> nextColor(const QList<QColor>& list);
    // Grey 0.851 to grey 0.7 across the painted rectangle, left to right.
    static QLinearGradient controlBackgroundGradient();
};
