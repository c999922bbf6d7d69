#pragma once

#include "utility/ValueTransformer.h"

#include <QImage>

// Shows a flag as a status dot: green for yes, red for no.
class VEBoolImageTransformer : public koru::utility::ValueTransformer {
public:
    static constexpr int kSide = 16;

    QVariant transformedValue(const QVariant& flag) const override;
    bool allowsReverseTransformation() const override { return true; }

    static QImage statusAvailableImage();
    static QImage statusUnavailableImage();
};
