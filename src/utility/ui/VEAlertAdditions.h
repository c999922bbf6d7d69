#pragma once

#include "utility/Error.h"

#include <QString>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

// Alerts shown as sheets on a window, ending in a completion handler, and alerts the user can
// silence for good with their "do not show again" box. Silenced alerts are remembered by
// identifier in the user default "suppressedAlerts" (an array of strings). Main thread only.
class VEAlertAdditions {
public:
    static constexpr int kFirstButtonReturn = 1000;
    static constexpr int kSecondButtonReturn = 1001;
    static constexpr int kThirdButtonReturn = 1002;
    static inline const QString kSuppressedAlertsKey = QStringLiteral("suppressedAlerts");
    static inline const QString kSuppressionText = QStringLiteral("Do not show this message again");

    using CompletionHandler = std::function<void(int returnCode)>;

    // The code of the button that ended the alert: a button that accepts is the first, one that
    // rejects the second, any other the third. An alert closed without a button answers the
    // second, as cancelling does.
    static int returnCode(const QMessageBox& alert);

    // Shows the alert window-modal on the window and calls the handler with the return code when
    // it ends; the alert is deleted afterwards. Returns the alert while it is shown.
    static QMessageBox* VEBeginSheetModalForWindow(std::unique_ptr<QMessageBox> alert,
                                                   QWidget* window, CompletionHandler handler);
    // As above with a "do not show again" box. An alert already silenced is not shown and its
    // handler is never called (answers null); one ended with the box ticked is silenced.
    static QMessageBox* beginSheetModalForWindow(std::unique_ptr<QMessageBox> alert,
                                                 QWidget* window,
                                                 const QString& suppressionIdentifier,
                                                 CompletionHandler handler);
    // An alert telling the error, silenced by "domain (code)".
    static QMessageBox* beginSuppressableAlertWithError(const koru::utility::Error& error,
                                                        QWidget* window, CompletionHandler handler);
    static QString suppressionIdentifierForError(const koru::utility::Error& error);
    static bool isSuppressed(const QString& identifier);
    // Adds the identifier to the silenced ones, unless it is there already.
    static void suppress(const QString& identifier);
};
