#pragma once

#include <QMessageBox>
#include <QString>

// An alert with a "do not show this message again" box whose answer is remembered per alert
// kind: the user default under the alert's identifier becomes YES when the alert ends with the
// box ticked, and from then on alerts of that kind are not shown at all. Nothing in the program
// clears it. Main thread only.
class ZOSuppressableAlert : public QMessageBox {
    Q_OBJECT
public:
    // What runModal answers for a suppressed alert.
    static constexpr int kSuppressedReturn = 1;

    explicit ZOSuppressableAlert(QWidget* parent = nullptr);

    // Runs the alert application-modal; the answer is not used.
    static void goForAlertWithMessageText(const QString& messageText,
                                          const QString& informativeText,
                                          const QString& defaultsIdentifier);
    // Shows the alert as a sheet on the window; answers the sheet, or null when suppressed.
    static ZOSuppressableAlert* goForAlertWithMessageText(const QString& messageText,
                                                          const QString& informativeText,
                                                          const QString& defaultsIdentifier,
                                                          QWidget* window);

    // Keeps the identifier and shows the box. Without one the alert has no box, is always
    // shown and writes nothing.
    void setSuppressionIdentifier(const QString& identifier);
    QString suppressionIdentifier() const { return mDefaultsIdentifier; }
    bool showsSuppressionButton() const { return checkBox() != nullptr; }
    bool isSuppressed() const;

    // The button's return code, or kSuppressedReturn at once when suppressed.
    int runModal();
    // Shows the alert as a sheet on the window unless suppressed; the sheet ends in
    // alertDidEndIntoNowhere and calls nobody else.
    void beginSheetModalForWindow(QWidget* window);
    void alertDidEndIntoNowhere(int returnCode);

signals:
    void sheetDidEnd(int returnCode);

private:
    void rememberSuppression();

    QString mDefaultsIdentifier;
};
