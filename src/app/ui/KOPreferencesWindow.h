#pragma once

#include <QDialog>

class KOPreferences;
class QCheckBox;
class QComboBox;
class QSpinBox;

// The preferences window. Every control writes its preference the moment it changes; showing
// the window reads them all again, since the defaults may have changed while it was closed.
class KOPreferencesWindow : public QDialog {
    Q_OBJECT
public:
    static const QString kDesktopNotificationsTitle; // "Desktop notifications"

    explicit KOPreferencesWindow(KOPreferences& preferences, QWidget* parent = nullptr);

    // Re-reads the preferences, centres the window on its screen and brings it to the front.
    void showWindow();
    // Sets every control from the preferences without writing anything back.
    void refresh();

    QCheckBox* loadLastSessionCheckBox() const { return m_loadLastSession; }
    QCheckBox* alwaysOpenDelayFinderCheckBox() const { return m_alwaysOpenDelayFinder; }
    QCheckBox* autoCloseColorPanelCheckBox() const { return m_autoCloseColorPanel; }
    QSpinBox* autoCloseColorPanelTimeSpinBox() const { return m_autoCloseColorPanelTime; }
    QComboBox* notificationSystemPopUpButton() const { return m_notificationSystem; }
    QCheckBox* showAllWindowsCheckBox() const { return m_showAllWindows; }
    QCheckBox* updateWorkspaceBeforeRecallCheckBox() const { return m_updateWorkspace; }

private:
    void fillNotificationSystemPopUp();

    KOPreferences& m_preferences;
    QCheckBox* m_loadLastSession = nullptr;
    QCheckBox* m_alwaysOpenDelayFinder = nullptr;
    QCheckBox* m_autoCloseColorPanel = nullptr;
    QSpinBox* m_autoCloseColorPanelTime = nullptr;
    QComboBox* m_notificationSystem = nullptr;
    QCheckBox* m_showAllWindows = nullptr;
    QCheckBox* m_updateWorkspace = nullptr;
};
