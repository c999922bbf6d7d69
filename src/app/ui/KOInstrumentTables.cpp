#include "app/ui/KOInstrumentTables.h"

#include "app/InstrumentList.h"
#include "framework/KOInstrumentController.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// A right-pointing arrow in a filled circle, drawn at two sizes for sharp display at any ratio.
QPixmap drawFollowImage(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(128, 128, 128));
    painter.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    QPainterPath arrow;
    arrow.moveTo(s * 0.28, s * 0.44);
    arrow.lineTo(s * 0.52, s * 0.44);
    arrow.lineTo(s * 0.52, s * 0.30);
    arrow.lineTo(s * 0.76, s * 0.50);
    arrow.lineTo(s * 0.52, s * 0.70);
    arrow.lineTo(s * 0.52, s * 0.56);
    arrow.lineTo(s * 0.28, s * 0.56);
    arrow.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    return pixmap;
}

QTableView* makeTable(QAbstractItemModel* model, QWidget* parent, const QString& objectName) {
    auto* table = new QTableView(parent);
    table->setObjectName(objectName);
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    table->verticalHeader()->hide();
    table->setShowGrid(false);
    table->setAlternatingRowColors(true);
    return table;
}

} // namespace

// --- Open instruments ----------------------------------------------------------------------------

KOOpenInstrumentsModel::KOOpenInstrumentsModel(koru::InstrumentList& instruments,
                                               std::function<void()> reloadTables, QObject* parent)
    : QAbstractTableModel(parent), mInstruments(instruments),
      mReloadTables(std::move(reloadTables)) {}

QString KOOpenInstrumentsModel::columnIdentifier(int column) {
    switch (column) {
    case Title:
        return QStringLiteral("title");
    case Visible:
        return QStringLiteral("visible");
    case Follow:
        return QStringLiteral("follow");
    default:
        return {};
    }
}

const QIcon& KOOpenInstrumentsModel::followImage() {
    static const QIcon image = [] {
        QIcon icon;
        icon.addPixmap(drawFollowImage(16));
        icon.addPixmap(drawFollowImage(32));
        return icon;
    }();
    return image;
}

int KOOpenInstrumentsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mInstruments.instruments().size());
}

int KOOpenInstrumentsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

KOInstrumentController* KOOpenInstrumentsModel::instrumentAt(int row) const {
    return mInstruments.instrumentAtIndex(row);
}

QVariant KOOpenInstrumentsModel::objectValue(int column, int row) const {
    const KOInstrumentController* instrument = instrumentAt(row);
    switch (column) {
    case Title:
        return instrument ? instrument->name() : QString();
    case Visible: {
        const QMainWindow* window = instrument ? instrument->instrumentWindow() : nullptr;
        return window && window->isVisible();
    }
    case Follow:
        return followImage();
    default:
        return {};
    }
}

QVariant KOOpenInstrumentsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const QVariant value = objectValue(index.column(), index.row());
    switch (index.column()) {
    case Title:
        return role == Qt::DisplayRole || role == Qt::EditRole ? value : QVariant();
    case Visible:
        if (role == Qt::CheckStateRole)
            return value.toBool() ? Qt::Checked : Qt::Unchecked;
        return {};
    case Follow:
        if (role == Qt::DecorationRole)
            return value;
        if (role == Qt::ToolTipRole)
            return tr("Bring the window to front");
        return {};
    default:
        return {};
    }
}

QVariant KOOpenInstrumentsModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Title:
        return tr("Name");
    case Visible:
        return tr("Visible");
    default:
        return QString();
    }
}

Qt::ItemFlags KOOpenInstrumentsModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == Title)
        flags |= Qt::ItemIsEditable;
    if (index.column() == Visible)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool KOOpenInstrumentsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    KOInstrumentController* instrument = index.isValid() ? instrumentAt(index.row()) : nullptr;
    bool changed = false;
    if (instrument && index.column() == Title && role == Qt::EditRole) {
        instrument->setName(value.toString());
        changed = true;
    } else if (instrument && index.column() == Visible && role == Qt::CheckStateRole) {
        if (value.toInt() == Qt::Checked)
            instrument->unhideInstrument();
        else
            instrument->hideInstrument();
        changed = true;
    }
    mReloadTables();
    return changed;
}

void KOOpenInstrumentsModel::reload() {
    beginResetModel();
    endResetModel();
}

// --- History -------------------------------------------------------------------------------------

KOInstrumentHistoryModel::KOInstrumentHistoryModel(koru::InstrumentList& instruments,
                                                   std::function<void()> reloadTables,
                                                   QObject* parent)
    : QAbstractTableModel(parent), mInstruments(instruments),
      mReloadTables(std::move(reloadTables)) {}

int KOInstrumentHistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mInstruments.recentInstruments().size());
}

int KOInstrumentHistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant KOInstrumentHistoryModel::objectValue(int column, int row) const {
    if (column != 0)
        return {};
    const QVariantList& history = mInstruments.recentInstruments();
    if (row < 0 || row >= history.size())
        return QString();
    return history.at(row)
        .toMap()
        .value(QString::fromLatin1(KOInstrumentController::kNameKey))
        .toString();
}

QVariant KOInstrumentHistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return objectValue(index.column(), index.row());
}

QVariant KOInstrumentHistoryModel::headerData(int section, Qt::Orientation orientation,
                                              int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section != 0)
        return {};
    return tr("Name");
}

bool KOInstrumentHistoryModel::setData(const QModelIndex&, const QVariant&, int) {
    mReloadTables();
    return false;
}

void KOInstrumentHistoryModel::reload() {
    beginResetModel();
    endResetModel();
}

// --- The two tables ------------------------------------------------------------------------------

KOInstrumentTables::KOInstrumentTables(koru::InstrumentList& instruments, Actions actions,
                                       QWidget* parent)
    : QWidget(parent), mInstruments(instruments), mActions(std::move(actions)) {
    mOpenModel = new KOOpenInstrumentsModel(
        instruments, [this] { reloadTables(); }, this);
    mHistoryModel = new KOInstrumentHistoryModel(
        instruments, [this] { reloadTables(); }, this);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const auto box = [&](const QString& title, QTableView* table) {
        auto* group = new QGroupBox(title, this);
        auto* groupLayout = new QVBoxLayout(group);
        table->setParent(group);
        groupLayout->addWidget(table);
        layout->addWidget(group);
    };
    mCurrentTable = makeTable(mOpenModel, this, QStringLiteral("currentInstrumentsTable"));
    mRecentTable = makeTable(mHistoryModel, this, QStringLiteral("recentInstrumentsTable"));
    mRecentTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    box(tr("Instruments"), mCurrentTable);
    box(tr("History"), mRecentTable);

    QHeaderView* header = mCurrentTable->horizontalHeader();
    header->setSectionResizeMode(KOOpenInstrumentsModel::Title, QHeaderView::Stretch);
    header->setSectionResizeMode(KOOpenInstrumentsModel::Visible, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(KOOpenInstrumentsModel::Follow, QHeaderView::ResizeToContents);
    mRecentTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);

    connect(mCurrentTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == KOOpenInstrumentsModel::Follow)
            followInstrument(index.row());
    });
    connect(mRecentTable, &QTableView::doubleClicked, this,
            [this](const QModelIndex&) { restoreRecentInstrumentFromTable(); });

    // Bound to the tables, not the menus: the key edits text everywhere else.
    for (QTableView* table : {mCurrentTable, mRecentTable}) {
        auto* remove = new QAction(tr("Delete"), table);
        remove->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
        remove->setShortcutContext(Qt::WidgetShortcut);
        connect(remove, &QAction::triggered, this, [this] { deleteSelected(); });
        table->addAction(remove);
    }
}

void KOInstrumentTables::reloadTables() {
    mOpenModel->reload();
    mHistoryModel->reload();
}

void KOInstrumentTables::reloadOpenInstrumentsTable() {
    mOpenModel->reload();
}

void KOInstrumentTables::selectOpenInstrumentRow(qint64 row) {
    QItemSelectionModel* selection = mCurrentTable->selectionModel();
    if (row < 0 || row >= mOpenModel->rowCount()) {
        selection->clearSelection();
        return;
    }
    selection->select(mOpenModel->index(static_cast<int>(row), 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

namespace {
qint64 selectedRow(const QTableView* table) {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}
} // namespace

qint64 KOInstrumentTables::selectedOpenRow() const {
    return selectedRow(mCurrentTable);
}

qint64 KOInstrumentTables::selectedHistoryRow() const {
    return selectedRow(mRecentTable);
}

void KOInstrumentTables::deleteSelected() {
    const QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window() || !window()->isActiveWindow())
        return;
    if (focus == mRecentTable)
        removeHistoryInstrument();
    else if (focus == mCurrentTable)
        removeActiveInstrument();
}

void KOInstrumentTables::removeHistoryInstrument() {
    const qint64 row = selectedHistoryRow();
    mInstruments.removeRecentInstrumentAt(row);
    reloadTables();
}

void KOInstrumentTables::removeActiveInstrument() {
    KOInstrumentController* instrument = mInstruments.instrumentAtIndex(selectedOpenRow());
    if (QMainWindow* window = instrument ? instrument->instrumentWindow() : nullptr)
        window->close();
}

void KOInstrumentTables::restoreRecentInstrumentFromTable() {
    const qint64 row = selectedHistoryRow();
    if (row < 0 || row >= mInstruments.recentInstruments().size()) {
        reloadTables();
        return;
    }
    mActions.restoreRecentInstrument(row);
}

void KOInstrumentTables::followInstrument(qint64 row) {
    KOInstrumentController* instrument = mInstruments.instrumentAtIndex(row);
    QMainWindow* window = instrument ? instrument->instrumentWindow() : nullptr;
    if (!window)
        return;
    if (!window->isVisible())
        instrument->unhideInstrument();
    window->raise();
    window->activateWindow();
}
