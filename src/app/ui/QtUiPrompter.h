#pragma once

#include "app/UiPrompter.h"

namespace koru {

// Alerts as message boxes, panels as file dialogues, the licence in its own window, URLs through
// the desktop services.
class QtUiPrompter : public UiPrompter {
public:
    Response runModal(const Alert& alert) override;
    std::optional<QString> runSavePanel(const FilePanel& panel) override;
    std::optional<QString> runOpenPanel(FilePanel& panel) override;
    LicenceAnswer runLicenceAgreement(const QString& html) override;
    bool openUrl(const QUrl& url) override;
};

} // namespace koru
