#include "meters/ui/KORecordingsView.h"

#include "meters/KORecordingsStore.h"
#include "meters/ui/KORecordingsModel.h"
#include "platform/desktop/FileManager.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QUrl>
#include <QVBoxLayout>

KORecordingsView::KORecordingsView(KORecordingsModel& model, QWidget* parent)
    : QWidget(parent), mModel(&model), mRevealer(&KORecordingsView::revealInFileManager) {
    mList = new QListView(this);
    mList->setModel(mModel);
    mList->setObjectName(QStringLiteral("recordingsList"));
    mList->setIconSize(QSize(KORecordingsModel::kIconSize, KORecordingsModel::kIconSize));
    mList->setSelectionMode(QAbstractItemView::SingleSelection);
    mList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mList->setDragEnabled(true);
    mList->setAcceptDrops(true);
    mList->setDropIndicatorShown(true);
    mList->setDragDropMode(QAbstractItemView::DragDrop);
    mList->setDefaultDropAction(Qt::LinkAction);
    mList->installEventFilter(this);
    connect(mList, &QListView::doubleClicked, this, [this] { revealSelected(); });

    auto* remove = new QAction(tr("Delete"), this);
    remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QAction::triggered, this, [this] { deleteSelected(); });
    mList->addAction(remove);
    mList->setContextMenuPolicy(Qt::ActionsContextMenu);

    mError = new QLabel(this);
    mError->setObjectName(QStringLiteral("recordingsError"));
    mError->setWordWrap(true);
    mError->setStyleSheet(QStringLiteral("color: #c0392b;"));
    mError->hide();
    connect(mModel, &KORecordingsModel::storeError, this, &KORecordingsView::showError);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mList);
    layout->addWidget(mError);
    if (!model.store().lastError().isEmpty())
        showError(model.store().lastError());
}

KORecordingsView::~KORecordingsView() = default;

bool KORecordingsView::addRecording(const QString& path) {
    const bool ok = mModel->addRecording(path);
    if (ok)
        mError->hide();
    return ok;
}

int KORecordingsView::selectedRow() const {
    const QModelIndexList rows = mList->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void KORecordingsView::selectRow(int row) {
    mList->setCurrentIndex(mModel->index(row));
}

void KORecordingsView::revealSelected() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const QModelIndex index = mModel->index(row);
    if (index.data(KORecordingsModel::MissingRole).toBool()) {
        showError(
            tr("%1 is no longer there.").arg(index.data(KORecordingsModel::PathRole).toString()));
        return;
    }
    const QString path = index.data(KORecordingsModel::PathRole).toString();
    if (!mRevealer(path))
        showError(tr("%1 could not be shown in the file manager.").arg(path));
}

void KORecordingsView::deleteSelected() {
    const int row = selectedRow();
    if (row >= 0)
        mModel->removeRecording(row);
}

QString KORecordingsView::errorText() const {
    return mError->isHidden() ? QString() : mError->text();
}

bool KORecordingsView::revealInFileManager(const QString& path) {
    if (koru::platform::showItemInFileManager(path))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

bool KORecordingsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            deleteSelected();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            revealSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void KORecordingsView::showEvent(QShowEvent* event) {
    // Files come and go while the list is out of sight.
    mModel->refresh();
    QWidget::showEvent(event);
}

void KORecordingsView::showError(const QString& message) {
    mError->setText(message);
    mError->show();
}
