#pragma once

#include "RulerMarker.h"

#include <functional>

namespace koru::framework {

// A widget showing a document laid out along x in its own units (samples), at some scale and
// scroll position: what a time ruler measures. The ruler maps the document's origin through the
// widget, so it follows the widget wherever it sits.
class RulerClient {
public:
    virtual ~RulerClient() = default;
    virtual double rulerPixelsPerUnit() const = 0;
    // Widget x of the document's origin (negative once scrolled).
    virtual double rulerDocumentOrigin() const = 0;
    virtual double rulerDocumentLength() const = 0;
    // Called after every change of scale or scroll position; one observer at a time.
    virtual void setRulerObserver(std::function<void()> observer) = 0;

    // A marker drag: asked before it starts, then every proposed place (the answer is where the
    // marker goes), then told when the mouse lets go.
    virtual bool rulerShouldMoveMarker(const RulerMarker& marker) {
        (void)marker;
        return true;
    }
    virtual double rulerWillMoveMarker(const RulerMarker& marker, double location) {
        (void)marker;
        return location;
    }
    virtual void rulerDidMoveMarker(const RulerMarker& marker) { (void)marker; }
};

} // namespace koru::framework
