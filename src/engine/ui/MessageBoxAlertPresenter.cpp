#include "engine/ui/MessageBoxAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

namespace koru {

AlertPresenter::Response MessageBoxAlertPresenter::runModal(const Alert& alert) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    QPushButton* defaultButton = box.addButton(alert.defaultButton, QMessageBox::AcceptRole);
    if (!alert.alternateButton.isEmpty()) {
        box.addButton(alert.alternateButton, QMessageBox::RejectRole);
    }
    box.setDefaultButton(defaultButton);
    box.exec();
    return box.clickedButton() == defaultButton ? Response::Default : Response::Alternate;
}

} // namespace koru
