#include "spl/ui/SplInstruments.h"

#include "app/InstrumentRegistry.h"
#include "spl/ui/KOSPLLoggingController.h"
#include "spl/ui/KOSplController.h"

namespace koru {

void registerSplInstruments(InstrumentRegistry& registry) {
    const QString nibName = QString::fromLatin1(KOSplController::kNibName);
    // The delegate goes in with the construction: the set-up already asks it for the rate.
    registry.registerInstrument(
        QString::fromLatin1(KOSplController::staticMetaObject.className()),
        [nibName](KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<KOSplController>(nibName, nullptr, delegate);
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<KOSplController>(nibName, &dictionary, delegate);
        });
    registry.registerWindowCommand(QStringLiteral("SPL Logs"), [] {
        KOSPLLoggingController::sharedSPLLogController().showWindow();
    });
}

} // namespace koru
