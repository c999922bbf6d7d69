#pragma once

// A plot whose value range can be zoomed by key, menu or pinch.
class KOZoomableInstrumentView {
public:
    virtual ~KOZoomableInstrumentView() = default;
    virtual void zoomIn() = 0;
    virtual void zoomOut() = 0;
};
