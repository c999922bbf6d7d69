#pragma once

#include <QString>

class QWidget;

namespace koru {

// A window's saved frame as text, "x y w h sx sy sw sh": its geometry and the available geometry
// of its screen then. Applying it keeps the window on a screen that exists now (the one it mostly
// lies on, else the primary one), shrunk to fit. A malformed text or an empty size changes
// nothing and answers false.
QString windowFrameString(const QWidget& window);
bool setWindowFrameFromString(QWidget& window, const QString& frame);

} // namespace koru
