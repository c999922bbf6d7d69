#pragma once

#include <QColor>
#include <QVariantMap>

#include <cstdint>

// The colours of the plots: the sequence of trace colours, the dictionary form saved inside
// instrument settings ("r", "g", "b", "a"), and the fixed interface colours.
class KOColorAdditions {
public:
    static QColor nextColor();
    // The next of the process's trace colours (see TraceColourSequence). Safe from any thread.
    static QColor nextColorWithAlpha(double alpha);
    // Starts the process's trace colours over from `seed` (first use seeds from the clock).
    static void seedTraceColours(std::uint32_t seed);
    static QVariantMap dictionaryRepresentation(const QColor& color);
    // The stored colour when the dictionary holds finite numbers, some red, green or blue and
    // alpha above 0 (a missing key reads 0); otherwise a new trace colour.
    static QColor colorFromDictionary(const QVariantMap& dictionary);
    static QColor darkKORUBackingColor();
    static QColor noBlueColor();
};
