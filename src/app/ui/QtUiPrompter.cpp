#include "app/ui/QtUiPrompter.h"

#include "app/ui/LicenceAgreementDialog.h"

#include "engine/ui/MessageBoxAlertPresenter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>

namespace koru {

namespace {

std::optional<QString> runPanel(const FilePanel& panel, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(QApplication::activeWindow(), panel.title, panel.directory);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    if (!panel.nameFilters.isEmpty())
        dialog.setNameFilters(panel.nameFilters);
    if (!panel.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(panel.defaultSuffix);
    if (!panel.suggestedName.isEmpty())
        dialog.selectFile(panel.suggestedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

AlertPresenter::Response QtUiPrompter::runModal(const Alert& alert) {
    MessageBoxAlertPresenter boxes;
    return boxes.runModal(alert);
}

std::optional<QString> QtUiPrompter::runSavePanel(const FilePanel& panel) {
    return runPanel(panel, QFileDialog::AcceptSave);
}

std::optional<QString> QtUiPrompter::runOpenPanel(const FilePanel& panel) {
    return runPanel(panel, QFileDialog::AcceptOpen);
}

LicenceAnswer QtUiPrompter::runLicenceAgreement(const QString& html) {
    LicenceAgreementDialog dialog(html);
    return dialog.exec() == QDialog::Accepted ? LicenceAnswer::Agree : LicenceAnswer::Disagree;
}

bool QtUiPrompter::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

} // namespace koru
