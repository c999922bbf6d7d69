#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QListWidget;
class QPushButton;

// Qt has no toolbar palette: the user arranges the toolbar here, picking from the allowed items
// (spaces and the customise item may appear more than once, every other item once) and ordering
// the chosen ones. Titles are shown; identifiers are what it answers.
class KOToolbarCustomizationDialog : public QDialog {
    Q_OBJECT
public:
    KOToolbarCustomizationDialog(QStringList allowed, QStringList defaults, QStringList current,
                                 std::function<QString(const QString&)> title,
                                 QWidget* parent = nullptr);

    QStringList identifiers() const;

    QListWidget* allowedList() const { return mAllowed; }
    QListWidget* chosenList() const { return mChosen; }
    QPushButton* addButton() const { return mAdd; }
    QPushButton* removeButton() const { return mRemove; }
    QPushButton* upButton() const { return mUp; }
    QPushButton* downButton() const { return mDown; }
    QPushButton* defaultsButton() const { return mDefaults; }

    // Items that may stand in the toolbar more than once.
    static bool isRepeatable(const QString& identifier);

private:
    void fillChosen(const QStringList& identifiers);
    void addSelected();
    void removeSelected();
    void moveSelected(int step);

    QStringList mAllowedIdentifiers;
    QStringList mDefaultIdentifiers;
    std::function<QString(const QString&)> mTitle;
    QListWidget* mAllowed = nullptr;
    QListWidget* mChosen = nullptr;
    QPushButton* mAdd = nullptr;
    QPushButton* mRemove = nullptr;
    QPushButton* mUp = nullptr;
    QPushButton* mDown = nullptr;
    QPushButton* mDefaults = nullptr;
};
