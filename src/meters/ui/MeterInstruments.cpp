#include "meters/ui/MeterInstruments.h"

#include "app/InstrumentRegistry.h"
#include "meters/ui/KODeviceInPPMController.h"
#include "meters/ui/KOGoniometerController.h"
#include "meters/ui/KOLevelHistoryController.h"
#include "meters/ui/KOOscilloscopeController.h"
#include "meters/ui/KORecorderController.h"
#include "meters/ui/KORecordingsList.h"
#include "meters/ui/KORecordingsWindowController.h"

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

// Finished recordings go to the program's one recordings list, shown in its own window.
class RecordingsWindowList final : public KORecordingsList {
public:
    void addRecording(const QString& path) override {
        KORecordingsWindowController::sharedController().addRecording(path);
    }
};

} // namespace

void registerMeterInstruments(InstrumentRegistry& registry) {
    registerOne<KOGoniometerController>(registry);
    registerOne<KODeviceInPPMController>(registry);
    registerOne<KOOscilloscopeController>(registry);
    registerOne<KOLevelHistoryController>(registry);
    registerOne<KORecorderController>(registry);
    static RecordingsWindowList recordings;
    KORecorderController::setRecordingsList(&recordings);
    registry.registerWindowCommand(QStringLiteral("Recordings"), [] {
        KORecordingsWindowController::sharedController().showWindow();
    });
}

} // namespace koru
