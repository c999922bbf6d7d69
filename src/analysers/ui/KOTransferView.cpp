#include "analysers/ui/KOTransferView.h"

#include "analysers/KOTransferMeasurementWrapper.h"
#include "analysers/ui/KOTransferLayer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/KOInstrumentControlView.h"

KOTransferView::KOTransferView(QWidget* parent, double nyquist)
    : KOFFTInstViewBase(parent, nyquist) {
    controlView()->setHeight(80.0);
}

void KOTransferView::awakeFromNib() {
    setMagLimits(kOuterLowerMag, kOuterUpperMag);
    setLoMagLimit(kLowerMag);
    setHiMagLimit(kUpperMag);
}

bool KOTransferView::buildLayerWithTransferWrappers(
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
        // One drawer for the whole layer: the coherence band is drawn once.
        KOTransferLayer transfer(layer, layer.frame().height());
        for (const auto& each : models) {
            auto* model = dynamic_cast<KOTransferMeasurementWrapper*>(each.get());
            if (model == nullptr || !model->show())
                continue;
            for (int trace = 0; trace < KOFFTInstrumentWrapperBase::kTraceCount; ++trace)
                model->drawingDataForTrace(trace)->UpdateParameters(bands, lower, upper,
                                                                    layer.width(), nyquist);
            transfer.draw(*model->magDrawingData(), *model->phiDrawingData(),
                          *model->cohDrawingData());
        }
    });
}
