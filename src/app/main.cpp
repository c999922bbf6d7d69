#include "analysers/ui/AnalyserInstruments.h"
#include "app/InstrumentRegistry.h"
#include "app/KOPreferences.h"
#include "app/ZOAppDelegate.h"
#include "app/ui/KOAppController.h"
#include "app/ui/QtUiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "engine/ui/DesktopPresenters.h"
#include "engine/ui/KOAuxFilePlayerWrapper.h"
#include "engine/ui/KOSignalGeneratorWrapper.h"
#include "meters/ui/MeterInstruments.h"
#include "netaudio/ui/KOAuxNetReceiveWrapper.h"
#include "netaudio/ui/NetAudioInstruments.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/log/Log.h"
#include "spl/KOLocalLevelwatcher.h"
#include "spl/ui/KOLevelwatcherWindowController.h"
#include "spl/ui/SplInstruments.h"
#include "utility/ui/KOScrollWheelFilter.h"

#include <QApplication>
#include <QFileInfo>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KORU");
    QApplication::setOrganizationDomain("koru.audio");
    // Closing the main window quits through the controller, which may refuse while recording.
    QApplication::setQuitOnLastWindowClosed(false);
    // Property-list and number parsing below Qt go through the C library: keep it on "C".
    std::setlocale(LC_NUMERIC, "C");
    KOScrollWheelFilter::installApplicationWide();
    koru::QtUiPrompter prompter;
    koru::setUiPrompter(&prompter);

    // Before anything else runs or writes a file, the log included: a user who declines leaves
    // nothing behind.
    if (!ZOAppDelegate::settleLicenceAgreement())
        return 0;
    koru::log::init("KORU");
    // The standard defaults must be in place before the first read of any default.
    KOPreferences::sharedPreferences();
    koru::installDesktopPresenters(KOAudioDevice::sharedAudioDevice());
    KOAudioDevice::sharedAudioDevice().setAuxInputWrapperFactory(
        koru::AuxInputKind::SignalGenerator,
        KOSignalGeneratorWrapper::factory(KOAudioDevice::sharedAudioDevice()));
    KOAudioDevice::sharedAudioDevice().setAuxInputWrapperFactory(koru::AuxInputKind::FilePlayer,
                                                                 KOAuxFilePlayerWrapper::factory());
    KOAudioDevice::sharedAudioDevice().setAuxInputWrapperFactory(koru::AuxInputKind::NetReceive,
                                                                 KOAuxNetReceiveWrapper::factory());

    // The add menu lists the registered kinds as the controller is built.
    koru::registerAnalyserInstruments(koru::InstrumentRegistry::shared());
    koru::registerSplInstruments(koru::InstrumentRegistry::shared());
    koru::registerMeterInstruments(koru::InstrumentRegistry::shared());
    koru::registerNetAudioInstruments(koru::InstrumentRegistry::shared());
    // From here on SIGINT and SIGTERM wait in a pipe for the controller's quit path.
    koru::platform::TerminationSignals terminationSignals;
    KOAppController::Services services = KOAppController::programServices();
    services.showServerSettings = &KOShowLevelwatcherWindow;
    KOAppController controller(std::move(services));
    // The SPL service's documents come from the controller; it outlives the event loop.
    KOLocalLevelwatcher::setSharedDataSource(&controller);
    QObject::connect(&terminationSignals, &koru::platform::TerminationSignals::terminationRequested,
                     &controller, &KOAppController::requestTermination);
    controller.awakeFromNib();
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &controller,
                     &KOAppController::applicationStateChanged);
    controller.applicationDidFinishLaunching();

    // Session files handed over on the command line (the desktop file passes them so).
    for (const QString& argument : QApplication::arguments().mid(1))
        if (QFileInfo(argument).suffix() == QStringLiteral("kosession"))
            controller.openFile(argument);
    const int status = app.exec();
    KOLocalLevelwatcher::setSharedDataSource(nullptr);
    return status;
}
