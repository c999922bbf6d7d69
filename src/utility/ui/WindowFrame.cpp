#include "utility/ui/WindowFrame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace koru {

namespace {

std::optional<std::array<int, 8>> parseFrame(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const char* pos = bytes.constData();
    const char* end = pos + bytes.size();
    std::array<int, 8> values{};
    for (int& value : values) {
        while (pos < end && *pos == ' ')
            ++pos;
        const auto [next, ec] = std::from_chars(pos, end, value);
        if (ec != std::errc())
            return std::nullopt;
        pos = next;
    }
    while (pos < end && *pos == ' ')
        ++pos;
    if (pos != end)
        return std::nullopt;
    return values;
}

// The screen the rectangle mostly lies on now, else the primary one.
QScreen* screenFor(const QRect& rect) {
    QScreen* best = QGuiApplication::primaryScreen();
    qint64 bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

QRect clampedOnto(QRect rect, const QRect& area) {
    rect.setWidth(std::min(rect.width(), area.width()));
    rect.setHeight(std::min(rect.height(), area.height()));
    const int x = std::clamp(rect.x(), area.left(), area.right() + 1 - rect.width());
    const int y = std::clamp(rect.y(), area.top(), area.bottom() + 1 - rect.height());
    rect.moveTo(x, y);
    return rect;
}

} // namespace

QString windowFrameString(const QWidget& window) {
    const QRect frame = window.geometry();
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    return QString::fromStdString(fmt::format("{} {} {} {} {} {} {} {}", frame.x(), frame.y(),
                                              frame.width(), frame.height(), area.x(), area.y(),
                                              area.width(), area.height()));
}

bool setWindowFrameFromString(QWidget& window, const QString& text) {
    const auto values = parseFrame(text);
    if (!values)
        return false;
    const auto& v = *values;
    QRect frame(v[0], v[1], v[2], v[3]);
    if (frame.width() <= 0 || frame.height() <= 0)
        return false;
    if (const QScreen* screen = screenFor(frame))
        frame = clampedOnto(frame, screen->availableGeometry());
    window.setGeometry(frame);
    return true;
}

} // namespace koru
