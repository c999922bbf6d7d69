#pragma once

#include <QString>
#include <QVariant>

// Shows and reads frequencies in the compact style of the plots' labels: 1250 Hz is "1k25Hz".
// Texts are read the same way whatever the locale.
class VEFrequencyFormatter {
public:
    // "%@Hz" of the compact label of the number as a 32-bit float.
    static QString stringFromNumber(double hertz);
    // A number goes to stringFromNumber; anything else has no text (a null string).
    static QString stringForObjectValue(const QVariant& value);
    // Split at "k": with exactly two pieces, the first piece's leading number in thousands plus
    // each character of the second weighted 100, 10, 1, 0.1, ... (a non-digit counts 0 but takes
    // its place); otherwise the whole text's leading number (0 without one).
    static double numberFromString(const QString& text);
    // Always succeeds; stores numberFromString's answer.
    static bool getObjectValue(QVariant& value, const QString& text);
};
