#pragma once

#include "platform/log/Log.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QRect>
#include <QWidget>

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace koru::test {

// Colours that cannot be mistaken for one another, nor for anti-aliased text (grey, or the
// selected text's yellow over blue).
struct PatchPalette {
    static QColor base() { return {255, 255, 255}; }
    static QColor alternateBase() { return {235, 235, 235}; }
    static QColor grid() { return {255, 0, 0}; }
    static QColor selectedItem() { return {0, 0, 255}; }
    static QColor selectedControl() { return {0, 160, 0}; }
    static QColor highlightedText() { return {255, 255, 0}; }

    static QPalette make() {
        QPalette palette;
        palette.setColor(QPalette::Base, base());
        palette.setColor(QPalette::AlternateBase, alternateBase());
        palette.setColor(QPalette::Mid, grid());
        palette.setColor(QPalette::WindowText, Qt::black);
        palette.setColor(QPalette::HighlightedText, highlightedText());
        palette.setColor(QPalette::Active, QPalette::Highlight, selectedItem());
        palette.setColor(QPalette::Inactive, QPalette::Highlight, selectedControl());
        return palette;
    }
};

inline QColor colourAt(const QImage& image, QPoint at) {
    return QColor(image.pixel(at)).toRgb();
}

// Label text as drawn over the background or the stripes: a grey.
inline bool isText(const QColor& c) {
    return c.red() == c.green() && c.green() == c.blue() && c.red() < 200;
}

// Selected label text, yellow blended into the blue selection.
inline bool isSelectedText(const QColor& c) {
    return c.red() == c.green() && c.red() > c.blue() + 60;
}

// The smallest rectangle holding every pixel of `area` that `wanted` accepts; invalid when none.
inline QRect boundsOf(const QImage& image, const QRect& area,
                      const std::function<bool(const QColor&)>& wanted) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (wanted(colourAt(image, {x, y})))
                bounds = bounds.united(QRect(x, y, 1, 1));
    return bounds;
}

// The pointer moving over a widget without a button held.
inline void hover(QWidget& widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &move);
}

// Collects the log lines written while it lives.
class LogLines {
public:
    LogLines() : mSink(std::make_shared<Sink>()) { koru::log::logger().sinks().push_back(mSink); }
    ~LogLines() {
        auto& sinks = koru::log::logger().sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), mSink), sinks.end());
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    int count(const std::string& text) const {
        const std::vector<std::string> lines = mSink->lines();
        return int(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }

private:
    class Sink : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<std::string> lines() {
            std::lock_guard lock(mutex_);
            return mLines;
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& message) override {
            mLines.emplace_back(message.payload.data(), message.payload.size());
        }
        void flush_() override {}

    private:
        std::vector<std::string> mLines;
    };
    std::shared_ptr<Sink> mSink;
};

} // namespace koru::test
