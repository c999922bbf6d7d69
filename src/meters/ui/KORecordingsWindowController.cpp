#include "meters/ui/KORecordingsWindowController.h"

#include "meters/ui/KORecordingsView.h"
#include "platform/defaults/UserDefaults.h"

#include <QVBoxLayout>
#include <QWidget>

KORecordingsWindowController& KORecordingsWindowController::sharedController() {
    // Lives to the end of the process, like the list it shows.
    static auto* controller = new KORecordingsWindowController(
        KORecordingsStore::defaultPath(), koru::platform::UserDefaults::standardUserDefaults());
    return *controller;
}

KORecordingsWindowController::KORecordingsWindowController(const QString& storePath,
                                                           koru::platform::UserDefaults& defaults)
    : mStore(storePath), mModel(mStore), mDefaults(defaults) {}

KORecordingsWindowController::~KORecordingsWindowController() = default;

QWidget* KORecordingsWindowController::window() {
    if (!mWindow) {
        mWindow = std::make_unique<QWidget>();
        mWindow->setObjectName(QStringLiteral("recordingswindow"));
        mWindow->setWindowTitle(tr("Recordings"));
        mView = new KORecordingsView(mModel, mWindow.get());
        auto* layout = new QVBoxLayout(mWindow.get());
        layout->addWidget(mView);
        mWindow->resize(320, 400);
    }
    return mWindow.get();
}

KORecordingsView* KORecordingsWindowController::view() {
    window();
    return mView;
}

void KORecordingsWindowController::showWindow() {
    window()->show();
    mWindow->raise();
    mWindow->activateWindow();
}

bool KORecordingsWindowController::addRecording(const QString& path) {
    if (mDefaults.boolForKey(QString::fromLatin1(kOpenWindowKey)))
        showWindow();
    return mModel.addRecording(path);
}
