#include "spl/ui/KOLevelwatcherWindowController.h"

#include "app/UiPrompter.h"
#include "spl/KOLocalLevelwatcher.h"
#include "spl/KOStatusTransformer.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

KOLevelwatcherWindowController::KOLevelwatcherWindowController(KOLocalLevelwatcher& server)
    : mServer(server), mWindow(std::make_unique<QWidget>(nullptr, Qt::Window)) {
    mWindow->setWindowTitle(tr(kWindowTitle));
    auto* layout = new QGridLayout(mWindow.get());
    mLight = new QLabel(mWindow.get());
    mLight->setFixedSize(KOStatusTransformer::kSide, KOStatusTransformer::kSide);
    mStatusText = new QLabel(mWindow.get());
    mLink = new QPushButton(mWindow.get());
    mLink->setFlat(true);
    mLink->setCursor(Qt::PointingHandCursor);
    mLink->setStyleSheet(QStringLiteral("QPushButton { color: #1f5fbf; text-decoration: underline; "
                                        "text-align: left; }"));
    layout->addWidget(mLight, 0, 0);
    layout->addWidget(mStatusText, 0, 1);
    layout->addWidget(new QLabel(tr("Address:"), mWindow.get()), 1, 0, 1, 1);
    layout->addWidget(mLink, 1, 1);
    auto* buttons = new QHBoxLayout;
    mShowFolder = new QPushButton(tr("Show Web Folder"), mWindow.get());
    mStop = new QPushButton(tr("Stop"), mWindow.get());
    mStart = new QPushButton(tr("Start"), mWindow.get());
    mStart->setDefault(true);
    buttons->addWidget(mShowFolder);
    buttons->addStretch(1);
    buttons->addWidget(mStop);
    buttons->addWidget(mStart);
    layout->addLayout(buttons, 2, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    mWindow->setMinimumWidth(380);

    connect(mStart, &QPushButton::clicked, this, [this] { startServer(); });
    connect(mStop, &QPushButton::clicked, this, [this] { stopServer(); });
    connect(mShowFolder, &QPushButton::clicked, this, [this] { showDocRootInFinder(); });
    connect(mLink, &QPushButton::clicked, this, [this] { openLink(); });
    connect(&mServer, &KOLocalLevelwatcher::statusChanged, this, [this] { update(); });
    connect(&mServer, &KOLocalLevelwatcher::isRunningChanged, this, [this] { update(); });
    connect(&mServer, &KOLocalLevelwatcher::addressStringChanged, this, [this] { update(); });
    update();
}

KOLevelwatcherWindowController::~KOLevelwatcherWindowController() = default;

void KOLevelwatcherWindowController::showWindow() {
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
    mStart->setFocus();
}

void KOLevelwatcherWindowController::update() {
    const int status = mServer.status();
    mLight->setPixmap(QPixmap::fromImage(KOStatusTransformer::imageForStatus(status)));
    mStatusText->setText(status == KOLocalLevelwatcher::Running    ? tr("The server is running.")
                         : status == KOLocalLevelwatcher::Starting ? tr("Starting…")
                                                                   : tr("The server is stopped."));
    const QString address = mServer.addressString();
    mLink->setText(address.isEmpty() ? tr("–") : address);
    mLink->setEnabled(!address.isEmpty());
    mLink->setProperty("urlString", address);
    mStart->setEnabled(status != KOLocalLevelwatcher::Starting);
    mStop->setEnabled(mServer.isRunning());
}

void KOLevelwatcherWindowController::startServer() {
    QPointer<KOLevelwatcherWindowController> self(this);
    mServer.start([self](bool ok, std::optional<koru::link::LinkError> error) {
        if (ok || !self)
            return;
        koru::Alert alert;
        alert.messageText = tr("The SPL server could not be started.");
        alert.informativeText = error ? error->message : QString();
        koru::uiPrompter().runModal(alert);
    });
}

void KOLevelwatcherWindowController::stopServer() {
    mServer.stop();
}

void KOLevelwatcherWindowController::showDocRootInFinder() {
    koru::uiPrompter().openUrl(QUrl::fromLocalFile(mServer.docRoot()));
}

void KOLevelwatcherWindowController::openLink() {
    const QString address = mServer.addressString();
    if (!address.isEmpty())
        koru::uiPrompter().openUrl(QUrl(address));
}

void KOShowLevelwatcherWindow() {
    static auto* const controller =
        new KOLevelwatcherWindowController(KOLocalLevelwatcher::sharedServer());
    controller->showWindow();
}
