#include "spl/ui/KOCalibrationController.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

KOCalibrationTableModel::KOCalibrationTableModel(KOCalibrationStore& store, QObject* parent)
    : QAbstractTableModel(parent), mStore(store) {
    // Changes may come from any thread; the table follows on its own.
    connect(&store, &KOCalibrationStore::calibrationsChanged, this,
            &KOCalibrationTableModel::reload, Qt::QueuedConnection);
    mRows = mStore.calibrations();
}

void KOCalibrationTableModel::reload() {
    beginResetModel();
    mRows = mStore.calibrations();
    endResetModel();
}

int KOCalibrationTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(mRows.size());
}

int KOCalibrationTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant KOCalibrationTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(mRows.size()))
        return {};
    const KOCalibrationDictionary& calibration = *mRows[std::size_t(index.row())];
    switch (index.column()) {
    case Name:
        return calibration.menuName();
    case Value:
        return QString::asprintf("%.1f dB", double(calibration.calibrationValue()));
    case Device:
        return calibration.audioDeviceName();
    case Date:
        return QLocale().toString(calibration.timestamp(), QLocale::ShortFormat);
    case Notes:
        return calibration.notes();
    default:
        return {};
    }
}

QVariant KOCalibrationTableModel::headerData(int section, Qt::Orientation orientation,
                                             int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    static const char* const titles[] = {"Name", "Calibration", "Audio Device", "Date", "Notes"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section])
                                                 : QVariant();
}

KOCalibrationStore::Calibration KOCalibrationTableModel::calibrationAtRow(int row) const {
    return row >= 0 && row < int(mRows.size()) ? mRows[std::size_t(row)] : nullptr;
}

KOCalibrationController::KOCalibrationController(KOCalibrationStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window), mStore(store) {
    setWindowTitle(QStringLiteral("SPL Calibrations"));
    auto* layout = new QVBoxLayout(this);
    mModel = new KOCalibrationTableModel(store, this);
    mTable = new QTableView(this);
    mTable->setModel(mModel);
    mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTable->horizontalHeader()->setStretchLastSection(true);
    mTable->verticalHeader()->hide();
    layout->addWidget(mTable);
    auto* buttons = new QHBoxLayout;
    auto* remove = new QPushButton(QStringLiteral("Delete"), this);
    connect(remove, &QPushButton::clicked, this, [this] { deleteSelected(); });
    buttons->addStretch();
    buttons->addWidget(remove);
    layout->addLayout(buttons);
    resize(560, 260);
}

KOCalibrationController& KOCalibrationController::sharedController() {
    static auto* window = new KOCalibrationController(KOCalibrationStore::sharedStore());
    return *window;
}

void KOCalibrationController::showWindow() {
    mModel->reload();
    show();
    raise();
}

void KOCalibrationController::deleteSelected() {
    std::vector<qsizetype> rows;
    for (const QModelIndex& index : mTable->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        return;
    mStore.removeCalibrationsAtIndexes(std::move(rows));
    mModel->reload();
}
