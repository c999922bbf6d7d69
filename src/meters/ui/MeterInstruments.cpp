#include "meters/ui/MeterInstruments.h"

#include "app/InstrumentRegistry.h"
#include "meters/ui/KODeviceInPPMController.h"
#include "meters/ui/KOGoniometerController.h"
#include "meters/ui/KOLevelHistoryController.h"
#include "meters/ui/KOOscilloscopeController.h"
#include "meters/ui/KORecorderController.h"

namespace koru {

namespace {

template <typename T> void registerOne(InstrumentRegistry& registry) {
    const QString nibName = QString::fromLatin1(T::kNibName);
    registry.registerInstrument(
        QString::fromLatin1(T::staticMetaObject.className()),
        [nibName](KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            auto made = KOInstrumentController::create<T>(nibName, nullptr);
            made->setDelegate(delegate);
            return made;
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            auto made = KOInstrumentController::create<T>(nibName, &dictionary);
            made->setDelegate(delegate);
            return made;
        });
}

} // namespace

void registerMeterInstruments(InstrumentRegistry& registry) {
    registerOne<KOGoniometerController>(registry);
    registerOne<KODeviceInPPMController>(registry);
    registerOne<KOOscilloscopeController>(registry);
    registerOne<KOLevelHistoryController>(registry);
    registerOne<KORecorderController>(registry);
}

} // namespace koru
