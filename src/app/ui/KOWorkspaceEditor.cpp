#include "app/ui/KOWorkspaceEditor.h"

#include "app/Workspaces.h"
#include "platform/exceptions/InternalInconsistencyException.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

using koru::Workspaces;
using koru::platform::InternalInconsistencyException;

namespace {

QString key(const char* latin1) {
    return QString::fromLatin1(latin1);
}

// The modifier mask as the workspace stores it, read through its low 32 bits; 0 when missing.
quint64 storedModifiers(const QVariantMap& workspace) {
    return static_cast<std::uint32_t>(workspace.value(key(Workspaces::kModifierKey)).toULongLong());
}

QDialogButtonBox* okCancelButtons(ZOModalWindowController* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &ZOModalWindowController::ok);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog,
                     &ZOModalWindowController::cancel);
    return buttons;
}

} // namespace

// --- Data source ---------------------------------------------------------------------------------

KOWorkspacesDataSource::KOWorkspacesDataSource(koru::Workspaces& workspaces,
                                               std::function<void()> changed)
    : mWorkspaces(workspaces), mChanged(std::move(changed)) {}

qint64 KOWorkspacesDataSource::numberOfWorkspaces() const {
    return mWorkspaces.numberOfWorkspaces();
}

QVariantMap KOWorkspacesDataSource::workspaceDictionaryAtIndex(qint64 index) const {
    return mWorkspaces.workspaceDictionaryAtIndex(index);
}

void KOWorkspacesDataSource::setWorkspace(const std::optional<QVariantMap>& workspace,
                                          qint64 index) {
    mWorkspaces.setWorkspace(workspace, index);
    if (mChanged)
        mChanged();
}

// --- Capture sheet -------------------------------------------------------------------------------

KOCaptureWorkspaceController::KOCaptureWorkspaceController(std::int32_t number, QWidget* parent)
    : ZOModalWindowController(parent), mNumber(number) {
    setObjectName(QStringLiteral("captureworkspace"));
    setWindowTitle(tr("Capture Workspace"));
    mName = new QLineEdit(this);
    mName->setText(QStringLiteral("Workspace %1").arg(mNumber));
    mName->selectAll();
    mShortcutRecorder = new KOShortcutRecorder(this);

    auto* form = new QFormLayout;
    form->addRow(tr("Name:"), mName);
    form->addRow(tr("Shortcut:"), mShortcutRecorder);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancelButtons(this));
}

QString KOCaptureWorkspaceController::workspaceName() const {
    return mName->text();
}

QString KOCaptureWorkspaceController::keyChars() const {
    return mShortcutRecorder->keyChars().value_or(QString());
}

quint64 KOCaptureWorkspaceController::modifierFlags() const {
    return mShortcutRecorder->modifierFlags();
}

std::int32_t KOCaptureWorkspaceController::keyCode() const {
    return mShortcutRecorder->keyCode();
}

// --- Editor table --------------------------------------------------------------------------------

KOWorkspaceTableModel::KOWorkspaceTableModel(KOWorkspaceEditorDataSource& source, QObject* parent)
    : QAbstractTableModel(parent), mSource(source) {}

int KOWorkspaceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mSource.numberOfWorkspaces());
}

int KOWorkspaceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant KOWorkspaceTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole) ||
        index.row() >= mSource.numberOfWorkspaces())
        return {};
    const QVariantMap workspace = mSource.workspaceDictionaryAtIndex(index.row());
    switch (index.column()) {
    case Name:
        return workspace.value(key(Workspaces::kNameKey)).toString();
    case Key: {
        // A workspace stored without a key code shows as key code 0.
        const std::int32_t code =
            workspace.contains(key(Workspaces::kKeyCodeKey)) ? Workspaces::keyCodeOf(workspace) : 0;
        return KORecordedShortcut::readableString(storedModifiers(workspace), code);
    }
    default:
        return {};
    }
}

QVariant KOWorkspaceTableModel::headerData(int section, Qt::Orientation orientation,
                                           int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == Name ? tr("Name") : section == Key ? tr("Shortcut") : QVariant();
}

Qt::ItemFlags KOWorkspaceTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == Name)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool KOWorkspaceTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.column() != Name ||
        index.row() >= mSource.numberOfWorkspaces())
        return false;
    InternalInconsistencyException::check(value.typeId() == QMetaType::QString,
                                          "must be string class");
    const QString name = value.toString();
    if (name.isEmpty())
        return false;
    QVariantMap workspace = mSource.workspaceDictionaryAtIndex(index.row());
    workspace.insert(key(Workspaces::kNameKey), name);
    mSource.setWorkspace(workspace, index.row());
    emit dataChanged(index, index);
    return true;
}

void KOWorkspaceTableModel::reload() {
    beginResetModel();
    endResetModel();
}

// --- Editor --------------------------------------------------------------------------------------

KOWorkspaceEditor::KOWorkspaceEditor(KOWorkspaceEditorDataSource& source, QWidget* parent)
    : ZOModalWindowController(parent), mSource(source) {
    setObjectName(QStringLiteral("workspaceeditor"));
    setWindowTitle(tr("Edit Workspaces"));
    mModel = new KOWorkspaceTableModel(source, this);
    mTableView = new QTableView(this);
    mTableView->setModel(mModel);
    mTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTableView->setSelectionMode(QAbstractItemView::SingleSelection);
    mTableView->verticalHeader()->hide();
    mTableView->horizontalHeader()->setSectionResizeMode(KOWorkspaceTableModel::Name,
                                                         QHeaderView::Stretch);
    mTableView->horizontalHeader()->setSectionResizeMode(KOWorkspaceTableModel::Key,
                                                         QHeaderView::ResizeToContents);
    mShortcutRecorder = new KOShortcutRecorder(this);

    auto* remove = new QPushButton(tr("Delete"), this);
    remove->setAutoDefault(false);
    connect(remove, &QPushButton::clicked, this, [this] { deleteSelected(); });
    auto* deleteKey = new QAction(tr("Delete"), mTableView);
    deleteKey->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::Key_Backspace)});
    deleteKey->setShortcutContext(Qt::WidgetShortcut);
    connect(deleteKey, &QAction::triggered, this, [this] { deleteSelected(); });
    mTableView->addAction(deleteKey);

    auto* done = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(done, &QDialogButtonBox::rejected, this, &ZOModalWindowController::ok);

    auto* shortcutRow = new QHBoxLayout;
    shortcutRow->addWidget(new QLabel(tr("Shortcut:"), this));
    shortcutRow->addWidget(mShortcutRecorder, 1);
    shortcutRow->addWidget(remove);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mTableView);
    layout->addLayout(shortcutRow);
    layout->addWidget(done);
    resize(420, 300);

    connect(mShortcutRecorder, &KOShortcutRecorder::recordingEnded, this,
            [this] { shortcutRecorderDidEndRecording(); });
    connect(mTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
}

qint64 KOWorkspaceEditor::selectedRow() const {
    const QModelIndexList rows = mTableView->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.front().row() >= mSource.numberOfWorkspaces())
        return -1;
    return rows.front().row();
}

void KOWorkspaceEditor::selectRow(qint64 row) {
    if (row < 0 || row >= mModel->rowCount()) {
        mTableView->selectionModel()->clearSelection();
        return;
    }
    mTableView->selectionModel()->select(mModel->index(static_cast<int>(row), 0),
                                         QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
}

void KOWorkspaceEditor::selectionChanged() {
    const qint64 row = selectedRow();
    if (row < 0)
        return;
    const QVariantMap workspace = mSource.workspaceDictionaryAtIndex(row);
    KORecordedShortcut shortcut;
    shortcut.keyCode = Workspaces::keyCodeOf(workspace);
    shortcut.modifierFlags = storedModifiers(workspace);
    shortcut.characters = workspace.value(key(Workspaces::kKeyKey)).toString();
    mShortcutRecorder->setValue(shortcut);
}

void KOWorkspaceEditor::deleteSelected() {
    const qint64 row = selectedRow();
    if (row < 0)
        return;
    mSource.setWorkspace(std::nullopt, row);
    mModel->reload();
}

void KOWorkspaceEditor::shortcutRecorderDidEndRecording() {
    const qint64 row = selectedRow();
    if (row < 0)
        return;
    QVariantMap workspace = mSource.workspaceDictionaryAtIndex(row);
    const std::int32_t code = currentKeyCode();
    workspace.insert(key(Workspaces::kKeyCodeKey), Workspaces::storedKeyCode(code));
    workspace.insert(key(Workspaces::kModifierKey),
                     QVariant::fromValue<quint64>(currentModifierFlags()));
    workspace.insert(key(Workspaces::kKeyKey),
                     code == -1 ? QString() : mShortcutRecorder->keyChars().value_or(QString()));
    mSource.setWorkspace(workspace, row);
    mModel->reload();
    selectRow(row);
}
