#include "app/ui/QtUiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "engine/ui/DesktopPresenters.h"
#include "platform/log/Log.h"
#include "utility/ui/KOScrollWheelFilter.h"

#include <QApplication>
#include <QMainWindow>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KORU");
    QApplication::setOrganizationDomain("koru.audio");
    // Property-list and number parsing below Qt go through the C library: keep it on "C".
    std::setlocale(LC_NUMERIC, "C");
    koru::log::init("KORU");
    koru::installDesktopPresenters(KOAudioDevice::sharedAudioDevice());
    KOScrollWheelFilter::installApplicationWide();
    koru::QtUiPrompter prompter;
    koru::setUiPrompter(&prompter);

    QMainWindow window;
    window.setWindowTitle("KORU");
    window.resize(900, 600);
    window.show();
    return app.exec();
}
