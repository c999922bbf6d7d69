#include "utility/ui/VEAlertAdditions.h"

#include "platform/defaults/UserDefaults.h"

#include <QCheckBox>
#include <QMessageBox>

#include <fmt/format.h>

using koru::platform::UserDefaults;

int VEAlertAdditions::returnCode(const QMessageBox& alert) {
    QAbstractButton* clicked = alert.clickedButton();
    if (clicked == nullptr)
        return kSecondButtonReturn;
    switch (alert.buttonRole(clicked)) {
    case QMessageBox::AcceptRole:
    case QMessageBox::YesRole:
    case QMessageBox::ApplyRole:
        return kFirstButtonReturn;
    case QMessageBox::RejectRole:
    case QMessageBox::NoRole:
        return kSecondButtonReturn;
    default:
        return kThirdButtonReturn;
    }
}

QMessageBox* VEAlertAdditions::VEBeginSheetModalForWindow(std::unique_ptr<QMessageBox> alert,
                                                          QWidget* window,
                                                          CompletionHandler handler) {
    QMessageBox* sheet = alert.release();
    if (window != nullptr)
        sheet->setParent(window, sheet->windowFlags());
    sheet->setWindowModality(Qt::WindowModal);
    QObject::connect(sheet, &QMessageBox::finished, sheet,
                     [sheet, handler = std::move(handler)](int) {
                         if (handler)
                             handler(returnCode(*sheet));
                         sheet->deleteLater();
                     });
    sheet->open();
    return sheet;
}

QMessageBox* VEAlertAdditions::beginSheetModalForWindow(std::unique_ptr<QMessageBox> alert,
                                                        QWidget* window,
                                                        const QString& suppressionIdentifier,
                                                        CompletionHandler handler) {
    if (isSuppressed(suppressionIdentifier))
        return nullptr;
    auto* box = new QCheckBox(kSuppressionText);
    alert->setCheckBox(box);
    const QMessageBox* shown = alert.get();
    return VEBeginSheetModalForWindow(
        std::move(alert), window,
        [shown, suppressionIdentifier, handler = std::move(handler)](int code) {
            if (shown->checkBox() != nullptr && shown->checkBox()->isChecked())
                suppress(suppressionIdentifier);
            if (handler)
                handler(code);
        });
}

QMessageBox* VEAlertAdditions::beginSuppressableAlertWithError(const koru::utility::Error& error,
                                                               QWidget* window,
                                                               CompletionHandler handler) {
    auto alert = std::make_unique<QMessageBox>();
    alert->setIcon(QMessageBox::Warning);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(error.description);
    alert->setInformativeText(error.recoverySuggestion);
    alert->setStandardButtons(QMessageBox::Ok);
    return beginSheetModalForWindow(std::move(alert), window, suppressionIdentifierForError(error),
                                    std::move(handler));
}

QString VEAlertAdditions::suppressionIdentifierForError(const koru::utility::Error& error) {
    return QString::fromStdString(fmt::format("{} ({})", error.domain.toStdString(), error.code));
}

bool VEAlertAdditions::isSuppressed(const QString& identifier) {
    const QVariantList silenced =
        UserDefaults::standardUserDefaults().arrayForKey(kSuppressedAlertsKey);
    return silenced.contains(QVariant(identifier));
}

// Read when the sheet ends, not when it began: another sheet may have silenced its own alert in
// between, and writing back an older copy would lose that.
void VEAlertAdditions::suppress(const QString& identifier) {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    QVariantList silenced = defaults.arrayForKey(kSuppressedAlertsKey);
    if (silenced.contains(QVariant(identifier)))
        return;
    silenced.append(identifier);
    defaults.setObject(kSuppressedAlertsKey, silenced);
}
