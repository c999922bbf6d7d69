#pragma once

#include "utility/ValueTransformer.h"

#include <QImage>

// Shows the SPL server's status as a light: -1 (starting) amber, 1 (running) green, 0 (stopped)
// red, anything else a grey, unlit one. Drawn here, 17 x 17.
class KOStatusTransformer : public koru::utility::ValueTransformer {
public:
    static constexpr int kSide = 17;

    QVariant transformedValue(const QVariant& status) const override;
    bool allowsReverseTransformation() const override { return true; }

    static QImage imageForStatus(qint64 status);
};
