#include "analysers/ui/AnalyserInstruments.h"

#include "analysers/KODelayFinderData.h"
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/KOFFTController.h"
#include "analysers/ui/KOSpectralHistoryController.h"
#include "analysers/ui/KOTransferController.h"
#include "app/InstrumentRegistry.h"

namespace koru {

namespace {

// The delegate goes in with the construction: the window's set-up already asks it for the rate.
template <typename Controller> void registerKind(InstrumentRegistry& registry) {
    const QString nibName = QString::fromLatin1(Controller::kNibName);
    registry.registerInstrument(
        QString::fromLatin1(Controller::staticMetaObject.className()),
        [nibName](KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<Controller>(nibName, nullptr, delegate);
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<Controller>(nibName, &dictionary, delegate);
        });
}

} // namespace

void registerAnalyserInstruments(InstrumentRegistry& registry) {
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    KODelayFinderData::registerArchiveClasses();
    registerKind<KOFFTController>(registry);
    registerKind<KOSpectralHistoryController>(registry);
    registerKind<KOTransferController>(registry);
}

} // namespace koru
