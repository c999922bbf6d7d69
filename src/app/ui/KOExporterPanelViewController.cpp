#include "app/ui/KOExporterPanelViewController.h"

#include "app/KODataExporter.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

using koru::DateValueFormatter;
using koru::ExporterPanelModel;

namespace {

const char* const kKeyProperty = "koru.exporter.key";
constexpr int kProgressSteps = 1000; // QProgressBar counts in int; rows may not fit

QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        const QString text = list->item(row)->text();
        if (!text.isEmpty()) // a dropped item has no text for a moment
            texts.push_back(text);
    }
    return texts;
}

void setUpColumnList(QListWidget* list) {
    list->setDragDropMode(QAbstractItemView::DragDrop);
    list->setDefaultDropAction(Qt::MoveAction);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
}

} // namespace

KOExporterPanelViewController*
KOExporterPanelViewController::runExporterSheetInWindow(QWidget* window,
                                                        std::shared_ptr<KODataExporting> source) {
    KOExporterPanelViewController* controller = exporterPanelViewForDataSource(std::move(source));
    controller->beginExportSheetInWindow(window);
    return controller;
}

KOExporterPanelViewController* KOExporterPanelViewController::exporterPanelViewForDataSource(
    std::shared_ptr<KODataExporting> dataSource, QWidget* parent) {
    return new KOExporterPanelViewController(std::move(dataSource), parent);
}

KOExporterPanelViewController::KOExporterPanelViewController(
    std::shared_ptr<KODataExporting> dataSource, QWidget* parent)
    : QDialog(parent), m_model(new ExporterPanelModel(std::move(dataSource), this)) {
    setWindowTitle(tr("Export"));
    buildLayout();
    fillColumnLists();
    refreshFromModel();

    connect(m_model, &ExporterPanelModel::previewChanged, this,
            &KOExporterPanelViewController::refreshFromModel);
    connect(m_model, &ExporterPanelModel::exportProgressed, this,
            &KOExporterPanelViewController::exportProgressed);
    connect(m_model, &ExporterPanelModel::exportEnded, this,
            &KOExporterPanelViewController::exportEnded);
}

KOExporterPanelViewController::~KOExporterPanelViewController() = default;

void KOExporterPanelViewController::buildLayout() {
    m_availableList = new QListWidget(this);
    m_chosenList = new QListWidget(this);
    setUpColumnList(m_availableList);
    setUpColumnList(m_chosenList);
    m_addButton = new QPushButton(tr("Add \u203A"), this);
    m_removeButton = new QPushButton(tr("\u2039 Remove"), this);
    auto* moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    moveButtons->addWidget(m_addButton);
    moveButtons->addWidget(m_removeButton);
    moveButtons->addStretch();

    auto* columns = new QGridLayout;
    columns->addWidget(new QLabel(tr("Available columns:"), this), 0, 0);
    columns->addWidget(new QLabel(tr("Exported columns, in order:"), this), 0, 2);
    columns->addWidget(m_availableList, 1, 0);
    columns->addLayout(moveButtons, 1, 1);
    columns->addWidget(m_chosenList, 1, 2);

    m_columnField = new QLineEdit(this);
    m_columnField->setPlaceholderText(tr("Type a column name to add it"));
    m_completions = new QStringListModel(this);
    m_completer = new QCompleter(m_completions, this);
    // The model already holds only the matches (accents ignored, which QCompleter cannot do).
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setWidget(m_columnField);

    m_separatorPopUp = new QComboBox(this);
    m_separatorPopUp->addItems(ExporterPanelModel::availableSeparators());
    m_decimalPopUp = new QComboBox(this);
    m_decimalPopUp->addItems(ExporterPanelModel::availableDecimalSeparators());
    m_rangeLabel = new QLabel(tr("Range:"), this);
    m_rangePopUp = new QComboBox(this);
    for (const koru::ExportRange& range : m_model->exportRanges())
        m_rangePopUp->addItem(range.name, range.value);
    m_rangeLabel->setVisible(m_model->showExportRanges());
    m_rangePopUp->setVisible(m_model->showExportRanges());

    auto* options = new QFormLayout;
    options->addRow(tr("Add column:"), m_columnField);
    options->addRow(tr("Field separator:"), m_separatorPopUp);
    options->addRow(tr("Decimal separator:"), m_decimalPopUp);
    options->addRow(m_rangeLabel, m_rangePopUp);

    m_preview = new QPlainTextEdit(this);
    m_preview->setReadOnly(true);
    m_preview->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_preview->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_progress = new QProgressBar(this);
    m_progress->setVisible(false);

    auto* buttons = new QDialogButtonBox(this);
    m_exportButton = buttons->addButton(tr("Export\u2026"), QDialogButtonBox::AcceptRole);
    m_cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    m_exportButton->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(options);
    layout->addWidget(new QLabel(tr("Preview:"), this));
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);

    connect(m_addButton, &QPushButton::clicked, this,
            [this] { moveSelected(m_availableList, m_chosenList); });
    connect(m_removeButton, &QPushButton::clicked, this,
            [this] { moveSelected(m_chosenList, m_availableList); });
    connect(m_availableList, &QListWidget::itemDoubleClicked, this,
            [this] { moveSelected(m_availableList, m_chosenList); });
    connect(m_chosenList, &QListWidget::itemDoubleClicked, this,
            [this] { moveSelected(m_chosenList, m_availableList); });
    // Drags change the chosen list's rows directly; the model follows whatever they did.
    QAbstractItemModel* chosenRows = m_chosenList->model();
    const auto sync = &KOExporterPanelViewController::syncKeysFromChosenList;
    connect(chosenRows, &QAbstractItemModel::rowsInserted, this, sync);
    connect(chosenRows, &QAbstractItemModel::rowsRemoved, this, sync);
    connect(chosenRows, &QAbstractItemModel::rowsMoved, this, sync);
    connect(chosenRows, &QAbstractItemModel::dataChanged, this, sync);
    connect(m_availableList, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showStyleMenu(m_availableList, at); });
    connect(m_chosenList, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showStyleMenu(m_chosenList, at); });

    connect(m_columnField, &QLineEdit::textEdited, this,
            &KOExporterPanelViewController::updateCompletions);
    // Return in the field adds the column rather than pressing the dialog's default button.
    m_columnField->installEventFilter(this);
    connect(m_completer, qOverload<const QString&>(&QCompleter::activated), this,
            [this](const QString& key) {
                m_model->setKeyObjects(m_model->keyObjects() << key);
                fillColumnLists();
                // The completer writes the choice into the field after this: clear it later.
                QMetaObject::invokeMethod(m_columnField, &QLineEdit::clear, Qt::QueuedConnection);
            });

    connect(m_separatorPopUp, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_model->setSeparatorItem(text);
    });
    connect(m_decimalPopUp, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_model->setDecimalSeparator(text);
    });
    connect(m_rangePopUp, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_model->setExportRange(m_rangePopUp->itemData(index).toUInt());
    });

    connect(m_exportButton, &QPushButton::clicked, this, [this] {
        setInputsEnabled(false);
        if (m_model->exportWithSavePanel()) {
            m_progress->setRange(0, 0); // busy until the first count arrives
            m_progress->setVisible(true);
        } else {
            setInputsEnabled(true);
        }
    });
    connect(m_cancelButton, &QPushButton::clicked, this, &KOExporterPanelViewController::reject);
}

void KOExporterPanelViewController::beginExportSheetInWindow(QWidget* window) {
    if (window) {
        setParent(window, windowFlags() | Qt::Dialog);
        setWindowModality(Qt::WindowModal);
    }
    setAttribute(Qt::WA_DeleteOnClose);
    open();
}

void KOExporterPanelViewController::fillColumnLists() {
    m_filling = true;
    const QStringList chosen = m_model->keyObjects();
    m_chosenList->clear();
    m_chosenList->addItems(chosen);
    m_availableList->clear();
    for (const QString& header : m_model->availableHeaders()) {
        if (!chosen.contains(header))
            m_availableList->addItem(header);
    }
    m_filling = false;
}

void KOExporterPanelViewController::syncKeysFromChosenList() {
    if (!m_filling)
        m_model->setKeyObjects(itemTexts(m_chosenList));
}

void KOExporterPanelViewController::moveSelected(QListWidget* from, QListWidget* to) {
    const QList<QListWidgetItem*> selected = from->selectedItems();
    if (selected.isEmpty())
        return;
    QStringList keys = m_model->keyObjects();
    for (const QListWidgetItem* item : selected) {
        if (to == m_chosenList)
            keys.push_back(item->text());
        else
            keys.removeAll(item->text());
    }
    m_model->setKeyObjects(keys);
    fillColumnLists();
}

void KOExporterPanelViewController::updateCompletions(const QString& text) {
    QStringList offered = m_model->completionsForSubstring(text);
    const QStringList chosen = m_model->keyObjects();
    offered.removeIf([&](const QString& key) { return chosen.contains(key); });
    m_completions->setStringList(offered);
    if (!text.isEmpty() && !offered.isEmpty())
        m_completer->complete();
    else
        m_completer->popup()->hide();
}

bool KOExporterPanelViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_columnField && event->type() == QEvent::KeyPress &&
        !m_columnField->text().isEmpty()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            addColumnFromField();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void KOExporterPanelViewController::addColumnFromField() {
    updateCompletions(m_columnField->text());
    const QStringList offered = m_completions->stringList();
    if (m_columnField->text().isEmpty() || offered.isEmpty())
        return;
    m_model->setKeyObjects(m_model->keyObjects() << offered.constFirst());
    fillColumnLists();
    m_columnField->clear();
    m_completer->popup()->hide();
}

void KOExporterPanelViewController::showStyleMenu(QListWidget* list, const QPoint& position) {
    const QListWidgetItem* item = list->itemAt(position);
    if (!item)
        return;
    std::unique_ptr<QMenu> menu(menuForRepresentedObject(item->text(), this));
    if (menu)
        menu->exec(list->viewport()->mapToGlobal(position));
}

QMenu* KOExporterPanelViewController::menuForRepresentedObject(const QString& key,
                                                               QWidget* parent) {
    if (!m_model->hasMenuForRepresentedObject(key))
        return nullptr;
    const ExporterPanelModel::StyleMenu styles = m_model->styleMenuForKey(key);
    auto* menu = new QMenu(parent);
    const auto addSubmenu = [&](const QString& title, std::uint32_t tag,
                                const std::vector<ExporterPanelModel::StyleItem>& items) {
        QMenu* submenu = menu->addMenu(title);
        submenu->menuAction()->setData(tag);
        for (const ExporterPanelModel::StyleItem& style : items) {
            QAction* action = submenu->addAction(style.title.isEmpty() ? tr("None") : style.title);
            action->setCheckable(true);
            action->setChecked(style.checked);
            action->setData(static_cast<int>(style.style));
            action->setProperty(kKeyProperty, key);
            connect(action, &QAction::triggered, this,
                    [this, action] { changeDateFormatterStyle(action); });
        }
    };
    addSubmenu(ExporterPanelModel::kDateMenuTitle, ExporterPanelModel::kDateMenuTag,
               styles.dateItems);
    addSubmenu(ExporterPanelModel::kTimeMenuTitle, ExporterPanelModel::kTimeMenuTag,
               styles.timeItems);
    return menu;
}

void KOExporterPanelViewController::changeDateFormatterStyle(QAction* item) {
    const auto* submenu = item ? qobject_cast<QMenu*>(item->parent()) : nullptr;
    if (!submenu)
        return;
    m_model->changeDateFormatterStyle(item->property(kKeyProperty).toString(),
                                      submenu->menuAction()->data().toUInt(),
                                      static_cast<DateValueFormatter::Style>(item->data().toInt()));
}

void KOExporterPanelViewController::refreshFromModel() {
    const QSignalBlocker separatorBlocker(m_separatorPopUp);
    const QSignalBlocker decimalBlocker(m_decimalPopUp);
    const QSignalBlocker rangeBlocker(m_rangePopUp);
    m_separatorPopUp->setCurrentText(m_model->separatorItem());
    m_decimalPopUp->setCurrentText(m_model->decimalSeparator());
    if (m_model->showExportRanges())
        m_rangePopUp->setCurrentIndex(m_rangePopUp->findData(m_model->exportRange()));
    m_preview->setPlainText(m_model->previewString());
}

void KOExporterPanelViewController::setInputsEnabled(bool enabled) {
    for (QWidget* input : std::initializer_list<QWidget*>{
             m_availableList, m_chosenList, m_addButton, m_removeButton, m_columnField,
             m_separatorPopUp, m_decimalPopUp, m_rangePopUp, m_exportButton, m_cancelButton})
        input->setEnabled(enabled);
}

void KOExporterPanelViewController::exportProgressed(quint64 rows, quint64 total) {
    if (total == 0)
        return;
    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(static_cast<int>(std::min<quint64>(rows, total) * kProgressSteps / total));
}

void KOExporterPanelViewController::exportEnded(bool succeeded) {
    setInputsEnabled(true);
    if (succeeded) {
        accept();
        return;
    }
    // The alert has said why; the choices stay for another place or another try.
    m_progress->setVisible(false);
}

void KOExporterPanelViewController::reject() {
    // The dialog stays until the file is written, so the progress stays in view.
    if (!m_model->isExporting())
        QDialog::reject();
}
