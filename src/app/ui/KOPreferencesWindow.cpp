#include "app/ui/KOPreferencesWindow.h"

#include "app/KOPreferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

const QString KOPreferencesWindow::kDesktopNotificationsTitle =
    QStringLiteral("Desktop notifications");

KOPreferencesWindow::KOPreferencesWindow(KOPreferences& preferences, QWidget* parent)
    : QDialog(parent), m_preferences(preferences) {
    setObjectName(QStringLiteral("preferences"));
    setWindowTitle(tr("Preferences"));

    m_loadLastSession = new QCheckBox(tr("Restore the last session when KORU starts"), this);
    m_alwaysOpenDelayFinder =
        new QCheckBox(tr("Always open the Delay Finder with a Transfer Function"), this);
    m_showAllWindows = new QCheckBox(
        tr("Bring all instrument windows to the front when KORU becomes active"), this);
    m_updateWorkspace =
        new QCheckBox(tr("Update the current workspace before recalling another"), this);

    m_autoCloseColorPanel = new QCheckBox(tr("Close the colour panel after"), this);
    m_autoCloseColorPanelTime = new QSpinBox(this);
    m_autoCloseColorPanelTime->setRange(
        static_cast<int>(KOPreferences::kMinimumAutoCloseColorPanelTime),
        static_cast<int>(KOPreferences::kMaximumAutoCloseColorPanelTime));
    m_autoCloseColorPanelTime->setSuffix(tr(" s"));
    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(m_autoCloseColorPanel);
    colourRow->addWidget(m_autoCloseColorPanelTime);
    colourRow->addStretch(1);

    m_notificationSystem = new QComboBox(this);
    auto* notifications = new QFormLayout;
    notifications->addRow(tr("Notifications:"), m_notificationSystem);

    auto* general = new QGroupBox(tr("General"), this);
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(m_loadLastSession);
    generalLayout->addWidget(m_showAllWindows);
    generalLayout->addWidget(m_updateWorkspace);
    generalLayout->addLayout(colourRow);
    generalLayout->addLayout(notifications);

    auto* instruments = new QGroupBox(tr("Instruments"), this);
    auto* instrumentsLayout = new QVBoxLayout(instruments);
    instrumentsLayout->addWidget(m_alwaysOpenDelayFinder);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(general);
    layout->addWidget(instruments);
    layout->addStretch(1);
    layout->addWidget(buttons);

    connect(m_loadLastSession, &QCheckBox::toggled, this,
            [this](bool on) { m_preferences.setShouldLoadLastSession(on); });
    connect(m_alwaysOpenDelayFinder, &QCheckBox::toggled, this,
            [this](bool on) { m_preferences.setAlwaysOpenDelayFinder(on); });
    connect(m_showAllWindows, &QCheckBox::toggled, this,
            [this](bool on) { m_preferences.setShowAllWindowsWhenApplicationBecomesActive(on); });
    connect(m_updateWorkspace, &QCheckBox::toggled, this,
            [this](bool on) { m_preferences.setUpdateWorkspaceBeforeRecall(on); });
    connect(m_autoCloseColorPanel, &QCheckBox::toggled, this, [this](bool on) {
        m_preferences.setAutoCloseColorPanel(on);
        m_autoCloseColorPanelTime->setEnabled(on);
    });
    connect(m_autoCloseColorPanelTime, &QSpinBox::valueChanged, this,
            [this](int seconds) { m_preferences.setAutoCloseColorPanelTime(seconds); });
    connect(m_notificationSystem, &QComboBox::activated, this, [this](int index) {
        m_preferences.setNotificationSystem(m_notificationSystem->itemData(index).toUInt());
    });

    fillNotificationSystemPopUp();
    refresh();
}

// Only the desktop's own notification service exists here, so it is the only choice offered.
void KOPreferencesWindow::fillNotificationSystemPopUp() {
    const QSignalBlocker blocker(m_notificationSystem);
    m_notificationSystem->clear();
    m_notificationSystem->addItem(kDesktopNotificationsTitle,
                                  QVariant::fromValue(KOPreferences::kNotificationSystemNative));
}

void KOPreferencesWindow::refresh() {
    const QSignalBlocker blockSession(m_loadLastSession);
    const QSignalBlocker blockDelayFinder(m_alwaysOpenDelayFinder);
    const QSignalBlocker blockShowAll(m_showAllWindows);
    const QSignalBlocker blockWorkspace(m_updateWorkspace);
    const QSignalBlocker blockAutoClose(m_autoCloseColorPanel);
    const QSignalBlocker blockTime(m_autoCloseColorPanelTime);
    const QSignalBlocker blockNotifications(m_notificationSystem);

    m_loadLastSession->setChecked(m_preferences.shouldLoadLastSession());
    m_alwaysOpenDelayFinder->setChecked(m_preferences.alwaysOpenDelayFinder());
    m_showAllWindows->setChecked(m_preferences.showAllWindowsWhenApplicationBecomesActive());
    m_updateWorkspace->setChecked(m_preferences.updateWorkspaceBeforeRecall());
    const bool autoClose = m_preferences.autoCloseColorPanel();
    m_autoCloseColorPanel->setChecked(autoClose);
    m_autoCloseColorPanelTime->setValue(static_cast<int>(m_preferences.autoCloseColorPanelTime()));
    m_autoCloseColorPanelTime->setEnabled(autoClose);
    const int current =
        m_notificationSystem->findData(QVariant::fromValue(m_preferences.notificationSystem()));
    m_notificationSystem->setCurrentIndex(current >= 0 ? current : 0);
}

void KOPreferencesWindow::showWindow() {
    refresh();
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}
