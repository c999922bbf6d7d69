#include "app/ui/KOToolbarCustomizationDialog.h"

#include "app/ui/KOMainToolbar.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kIdentifierRole = Qt::UserRole;

QListWidgetItem* makeItem(const QString& identifier, const QString& title) {
    auto* item = new QListWidgetItem(title);
    item->setData(kIdentifierRole, identifier);
    return item;
}

} // namespace

KOToolbarCustomizationDialog::KOToolbarCustomizationDialog(
    QStringList allowed, QStringList defaults, QStringList current,
    std::function<QString(const QString&)> title, QWidget* parent)
    : QDialog(parent), mAllowedIdentifiers(std::move(allowed)),
      mDefaultIdentifiers(std::move(defaults)), mTitle(std::move(title)) {
    setWindowTitle(tr("Customise Toolbar"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Available items"), this), 0, 0);
    grid->addWidget(new QLabel(tr("Toolbar"), this), 0, 2);
    mAllowed = new QListWidget(this);
    mAllowed->setObjectName(QStringLiteral("allowedItems"));
    for (const QString& identifier : mAllowedIdentifiers)
        mAllowed->addItem(makeItem(identifier, mTitle(identifier)));
    mChosen = new QListWidget(this);
    mChosen->setObjectName(QStringLiteral("toolbarItems"));
    grid->addWidget(mAllowed, 1, 0);
    grid->addWidget(mChosen, 1, 2);

    auto* buttons = new QVBoxLayout;
    mAdd = new QPushButton(tr("Add →"), this);
    mRemove = new QPushButton(tr("← Remove"), this);
    mUp = new QPushButton(tr("Up"), this);
    mDown = new QPushButton(tr("Down"), this);
    mDefaults = new QPushButton(tr("Default Set"), this);
    for (QPushButton* button : {mAdd, mRemove, mUp, mDown, mDefaults}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    grid->addLayout(buttons, 1, 1);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    grid->addWidget(box, 2, 0, 1, 3);

    connect(mAdd, &QPushButton::clicked, this, [this] { addSelected(); });
    connect(mRemove, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(mUp, &QPushButton::clicked, this, [this] { moveSelected(-1); });
    connect(mDown, &QPushButton::clicked, this, [this] { moveSelected(1); });
    connect(mDefaults, &QPushButton::clicked, this, [this] { fillChosen(mDefaultIdentifiers); });
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    fillChosen(current);
}

bool KOToolbarCustomizationDialog::isRepeatable(const QString& identifier) {
    return identifier == QLatin1String(KOMainToolbar::kFlexibleSpaceItem) ||
           identifier == QLatin1String(KOMainToolbar::kSpaceItem);
}

QStringList KOToolbarCustomizationDialog::identifiers() const {
    QStringList result;
    for (int row = 0; row < mChosen->count(); ++row)
        result << mChosen->item(row)->data(kIdentifierRole).toString();
    return result;
}

void KOToolbarCustomizationDialog::fillChosen(const QStringList& identifiers) {
    mChosen->clear();
    for (const QString& identifier : identifiers)
        mChosen->addItem(makeItem(identifier, mTitle(identifier)));
}

void KOToolbarCustomizationDialog::addSelected() {
    const QListWidgetItem* picked = mAllowed->currentItem();
    if (!picked)
        return;
    const QString identifier = picked->data(kIdentifierRole).toString();
    if (!isRepeatable(identifier) && identifiers().contains(identifier))
        return;
    // After the selected item, or at the end.
    const int row = mChosen->currentRow() < 0 ? mChosen->count() : mChosen->currentRow() + 1;
    mChosen->insertItem(row, makeItem(identifier, mTitle(identifier)));
    mChosen->setCurrentRow(row);
}

void KOToolbarCustomizationDialog::removeSelected() {
    delete mChosen->takeItem(mChosen->currentRow());
}

void KOToolbarCustomizationDialog::moveSelected(int step) {
    const int row = mChosen->currentRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= mChosen->count())
        return;
    QListWidgetItem* item = mChosen->takeItem(row);
    mChosen->insertItem(target, item);
    mChosen->setCurrentRow(target);
}
