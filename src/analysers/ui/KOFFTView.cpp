#include "analysers/ui/KOFFTView.h"

#include "analysers/KOFFTInstrumentWrapperBase.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/KOInstrumentControlView.h"

KOFFTView::KOFFTView(QWidget* parent, double nyquist) : KOFFTInstViewBase(parent, nyquist) {
    controlView()->setHeight(kOverlayHeight);
}

void KOFFTView::awakeFromNib() {
    setMagLimits(kOuterLowerMag, kOuterUpperMag);
    setLoMagLimit(-96.0f);
    setHiMagLimit(0.0f);
}

bool KOFFTView::buildLayerWithWrappers(
    const std::vector<std::shared_ptr<KOInstrumentWrapper>>& models) {
    return buildTraceLayer([this, &models](KOFFTLayer& layer) {
        int bands = 0;
        double lower = 0.0;
        double upper = 0.0;
        double nyquist = 0.0;
        {
            const ZOLogViewMath& axis = logViewMath();
            const std::lock_guard lock(axis.mutex());
            bands = axis.bandsPerOctave();
            lower = axis.lowFrequency();
            upper = axis.highFrequency();
            nyquist = axis.nyquist();
        }
        for (const auto& each : models) {
            const auto* model = dynamic_cast<const KOFFTInstrumentWrapperBase*>(each.get());
            if (model == nullptr || !model->show())
                continue;
            for (int trace = 0; trace < KOFFTInstrumentWrapperBase::kTraceCount; ++trace) {
                KOFFTDrawingData* data = model->drawingDataForTrace(trace);
                data->UpdateParameters(bands, lower, upper, layer.width(), nyquist);
                layer.draw(data);
            }
        }
    });
}
