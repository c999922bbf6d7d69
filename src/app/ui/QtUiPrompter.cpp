#include "app/ui/QtUiPrompter.h"

#include "app/ui/LicenceAgreementDialog.h"

#include "engine/ui/MessageBoxAlertPresenter.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>

namespace koru {

namespace {

std::optional<QString> runPanel(FilePanel& panel, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(QApplication::activeWindow(), panel.title, panel.directory);
    // The desktop's own dialogue takes no widgets of ours: with check boxes, Qt's dialogue.
    std::vector<QCheckBox*> boxes;
    if (!panel.checkBoxes.empty()) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            for (const PanelCheckBox& option : panel.checkBoxes) {
                auto* box = new QCheckBox(option.title, &dialog);
                box->setChecked(option.checked);
                grid->addWidget(box, grid->rowCount(), 0, 1, -1);
                boxes.push_back(box);
            }
    }
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
    for (std::size_t i = 0; i < boxes.size(); ++i)
        panel.checkBoxes[i].checked = boxes[i]->isChecked();
    return dialog.selectedFiles().constFirst();
}

} // namespace

AlertPresenter::Response QtUiPrompter::runModal(const Alert& alert) {
    MessageBoxAlertPresenter boxes;
    return boxes.runModal(alert);
}

std::optional<QString> QtUiPrompter::runSavePanel(const FilePanel& panel) {
    FilePanel withoutCheckBoxes = panel;
    withoutCheckBoxes.checkBoxes.clear();
    return runPanel(withoutCheckBoxes, QFileDialog::AcceptSave);
}

std::optional<QString> QtUiPrompter::runOpenPanel(FilePanel& panel) {
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
