#include "NetAudioInstruments.h"

#include "KONetSendController.h"

#include "app/InstrumentRegistry.h"

namespace koru {

void registerNetAudioInstruments(InstrumentRegistry& registry) {
    const QString nibName = QString::fromLatin1(KONetSendController::kNibName);
    registry.registerInstrument(
        QString::fromLatin1(KONetSendController::staticMetaObject.className()),
        [nibName](KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<KONetSendController>(nibName, nullptr, delegate);
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> InstrumentRegistry::Instrument {
            return KOInstrumentController::create<KONetSendController>(nibName, &dictionary,
                                                                       delegate);
        });
}

} // namespace koru
