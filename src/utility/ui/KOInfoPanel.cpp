#include "utility/ui/KOInfoPanel.h"

#include "platform/defaults/UserDefaults.h"

#include <QGuiApplication>
#include <QLabel>
#include <QVBoxLayout>

using koru::platform::UserDefaults;

KOInfoPanel& KOInfoPanel::sharedInfoPanel() {
    // Lives as long as the process.
    static auto* shared = new KOInfoPanel();
    return *shared;
}

KOInfoPanel::KOInfoPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setWindowTitle(QStringLiteral("Info"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    mFirstLine = new QLabel(this);
    mSecondLine = new QLabel(this);
    for (QLabel* line : {mFirstLine, mSecondLine})
        line->setTextInteractionFlags(Qt::NoTextInteraction);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 6);
    layout->setSpacing(2);
    layout->addWidget(mFirstLine);
    layout->addWidget(mSecondLine);
    setMinimumWidth(220);
    setInfoText(QStringLiteral("Welcome to KORU"));
    restoreFrame();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &KOInfoPanel::applicationStateChanged);
}

void KOInfoPanel::setInfoText(const QString& text) {
    mFirstLine->setText(text);
    mSecondLine->setHidden(true);
}

void KOInfoPanel::setInfoText(const QString& text, const QString& additional) {
    mFirstLine->setText(text);
    mSecondLine->setText(additional);
    mSecondLine->setHidden(false);
}

void KOInfoPanel::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) {
        if (m_hiddenForDeactivation)
            show();
        m_hiddenForDeactivation = false;
        return;
    }
    if (isVisible()) {
        hide();
        m_hiddenForDeactivation = true;
    }
}

void KOInfoPanel::hideEvent(QHideEvent* event) {
    saveFrame();
    QWidget::hideEvent(event);
}

void KOInfoPanel::moveEvent(QMoveEvent* event) {
    if (isVisible())
        saveFrame();
    QWidget::moveEvent(event);
}

void KOInfoPanel::saveFrame() {
    UserDefaults::standardUserDefaults().setObject(QString::fromLatin1(kFrameDefaultsKey),
                                                   saveGeometry());
}

void KOInfoPanel::restoreFrame() {
    const QByteArray frame =
        UserDefaults::standardUserDefaults().dataForKey(QString::fromLatin1(kFrameDefaultsKey));
    if (!frame.isEmpty())
        restoreGeometry(frame);
}
