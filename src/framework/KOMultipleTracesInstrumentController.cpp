#include "framework/KOMultipleTracesInstrumentController.h"

#include "framework/InstrumentModelArray.h"
#include "framework/InstrumentsTableModel.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"
#include "utility/VEString.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTableView>

#include <algorithm>

using koru::framework::InstrumentModelArray;
using koru::framework::InstrumentsTableModel;
using koru::platform::InternalInconsistencyException;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

// Marks a drag with the window it comes from, so a drop can tell a reorder from a copy.
const QString dragSourceMime = QStringLiteral("application/x-koru-drag-source");

} // namespace

QString KOMultipleTracesInstrumentController::mimeTypeFor(const char* pasteboardType) {
    return QStringLiteral("application/x-") + QString::fromLatin1(pasteboardType);
}

KOMultipleTracesInstrumentController::KOMultipleTracesInstrumentController() = default;

KOMultipleTracesInstrumentController::~KOMultipleTracesInstrumentController() {
    if (mTableView)
        mTableView->setModel(nullptr);
}

void KOMultipleTracesInstrumentController::initWithWindowNibName(const QString& nibName,
                                                                 const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    InternalInconsistencyException::check(mTableView != nullptr, "table view is nil");
    mTableModel = std::make_unique<InstrumentsTableModel>(*this);
    mTableView->setModel(mTableModel.get());
    mTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    mTableView->setDragEnabled(true);
    mTableView->setAcceptDrops(true);
    mTableView->setDropIndicatorShown(true);
    mTableView->setDragDropMode(QAbstractItemView::DragDrop);
    mTableView->setDefaultDropAction(Qt::MoveAction);

    if (!dictionary)
        return;
    const QVariant data = dictionary->value(QString::fromLatin1(kInstrumentDataKey));
    if (!data.isValid())
        return;
    if (data.typeId() != QMetaType::QByteArray) {
        koru::log::warn("{}: \"instrumentData\" is no archive", description().toStdString());
        return;
    }
    for (ModelPointer& model : InstrumentModelArray::modelsFromData(data.toByteArray()))
        addInstrument(std::move(model));
}

QVariantMap KOMultipleTracesInstrumentController::dictionaryRepresentation() const {
    QVariantMap dictionary = KOInstrumentController::dictionaryRepresentation();
    const std::lock_guard lock(dataCollectionLock());
    dictionary.insert(QString::fromLatin1(kInstrumentDataKey),
                      InstrumentModelArray(mInstruments).archivedData());
    return dictionary;
}

KOMultipleTracesInstrumentController::ModelPointer
KOMultipleTracesInstrumentController::instrumentAt(int row) const {
    if (row < 0 || row >= instrumentCount())
        return nullptr;
    return mInstruments[static_cast<size_t>(row)];
}

std::vector<int> KOMultipleTracesInstrumentController::selectedRows() const {
    std::vector<int> rows;
    if (!mTableView || !mTableView->selectionModel())
        return rows;
    for (const QModelIndex& index : mTableView->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

KOMultipleTracesInstrumentController::ModelPointer
KOMultipleTracesInstrumentController::selectedInstrument() const {
    const auto rows = selectedRows();
    return rows.empty() ? nullptr : instrumentAt(rows.front());
}

void KOMultipleTracesInstrumentController::addInstrument(ModelPointer model) {
    insertInstrument(std::move(model), instrumentCount());
}

void KOMultipleTracesInstrumentController::insertInstrument(ModelPointer model, int index) {
    if (!model)
        return;
    index = std::clamp(index, 0, instrumentCount());
    if (mTableModel)
        mTableModel->beginListChange();
    {
        const std::lock_guard lock(dataCollectionLock());
        mInstruments.insert(mInstruments.begin() + index, std::move(model));
    }
    if (mTableModel)
        mTableModel->endListChange();
}

void KOMultipleTracesInstrumentController::removeInstrument(const KOInstrumentWrapper* model) {
    const auto it = std::find_if(mInstruments.begin(), mInstruments.end(),
                                 [model](const ModelPointer& m) { return m.get() == model; });
    if (it == mInstruments.end())
        return;
    if (mTableModel)
        mTableModel->beginListChange();
    ModelPointer removed;
    {
        const std::lock_guard lock(dataCollectionLock());
        removed = std::move(*it);
        mInstruments.erase(it);
    }
    if (mTableModel)
        mTableModel->endListChange();
}

// A drop row d names the gap before the model that was at d. Taking the model out first shifts
// every gap below it up by one, so a downward move lands at d - 1 and an upward one at d.
void KOMultipleTracesInstrumentController::moveInstrument(int from, int to) {
    if (from < 0 || from >= instrumentCount())
        return;
    const int target = std::clamp(from < to ? to - 1 : to, 0, instrumentCount() - 1);
    if (target == from)
        return;
    if (mTableModel)
        mTableModel->beginListChange();
    {
        const std::lock_guard lock(dataCollectionLock());
        ModelPointer model = std::move(mInstruments[static_cast<size_t>(from)]);
        mInstruments.erase(mInstruments.begin() + from);
        mInstruments.insert(mInstruments.begin() + target, std::move(model));
    }
    if (mTableModel)
        mTableModel->endListChange();
}

QString
KOMultipleTracesInstrumentController::findUniqueNameWithPrefix(const QString& prefix) const {
    for (unsigned n = 1; n <= 99; ++n) {
        const QString candidate = QStringLiteral("%1 %2").arg(prefix).arg(n);
        const bool taken =
            std::any_of(mInstruments.cbegin(), mInstruments.cend(),
                        [&](const ModelPointer& m) { return m->title() == candidate; });
        if (!taken)
            return candidate;
    }
    return prefix;
}

void KOMultipleTracesInstrumentController::makeIdentifierUnique(KOInstrumentWrapper& model) const {
    const QString id = model.identifier();
    const bool taken = std::any_of(mInstruments.cbegin(), mInstruments.cend(),
                                   [&](const ModelPointer& m) { return m->identifier() == id; });
    if (taken)
        model.assignFreshIdentifier();
}

void KOMultipleTracesInstrumentController::copy() {
    std::vector<ModelPointer> selection;
    for (int row : selectedRows())
        selection.push_back(instrumentAt(row));
    if (selection.empty())
        return;
    auto data = std::make_unique<QMimeData>();
    data->setData(mimeTypeFor(kCopyTypeArray), InstrumentModelArray(selection).archivedData());
    QGuiApplication::clipboard()->setMimeData(data.release());
}

void KOMultipleTracesInstrumentController::paste() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    const QString type = mimeTypeFor(kCopyTypeArray);
    if (!data || !data->hasFormat(type))
        return;
    for (ModelPointer& model : InstrumentModelArray::modelsFromData(data->data(type))) {
        makeIdentifierUnique(*model);
        addInstrument(std::move(model));
    }
}

std::unique_ptr<QMimeData>
KOMultipleTracesInstrumentController::writeRowsWithIndexes(QList<int> rows) const {
    auto data = std::make_unique<QMimeData>();
    if (rows.isEmpty())
        return data;
    const int row = rows.front();
    const ModelPointer model = instrumentAt(row);
    if (!model)
        return data;
    data->setData(mimeTypeFor(kDragTypeInstrument), InstrumentModelArray({model}).archivedData());
    data->setData(mimeTypeFor(kDragTypeRowNumber),
                  PropertyList::serialize(QVariant::fromValue<qint64>(row), PlistFormat::Binary));
    data->setData(dragSourceMime, identifier().toUtf8());
    return data;
}

Qt::DropAction KOMultipleTracesInstrumentController::validateDrop(const QMimeData* data) const {
    if (data && data->data(dragSourceMime) == identifier().toUtf8())
        return Qt::MoveAction;
    return Qt::CopyAction;
}

bool KOMultipleTracesInstrumentController::acceptDrop(const QMimeData* data, int row) {
    if (!data)
        return true;
    if (validateDrop(data) == Qt::MoveAction) {
        const auto read = PropertyList::parse(data->data(mimeTypeFor(kDragTypeRowNumber)));
        bool ok = false;
        const int from = read.value.toInt(&ok);
        if (read.ok() && ok)
            moveInstrument(from, row);
        return true;
    }
    const QString type = mimeTypeFor(kDragTypeInstrument);
    if (!data->hasFormat(type))
        return true;
    auto models = InstrumentModelArray::modelsFromData(data->data(type));
    if (models.empty())
        return true;
    makeIdentifierUnique(*models.front());
    insertInstrument(std::move(models.front()), row);
    return true;
}
