#pragma once

#include <QColor>
#include <QVariantMap>

// The colours of the plots: the sequence of trace colours, the dictionary form saved inside
// instrument settings ("r", "g", "b", "a"), and the fixed interface colours.
class KOColorAdditions {
public:
    static QColor nextColor();
    // Bright enough on the dark plots: red >= 0.4, green >= 0.2, blue >= 0.5. Safe from any
    // thread; consecutive colours differ.
    static QColor nextColorWithAlpha(double alpha);
    static QVariantMap dictionaryRepresentation(const QColor& color);
    // The stored colour when the dictionary holds finite numbers, some red, green or blue and
    // alpha above 0 (a missing key reads 0); otherwise a new trace colour.
    static QColor colorFromDictionary(const QVariantMap& dictionary);
    static QColor darkKORUBackingColor();
    static QColor noBlueColor();
};
