#pragma once

#include "engine/AlertPresenter.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

namespace koru {

// A check box shown with an open panel (say, "Overwrite current session").
struct PanelCheckBox {
    QString title;
    bool checked = false;
};

// What a command asks of an open or save panel.
struct FilePanel {
    QString title;
    QString directory;                     // empty: where the panel was last
    QString suggestedName;                 // save panels only
    QStringList nameFilters;               // e.g. "CSV files (*.csv)"
    QString defaultSuffix;                 // added when the user types a name without one
    std::vector<PanelCheckBox> checkBoxes; // open panels only
};

// How the user answered the licence agreement. Closing its window counts as not agreeing.
enum class LicenceAnswer { Agree, Disagree };

// Every modal question the program asks goes through one prompter: alerts, open and save panels,
// the licence agreement, and handing a URL to the desktop. The program shows Qt dialogs; tests
// script the answers, since an offscreen modal dialogue would wait for a click that never comes.
// Main thread only.
class UiPrompter : public AlertPresenter {
public:
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<QString> runSavePanel(const FilePanel& panel) = 0;
    // When the user chose a file, the panel's check boxes hold what the user left them at.
    virtual std::optional<QString> runOpenPanel(FilePanel& panel) = 0;
    // Shows the agreement (HTML) application-modal until the user agrees or declines.
    virtual LicenceAnswer runLicenceAgreement(const QString& html) = 0;
    // Opens a web page or a local file with the desktop; false when nothing could open it.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The program's prompter: main() sets the Qt one before anything asks, tests a scripted one.
// Asking before one is set is a programming error.
UiPrompter& uiPrompter();
void setUiPrompter(UiPrompter* prompter);

} // namespace koru
