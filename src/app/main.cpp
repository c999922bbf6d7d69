#include "analysers/ui/AnalyserInstruments.h"
#include "app/InstrumentRegistry.h"
#include "app/KOPreferences.h"
#include "app/ZOAppDelegate.h"
#include "app/ui/KOAppController.h"
#include "app/ui/QtUiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "engine/ui/DesktopPresenters.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/log/Log.h"
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

    // The add menu lists the registered kinds as the controller is built.
    koru::registerAnalyserInstruments(koru::InstrumentRegistry::shared());
    KOAppController controller(KOAppController::programServices());
    // As soon as there is a controller to quit through: a signal during the rest of start-up (a
    // session being restored or opened) is handled once the event loop runs, instead of killing
    // the program without saving.
    koru::platform::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &koru::platform::TerminationSignals::terminationRequested,
                     &controller, [&controller] { controller.terminate(); });
    controller.awakeFromNib();
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &controller,
                     &KOAppController::applicationStateChanged);
    controller.applicationDidFinishLaunching();

    // Session files handed over on the command line (the desktop file passes them so).
    for (const QString& argument : QApplication::arguments().mid(1))
        if (QFileInfo(argument).suffix() == QStringLiteral("kosession"))
            controller.openFile(argument);
    return app.exec();
}
