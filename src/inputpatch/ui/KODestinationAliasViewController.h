#pragma once

#include <QFrame>
#include <QString>

class KODestinationAliasViewControllerDelegate;
class QLineEdit;
class QPushButton;

// The small popover in which the user names a destination: an alias field with Enter, Next and
// Cancel. It is a Qt::Popup, so a click elsewhere closes it; hidden() reports every way it goes.
// Keys: Return is Enter, Tab is Next (walking the channels without the mouse), Esc is Cancel.
class KODestinationAliasViewController : public QFrame {
    Q_OBJECT
public:
    explicit KODestinationAliasViewController(QWidget* parent = nullptr);

    void setAliasString(const QString& alias);
    QString aliasString() const;

    void enterAlias();
    void enterNext();
    void cancel();

    // Not owned; the patch view that shows the popover.
    void setDelegate(KODestinationAliasViewControllerDelegate* delegate) { mDelegate = delegate; }
    KODestinationAliasViewControllerDelegate* delegate() const { return mDelegate; }

    QLineEdit* aliasField() const { return mAliasField; }
    QPushButton* enterButton() const { return mEnterButton; }
    QPushButton* nextButton() const { return mNextButton; }
    QPushButton* cancelButton() const { return mCancelButton; }

signals:
    void hidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    KODestinationAliasViewControllerDelegate* mDelegate = nullptr;
    QLineEdit* mAliasField = nullptr;
    QPushButton* mEnterButton = nullptr;
    QPushButton* mNextButton = nullptr;
    QPushButton* mCancelButton = nullptr;
};
