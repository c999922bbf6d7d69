#pragma once

#include "utility/ValueTransformer.h"

// Shows a linear gain as decibels ("-6.0 dB") and reads such a text back as a gain.
class VEDecibelTransformer : public koru::utility::ValueTransformer {
public:
    // "%.1f dB" of 20 log10 |g|: a gain of 0 reads "-inf dB"; a negative gain is the same level
    // with its polarity turned, and a value that is no number reads "--.- dB".
    QVariant transformedValue(const QVariant& gain) const override;
    bool allowsReverseTransformation() const override { return true; }
    // 10^(v / 20) of a number, or of a text's leading number (0 without one).
    QVariant reverseTransformedValue(const QVariant& decibels) const override;
};
