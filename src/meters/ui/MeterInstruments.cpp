#include "meters/ui/MeterInstruments.h"

#include "app/InstrumentRegistry.h"
#include "meters/ui/KOGoniometerController.h"

namespace koru {

void registerMeterInstruments(InstrumentRegistry& registry) {
    const QString nibName = QString::fromLatin1(KOGoniometerController::kNibName);
    registry.registerInstrument(
        QString::fromLatin1(KOGoniometerController::staticMetaObject.className()),
        [nibName](KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            auto made = KOInstrumentController::create<KOGoniometerController>(nibName, nullptr);
            made->setDelegate(delegate);
            return made;
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            auto made =
                KOInstrumentController::create<KOGoniometerController>(nibName, &dictionary);
            made->setDelegate(delegate);
            return made;
        });
}

} // namespace koru
