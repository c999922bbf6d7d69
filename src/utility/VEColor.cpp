#include "utility/VEColor.h"

#include <QRandomGenerator>

#include <fmt/format.h>

#include <cmath>

namespace {

std::optional<int> hexPair(const QString& text, int at) {
    bool ok = false;
    const int value = text.mid(at, 2).toInt(&ok, 16);
    // toInt accepts a sign; a colour component never has one.
    if (!ok || !text[at].isLetterOrNumber() || !text[at + 1].isLetterOrNumber())
        return std::nullopt;
    return value;
}

// Truncated; from the colour's 16-bit components, so that a component read from two hex digits
// comes back as the same two digits.
int byteOf(quint16 component) {
    return int(component * 255.0 / 65535.0);
}

} // namespace

QColor VEColor::colorFromRgbaString(const QString& text) {
    if (text.size() != 8)
        return {};
    int components[4];
    for (int i = 0; i < 4; ++i) {
        const auto value = hexPair(text, 2 * i);
        if (!value)
            return {};
        components[i] = *value;
    }
    return QColor::fromRgbF(components[0] / 255.0f, components[1] / 255.0f, components[2] / 255.0f,
                            components[3] / 255.0f);
}

QString VEColor::rgbaStringValue(const QColor& colour) {
    if (!colour.isValid())
        return QStringLiteral("778899ff");
    const QRgba64 rgb = colour.rgba64();
    return QString::fromStdString(fmt::format("{:02x}{:02x}{:02x}{:02x}", byteOf(rgb.red()),
                                              byteOf(rgb.green()), byteOf(rgb.blue()),
                                              byteOf(rgb.alpha())));
}

QColor VEColor::randomColor(std::uint32_t random) {
    return QColor::fromRgbF(float((random >> 24) & 0xFF) / 255.0f,
                            float((random >> 16) & 0xFF) / 255.0f,
                            float((random >> 8) & 0xFF) / 255.0f, 1.0f);
}

QColor VEColor::randomColor() {
    return randomColor(QRandomGenerator::global()->generate());
}

std::optional<QColor> VEColor::nextColor(const QList<QColor>& list, std::uint32_t random) {
    if (list.isEmpty())
        return std::nullopt;
    const std::uint32_t key = (random + 1u) % std::uint32_t(list.size());
    return list[qsizetype(key)];
}

std::optional<QColor> VEColor::nextColor(const QList<QColor>& list) {
    return nextColor(list, QRandomGenerator::global()->generate());
}

QLinearGradient VEColor::controlBackgroundGradient() {
    QLinearGradient gradient(0.0, 0.0, 1.0, 0.0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, QColor::fromRgbF(0.851f, 0.851f, 0.851f, 1.0f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.7f, 0.7f, 0.7f, 1.0f));
    return gradient;
}
