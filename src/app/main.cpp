#include "app/KOPreferences.h"
#include "app/ZOAppDelegate.h"
#include "app/ui/KOPreferencesWindow.h"
#include "app/ui/QtUiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "engine/ui/DesktopPresenters.h"
#include "platform/log/Log.h"
#include "utility/ui/KOScrollWheelFilter.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KORU");
    QApplication::setOrganizationDomain("koru.audio");
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
    KOPreferences& preferences = KOPreferences::sharedPreferences();

    koru::installDesktopPresenters(KOAudioDevice::sharedAudioDevice());
    ZOAppDelegate delegate;
    delegate.keepSystemAlive();

    QMainWindow window;
    window.setWindowTitle("KORU");
    KOPreferencesWindow preferencesWindow(preferences, &window);
    QAction* showPreferences = window.menuBar()
                                   ->addMenu(QObject::tr("KORU"))
                                   ->addAction(QObject::tr("Preferences…"), &preferencesWindow,
                                               &KOPreferencesWindow::showWindow);
    showPreferences->setShortcut(QKeySequence::Preferences);
    showPreferences->setShortcutContext(Qt::ApplicationShortcut);
    showPreferences->setMenuRole(QAction::PreferencesRole);
    window.resize(900, 600);
    window.show();
    return app.exec();
}
