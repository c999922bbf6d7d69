#pragma once

#include "analysers/ui/KOFFTInstViewBase.h"

#include <memory>
#include <vector>

class KOInstrumentWrapper;

// The transfer window's plot: magnitude, phase and coherence of every shown transfer measurement
// in one logarithmic-frequency view, built on the collector thread and composited on main.
class KOTransferView : public KOFFTInstViewBase {
    Q_OBJECT
public:
    static constexpr float kOuterLowerMag = -60.0f;
    static constexpr float kOuterUpperMag = 60.0f;
    static constexpr float kLowerMag = -23.0f;
    static constexpr float kUpperMag = 20.0f;

    explicit KOTransferView(QWidget* parent = nullptr,
                            double nyquist = ZOLogViewMath::kDefaultNyquist);
    // Outer limits -60..60 dB, shown range -23..20 dB.
    void awakeFromNib();
    // Collector thread. Skipped (false) while the previous frame has not been shown; anything
    // but a transfer measurement is passed over.
    bool
    buildLayerWithTransferWrappers(const std::vector<std::shared_ptr<KOInstrumentWrapper>>& models);
};
