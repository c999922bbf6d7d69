#include "utility/VEString.h"

#include "utility/VEData.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QUuid>

#include <fmt/format.h>

#include <cmath>
#include <limits>

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString valueOr(const std::optional<QString>& value, const QString& fallback) {
    return value ? *value : fallback;
}

} // namespace

QString VEString::uuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString VEString::stringWithBundleIdentifier(const BundleInfo& info) {
    return valueOr(info.identifier, QStringLiteral("unknown_bundle"));
}

QString VEString::stringWithBundleName(const BundleInfo& info) {
    return valueOr(info.name, {});
}

QString VEString::stringWithBundleVersion(const BundleInfo& info) {
    return valueOr(info.version, {});
}

QString VEString::stringWithBundleShortVersion(const BundleInfo& info) {
    return valueOr(info.shortVersion, {});
}

QString VEString::stringWithBundleCopyright(const BundleInfo& info) {
    return valueOr(info.copyright, {});
}

QString VEString::stringFromSecondsWithoutLead(std::uint32_t t) {
    const std::uint32_t s = t % 60;
    const std::uint32_t m = (t % 3600) / 60;
    const std::uint32_t h = t / 3600;
    if (t < 60)
        return qs(fmt::format("{}sec", s));
    if (t < 3600)
        return s == 0 ? qs(fmt::format("{}min", m)) : qs(fmt::format("{}min {:02}sec", m, s));
    if (s != 0)
        return qs(fmt::format("{}h {:02}min {:02}sec", h, m, s));
    return m == 0 ? qs(fmt::format("{}h", h)) : qs(fmt::format("{}h {:02}min", h, m));
}

QString VEString::stringFromFrequency(float hertz) {
    // Non-finite values cannot be truncated to an integer; they print as numbers do.
    if (!(hertz >= 1000.0f) || !std::isfinite(hertz))
        return qs(fmt::format("{:.0f}", double(hertz)));
    const auto maxInt = double(std::numeric_limits<std::int32_t>::max());
    const auto n = std::int32_t(std::min(double(hertz), maxInt));
    const std::int32_t k = n / 1000;
    const std::int32_t r = n % 1000;
    if (r >= 10)
        return qs(fmt::format("{}k{:02}", k, r / 10));
    return qs(fmt::format("{}k", k));
}

QStringList VEString::lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
}

void VEString::eachLine(const QString& text, const std::function<void(const QString&)>& block) {
    for (const QString& line : lines(text))
        block(line);
}

void VEString::eachCharacter(const QString& text, const std::function<void(char16_t)>& block) {
    for (const QChar unit : text)
        block(unit.unicode());
}

koru::utility::HttpText
VEString::stringFromHttpResponse(const QUrl& url, const koru::utility::HttpFetchOptions& options) {
    return koru::utility::fetchHttpText(url, options);
}

QString VEString::hexStringFromBytes(const void* bytes, std::size_t length) {
    const auto* data = static_cast<const unsigned char*>(bytes);
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i)
        text += fmt::format("{:02x}", data[i]);
    return qs(text);
}

QString VEString::trim(const QString& text) {
    return text.trimmed();
}

QString VEString::fileSystemFriendlyString(const QString& text) {
    static const QString separators = QStringLiteral("/\\?%*|<>(),!#$^&:;'~\"@.");
    QString result = trim(text);
    if (result.isEmpty())
        return QStringLiteral("untitled");
    for (QChar& c : result) {
        if (separators.contains(c) || c.isSpace())
            c = QLatin1Char('_');
    }
    return result;
}

QString VEString::sha1String(const QString& text) {
    return VEData::sha1String(text.toUtf8());
}

double VEString::textWidth(const QString& text, const VETextAttributes& attributes) {
    return QFontMetricsF(attributes.font).horizontalAdvance(text);
}

double VEString::centeredLeft(double x, double width, double minX, double maxX) {
    return std::max(minX, std::min(x - width / 2.0, maxX - width));
}

void VEString::drawAt(QPainter& painter, const QString& text, QPointF leftBottom,
                      const VETextAttributes& attributes) {
    const QFontMetricsF metrics(attributes.font);
    painter.save();
    painter.setFont(attributes.font);
    painter.setPen(attributes.color);
    painter.drawText(QPointF(leftBottom.x(), leftBottom.y() - metrics.descent()), text);
    painter.restore();
}

void VEString::drawCenteredAtPoint(QPainter& painter, const QString& text, QPointF point,
                                   const VETextAttributes& attributes) {
    const double width = textWidth(text, attributes);
    drawAt(painter, text, QPointF(point.x() - width / 2.0, point.y()), attributes);
}

void VEString::drawCenteredAtPoint(QPainter& painter, const QString& text, QPointF point,
                                   const VETextAttributes& attributes, double minX, double maxX) {
    const double left = centeredLeft(point.x(), textWidth(text, attributes), minX, maxX);
    drawAt(painter, text, QPointF(left, point.y()), attributes);
}

void VEString::drawRightAlignedAtPoint(QPainter& painter, const QString& text, QPointF point,
                                       const VETextAttributes& attributes) {
    const double width = textWidth(text, attributes);
    drawAt(painter, text, QPointF(point.x() - width, point.y()), attributes);
}
