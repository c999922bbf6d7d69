#include "framework/ZOSuppressableAlert.h"

#include "platform/defaults/UserDefaults.h"
#include "utility/ui/VEAlertAdditions.h"

#include <QCheckBox>

using koru::platform::UserDefaults;

ZOSuppressableAlert::ZOSuppressableAlert(QWidget* parent) : QMessageBox(parent) {
    setTextFormat(Qt::PlainText);
    setStandardButtons(QMessageBox::Ok);
}

void ZOSuppressableAlert::goForAlertWithMessageText(const QString& messageText,
                                                    const QString& informativeText,
                                                    const QString& defaultsIdentifier) {
    ZOSuppressableAlert alert;
    alert.setText(messageText);
    alert.setInformativeText(informativeText);
    alert.setSuppressionIdentifier(defaultsIdentifier);
    alert.runModal();
}

ZOSuppressableAlert*
ZOSuppressableAlert::goForAlertWithMessageText(const QString& messageText,
                                               const QString& informativeText,
                                               const QString& defaultsIdentifier, QWidget* window) {
    auto* alert = new ZOSuppressableAlert(window);
    alert->setText(messageText);
    alert->setInformativeText(informativeText);
    alert->setSuppressionIdentifier(defaultsIdentifier);
    if (alert->isSuppressed()) {
        delete alert;
        return nullptr;
    }
    connect(alert, &ZOSuppressableAlert::sheetDidEnd, alert, &QObject::deleteLater);
    alert->beginSheetModalForWindow(window);
    return alert;
}

void ZOSuppressableAlert::setSuppressionIdentifier(const QString& identifier) {
    mDefaultsIdentifier = identifier;
    if (checkBox() == nullptr)
        setCheckBox(new QCheckBox(VEAlertAdditions::kSuppressionText));
}

bool ZOSuppressableAlert::isSuppressed() const {
    return showsSuppressionButton() && !mDefaultsIdentifier.isEmpty() &&
           UserDefaults::standardUserDefaults().boolForKey(mDefaultsIdentifier);
}

int ZOSuppressableAlert::runModal() {
    if (isSuppressed())
        return kSuppressedReturn;
    exec();
    rememberSuppression();
    return VEAlertAdditions::returnCode(*this);
}

void ZOSuppressableAlert::beginSheetModalForWindow(QWidget* window) {
    if (isSuppressed())
        return;
    if (window != nullptr && parentWidget() != window)
        setParent(window, windowFlags());
    setWindowModality(Qt::WindowModal);
    connect(
        this, &QMessageBox::finished, this,
        [this](int) { alertDidEndIntoNowhere(VEAlertAdditions::returnCode(*this)); },
        Qt::SingleShotConnection);
    open();
}

void ZOSuppressableAlert::alertDidEndIntoNowhere(int returnCode) {
    rememberSuppression();
    emit sheetDidEnd(returnCode);
}

void ZOSuppressableAlert::rememberSuppression() {
    if (checkBox() != nullptr && checkBox()->isChecked() && !mDefaultsIdentifier.isEmpty())
        UserDefaults::standardUserDefaults().setBool(mDefaultsIdentifier, true);
}
