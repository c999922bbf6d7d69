#pragma once

#include "analysers/ui/KOFFTInstViewBase.h"

#include <memory>
#include <vector>

class KOInstrumentWrapper;

// The spectrum analyser's plot: the traces of every shown spectrum model (instantaneous, peak
// and average, in that order; later models over earlier ones) drawn into a layer on the
// collector thread and composited over the grid on the main thread.
class KOFFTView : public KOFFTInstViewBase {
    Q_OBJECT
public:
    static constexpr double kOverlayHeight = 70.0;
    static constexpr float kOuterLowerMag = -144.0f;
    static constexpr float kOuterUpperMag = 0.0f;

    explicit KOFFTView(QWidget* parent = nullptr, double nyquist = ZOLogViewMath::kDefaultNyquist);

    // Outer limits -144..0 dB, shown range -96..0 dB.
    void awakeFromNib();

    // Collector thread. Rebuilds the trace layer from the models (anything but an FFT model is
    // passed over). Skipped, answering false, while the previous frame has not been shown.
    bool buildLayerWithWrappers(const std::vector<std::shared_ptr<KOInstrumentWrapper>>& models);
};
